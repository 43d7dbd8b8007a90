// The stream from the capture helper to the window: every kind of frame survives the round
// trip, and a stream the helper would never write is refused with a reason, never misread.
#include <gtest/gtest.h>

#include "capture/CaptureStream.h"

namespace {

using TKind = TCaptureStreamReader::TKind;

std::vector<TCaptureStreamReader::TEvent> ReadAll(std::span<const std::uint8_t> bytes,
                                                  std::size_t* consumed = nullptr) {
  TCaptureStreamReader reader;
  std::vector<TCaptureStreamReader::TEvent> events;
  std::size_t offset = 0;
  while (auto event = reader.Next(bytes, offset))
    events.push_back(*event);
  if (consumed) *consumed = offset;
  return events;
}

TCaptureStreamWriter WholeCapture() {
  TCaptureStreamWriter out;
  out.Hello();
  out.Step(TCaptureStep::Open);
  out.Step(TCaptureStep::Bind);
  out.Step(TCaptureStep::ReceiveAll);
  const std::uint8_t datagram[] = {0x45, 0, 0, 20, 1, 2, 3};
  out.Datagram(1'796'616'631'250'123, datagram);
  out.Dropped(318'320);
  out.Datagram(-1, {});
  const TCaptureError error{5, "The interface disappeared", false};
  out.Step(TCaptureStep::Receive, &error);
  out.End();
  return out;
}

TEST(CaptureStream, EveryKindOfFrameRoundTrips) {
  const TCaptureStreamWriter out = WholeCapture();
  std::size_t consumed = 0;
  const auto events = ReadAll(out.Bytes(), &consumed);
  EXPECT_EQ(consumed, out.Size());
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[0].Kind, TKind::Step);
  EXPECT_EQ(events[2].Step, TCaptureStep::ReceiveAll);
  EXPECT_FALSE(events[2].Failed);
  EXPECT_EQ(events[3].Kind, TKind::Datagram);
  EXPECT_EQ(events[3].UnixMicroseconds, 1'796'616'631'250'123);
  EXPECT_EQ(std::vector<std::uint8_t>(events[3].Bytes.begin(), events[3].Bytes.end()),
            (std::vector<std::uint8_t>{0x45, 0, 0, 20, 1, 2, 3}));
  EXPECT_EQ(events[4].Kind, TKind::Dropped);
  EXPECT_EQ(events[4].Dropped, 318'320u);
  EXPECT_EQ(events[5].UnixMicroseconds, -1);
  EXPECT_TRUE(events[5].Bytes.empty());
  EXPECT_TRUE(events[6].Failed);
  EXPECT_EQ(events[6].Step, TCaptureStep::Receive);
  EXPECT_EQ(events[6].ErrorCode, 5);
  EXPECT_EQ(events[6].ErrorText, "The interface disappeared");
  EXPECT_EQ(events[7].Kind, TKind::End);
}

TEST(CaptureStream, AFailedSetUpStepKeepsItsError) {
  TCaptureStreamWriter out;
  out.Hello();
  const TCaptureError error{13, "Permission denied", true};
  out.Step(TCaptureStep::Open, &error);
  out.End();
  const auto events = ReadAll(out.Bytes());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].Failed);
  EXPECT_TRUE(events[0].MissingRights);
  EXPECT_EQ(events[0].ErrorText, "Permission denied");
}

// Read a byte at a time, a stream gives the same events: nothing is read before it is whole.
TEST(CaptureStream, PartialFramesWait) {
  const TCaptureStreamWriter out = WholeCapture();
  TCaptureStreamReader reader;
  std::size_t offset = 0, events = 0;
  for (std::size_t available = 0; available <= out.Size(); ++available) {
    while (reader.Next(out.Bytes().first(available), offset))
      ++events;
  }
  EXPECT_EQ(events, 8u);
}

struct TCorruption {
  const char* Name;
  std::size_t At;
  std::uint8_t Value;
};

TEST(CaptureStream, CorruptedStreamsAreRefused) {
  const TCaptureStreamWriter whole = WholeCapture();
  const TCorruption cases[] = {
      {"greeting kind", 3, 0x03},
      {"magic", 4, 'X'},
      {"version", 8, 9},
      {"step order", 14, 3},
      {"step flags", 15, 0x80},
      {"frame kind", 13, 0x77},
      {"oversized length", 12, 0xFF},
      {"datagram before set-up", 13, 0x03},
  };
  for (const TCorruption& c : cases) {
    std::vector<std::uint8_t> bytes(whole.Bytes().begin(), whole.Bytes().end());
    bytes[c.At] = c.Value;
    EXPECT_THROW(ReadAll(bytes), ECaptureStreamError) << c.Name;
  }
  std::vector<std::uint8_t> after_end(whole.Bytes().begin(), whole.Bytes().end());
  after_end.insert(after_end.end(), {0, 0, 0, 5});
  EXPECT_THROW(ReadAll(after_end), ECaptureStreamError) << "data after the end";
}

}  // namespace
