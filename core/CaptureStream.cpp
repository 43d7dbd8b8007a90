#include "core/CaptureStream.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

enum TFrameKind : std::uint8_t { kHello = 1, kStep = 2, kDatagram = 3, kDropped = 4, kEnd = 5 };

constexpr char kMagic[4] = {'Q', 'V', 'C', 'S'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeader = 4;
constexpr std::size_t kHelloSize = 6;
constexpr std::size_t kStepFixed = 6;  // step, flags, 32-bit code
constexpr std::size_t kMaxStepText = 4096;
constexpr std::uint8_t kStepFailed = 1;
constexpr std::uint8_t kStepMissingRights = 2;

// Every datagram passes through these twice: on little-endian hosts they are plain moves.
template <std::size_t Bytes>
void PutLe(std::uint8_t* out, std::uint64_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &value, Bytes);
  } else {
    for (std::size_t i = 0; i < Bytes; ++i)
      out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

template <std::size_t Bytes>
std::uint64_t GetLe(const std::uint8_t* in) {
  std::uint64_t value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, in, Bytes);
  } else {
    for (std::size_t i = Bytes; i-- > 0;)
      value = value << 8 | in[i];
  }
  return value;
}

struct TFrameHeader {
  std::uint8_t Kind;
  std::size_t Length;  // of the payload
  bool Whole;          // the payload is all there
};

// The header of the frame at `offset`, once its four bytes are there.
std::optional<TFrameHeader> HeaderAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < kHeader) return std::nullopt;
  const auto header = static_cast<std::uint32_t>(GetLe<kHeader>(bytes.data() + offset));
  const std::size_t length = header & 0xFFFFFFu;
  return TFrameHeader{static_cast<std::uint8_t>(header >> 24), length,
                      bytes.size() - offset - kHeader >= length};
}

}  // namespace

std::uint8_t* TCaptureStreamWriter::Frame(std::uint8_t kind, std::size_t payload) {
  const std::size_t at = FSize;
  const std::size_t size = at + kHeader + payload;
  if (size > FCapacity) {
    const std::size_t capacity = std::max(size, 2 * FCapacity);
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (at != 0) std::memcpy(grown.get(), FBuffer.get(), at);
    FBuffer = std::move(grown);
    FCapacity = capacity;
  }
  FSize = size;
  PutLe<kHeader>(FBuffer.get() + at, std::uint64_t{kind} << 24 | payload);
  return FBuffer.get() + at + kHeader;
}

void TCaptureStreamWriter::Hello() {
  std::uint8_t* out = Frame(kHello, kHelloSize);
  std::memcpy(out, kMagic, sizeof kMagic);
  PutLe<2>(out + 4, kVersion);
}

void TCaptureStreamWriter::Step(TCaptureStep step, const TCaptureError* error) {
  const std::string_view text =
      error ? std::string_view(error->Text).substr(0, kMaxStepText) : std::string_view();
  std::uint8_t* out = Frame(kStep, kStepFixed + text.size());
  out[0] = static_cast<std::uint8_t>(step);
  out[1] = error ? static_cast<std::uint8_t>(kStepFailed |
                                             (error->MissingRights ? kStepMissingRights : 0))
                 : 0;
  PutLe<4>(out + 2, static_cast<std::uint32_t>(error ? error->Code : 0));
  std::copy(text.begin(), text.end(), out + kStepFixed);
}

void TCaptureStreamWriter::Datagram(std::int64_t unix_microseconds,
                                    std::span<const std::uint8_t> bytes) {
  bytes = bytes.first(std::min(bytes.size(), kMaxPayload - 8));
  std::uint8_t* out = Frame(kDatagram, 8 + bytes.size());
  PutLe<8>(out, static_cast<std::uint64_t>(unix_microseconds));
  if (!bytes.empty()) std::memcpy(out + 8, bytes.data(), bytes.size());
}

void TCaptureStreamWriter::Dropped(std::uint64_t count) {
  if (count != 0) PutLe<8>(Frame(kDropped, 8), count);
}

void TCaptureStreamWriter::End() {
  Frame(kEnd, 0);
}

void TCaptureStreamReader::TakeDatagrams(std::span<const std::uint8_t> bytes, std::size_t& offset,
                                         std::vector<TReceived>& out, std::size_t max) const {
  if (FState != TState::Receiving) return;
  while (out.size() < max) {
    const std::optional<TFrameHeader> header = HeaderAt(bytes, offset);
    // Anything unusual, a fault included, is Next's to judge.
    if (!header || header->Kind != kDatagram || header->Length < 8 ||
        header->Length > TCaptureStreamWriter::kMaxPayload || !header->Whole)
      return;
    const std::uint8_t* payload = bytes.data() + offset + kHeader;
    out.push_back({std::span(payload + 8, header->Length - 8),
                   static_cast<std::int64_t>(GetLe<8>(payload)), 0});
    offset += kHeader + header->Length;
  }
}

std::optional<TCaptureStreamReader::TEvent> TCaptureStreamReader::Next(
    std::span<const std::uint8_t> bytes, std::size_t& offset) {
  for (;;) {
    const std::optional<TFrameHeader> header = HeaderAt(bytes, offset);
    if (!header) return std::nullopt;
    const std::uint8_t kind = header->Kind;
    const std::size_t length = header->Length;
    if (FState == TState::Ended) throw ECaptureStreamError("data after the end of the capture");
    if ((FState == TState::Hello) != (kind == kHello)) throw ECaptureStreamError("no greeting");
    if (length > TCaptureStreamWriter::kMaxPayload) throw ECaptureStreamError("oversized frame");
    if (!header->Whole) return std::nullopt;
    const std::uint8_t* payload = bytes.data() + offset + kHeader;
    offset += kHeader + length;

    if (kind == kHello) {
      if (length != kHelloSize || std::memcmp(payload, kMagic, sizeof kMagic) != 0 ||
          GetLe<2>(payload + 4) != kVersion)
        throw ECaptureStreamError("unknown greeting");
      FState = TState::Steps;
      continue;
    }
    TEvent event;
    switch (kind) {
      case kStep: {
        if (length < kStepFixed || length > kStepFixed + kMaxStepText ||
            payload[1] > (kStepFailed | kStepMissingRights))
          throw ECaptureStreamError("malformed step");
        event.Kind = TKind::Step;
        event.Step = static_cast<TCaptureStep>(payload[0]);
        event.Failed = (payload[1] & kStepFailed) != 0;
        const bool in_order = FState == TState::Steps
                                  ? payload[0] == FNextStep
                                  : FState == TState::Receiving &&
                                        event.Step == TCaptureStep::Receive && event.Failed;
        if (!in_order || (!event.Failed && payload[1] != 0))
          throw ECaptureStreamError("step out of order");
        if (event.Failed) {
          event.ErrorCode = static_cast<std::int32_t>(GetLe<4>(payload + 2));
          event.ErrorText = std::string_view(reinterpret_cast<const char*>(payload + kStepFixed),
                                             length - kStepFixed);
          event.MissingRights = (payload[1] & kStepMissingRights) != 0;
          FState = TState::Closing;
        } else if (++FNextStep > static_cast<int>(TCaptureStep::ReceiveAll)) {
          FState = TState::Receiving;
        }
        return event;
      }
      case kDatagram:
        if (FState != TState::Receiving || length < 8)
          throw ECaptureStreamError("misplaced datagram");
        event.Kind = TKind::Datagram;
        event.UnixMicroseconds = static_cast<std::int64_t>(GetLe<8>(payload));
        event.Bytes = std::span(payload + 8, length - 8);
        return event;
      case kDropped:
        if (FState != TState::Receiving || length != 8)
          throw ECaptureStreamError("misplaced drop report");
        event.Kind = TKind::Dropped;
        event.Dropped = GetLe<8>(payload);
        if (event.Dropped == 0) throw ECaptureStreamError("empty drop report");
        return event;
      case kEnd:
        if (length != 0) throw ECaptureStreamError("malformed end");
        FState = TState::Ended;
        event.Kind = TKind::End;
        return event;
      default:
        throw ECaptureStreamError("unknown frame");
    }
  }
}

std::array<std::uint8_t, kStopMessageBytes> StopMessage(std::int64_t unix_microseconds) {
  std::array<std::uint8_t, kStopMessageBytes> message;
  PutLe<kStopMessageBytes>(message.data(), static_cast<std::uint64_t>(unix_microseconds));
  return message;
}

std::optional<std::int64_t> ReadStopMessage(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kStopMessageBytes) return std::nullopt;
  return static_cast<std::int64_t>(GetLe<kStopMessageBytes>(bytes.data()));
}
