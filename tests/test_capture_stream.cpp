// The stream from the capture helper to the window: every kind of frame survives the round
// trip, and a stream the helper would never write is refused with a reason, never misread.
#include <gtest/gtest.h>

#include <tuple>

#include "core/CaptureStream.h"

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
  const TCaptureError error{TCaptureStep::Receive, 5, "The interface disappeared", false};
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
  const TCaptureError error{TCaptureStep::Open, 13, "Permission denied", true};
  out.Step(TCaptureStep::Open, &error);
  out.End();
  const auto events = ReadAll(out.Bytes());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].Failed);
  EXPECT_TRUE(events[0].MissingRights);
  EXPECT_EQ(events[0].ErrorText, "Permission denied");
}

using TSummary = std::vector<std::tuple<TKind, std::int64_t, std::size_t, std::uint64_t>>;

void Summarize(TSummary& summary, const TCaptureStreamReader::TEvent& event) {
  summary.emplace_back(event.Kind, event.UnixMicroseconds, event.Bytes.size(), event.Dropped);
}

// As the window reads: whole datagrams in bulk, at most `max` at a time, and every other frame
// as an event; `piece` bytes become readable at a time.
TSummary ReadAsTheWindow(std::span<const std::uint8_t> bytes, std::size_t piece, std::size_t max) {
  TCaptureStreamReader reader;
  TSummary summary;
  std::size_t offset = 0;
  std::vector<TReceived> datagrams;
  for (std::size_t available = 0; available < bytes.size() + piece; available += piece) {
    const auto visible = bytes.first(std::min(available, bytes.size()));
    for (;;) {
      datagrams.clear();
      reader.TakeDatagrams(visible, offset, datagrams, max);
      for (const TReceived& d : datagrams) {
        EXPECT_LE(d.Datagram.data() + d.Datagram.size(), visible.data() + visible.size());
        summary.emplace_back(TKind::Datagram, d.UnixMicroseconds, d.Datagram.size(), 0);
      }
      if (datagrams.size() == max) continue;
      const auto event = reader.Next(visible, offset);
      if (!event) break;
      Summarize(summary, *event);
    }
  }
  return summary;
}

// Read in pieces, in bulk or not, a stream gives the same events: nothing is read before it
// is whole.
TEST(CaptureStream, PiecesAndBulkReadingGiveTheSameEvents) {
  TCaptureStreamWriter out;
  out.Hello();
  out.Step(TCaptureStep::Open);
  out.Step(TCaptureStep::Bind);
  out.Step(TCaptureStep::ReceiveAll);
  for (int i = 0; i < 8; ++i) {
    out.Datagram(i, std::vector<std::uint8_t>(static_cast<std::size_t>(i), 0x45));
    if (i == 2) out.Dropped(7);
  }
  const TCaptureError error{TCaptureStep::Receive, 5, "The interface disappeared", false};
  out.Step(TCaptureStep::Receive, &error);
  out.End();
  const std::span<const std::uint8_t> bytes = out.Bytes();
  TSummary expected;
  for (const auto& event : ReadAll(bytes))
    Summarize(expected, event);
  ASSERT_EQ(expected.size(), 14u);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
    for (const std::size_t max : {std::size_t{1}, std::size_t{2}, std::size_t{1000}})
      EXPECT_EQ(ReadAsTheWindow(bytes, piece, max), expected) << piece << " " << max;
  }
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
      {"datagram too short", 40, 7},
  };
  for (const TCorruption& c : cases) {
    std::vector<std::uint8_t> bytes(whole.Bytes().begin(), whole.Bytes().end());
    bytes[c.At] = c.Value;
    EXPECT_THROW(ReadAll(bytes), ECaptureStreamError) << c.Name;
    EXPECT_THROW(ReadAsTheWindow(bytes, bytes.size(), 1000), ECaptureStreamError) << c.Name;
  }
  std::vector<std::uint8_t> after_end(whole.Bytes().begin(), whole.Bytes().end());
  after_end.insert(after_end.end(), {0, 0, 0, 5});
  EXPECT_THROW(ReadAll(after_end), ECaptureStreamError) << "data after the end";
}

TEST(CaptureStream, TheStopMessage) {
  const std::int64_t at = 1'765'000'000'123'456;
  const auto message = StopMessage(at);
  EXPECT_EQ(ReadStopMessage(message), at);
  // Anything else on the helper's input is no stop time.
  EXPECT_EQ(ReadStopMessage(std::span(message).first(7)), std::nullopt);
  const std::vector<std::uint8_t> longer(9, 1);
  EXPECT_EQ(ReadStopMessage(longer), std::nullopt);
}

}  // namespace
