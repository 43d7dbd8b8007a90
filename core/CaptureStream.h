#pragma once

// The stream through which the capture helper hands its capture to the window: a sequence of
// frames, each a 32-bit little-endian header (kind in the top 8 bits, payload length in the
// low 24) and its payload. It opens with a hello frame and ends with an end frame; in
// between come the outcome of each set-up step, datagrams with the kernel's time stamp, drop
// reports where the losses lie in the stream, and at most one failed receive.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/CaptureTypes.h"

// A stream that cannot be the helper's: the reader stops at the first such fault.
class ECaptureStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCaptureStreamWriter {
 public:
  static constexpr std::size_t kMaxPayload = (std::size_t{1} << 20) - 1;

  void Hello();
  // A set-up step that passed, or any step that failed with `error`.
  void Step(TCaptureStep step, const TCaptureError* error = nullptr);
  // The datagram is cut to what a frame can carry.
  void Datagram(std::int64_t unix_microseconds, std::span<const std::uint8_t> bytes);
  void Dropped(std::uint64_t count);
  void End();

  std::span<const std::uint8_t> Bytes() const { return {FBuffer.get(), FSize}; }
  std::size_t Size() const { return FSize; }
  void Clear() { FSize = 0; }

 private:
  std::uint8_t* Frame(std::uint8_t kind, std::size_t payload);

  // Grown by hand: every byte is written once, never zeroed first.
  std::unique_ptr<std::uint8_t[]> FBuffer;
  std::size_t FSize = 0;
  std::size_t FCapacity = 0;
};

// The window's one message to the helper, on the helper's standard input before it closes it:
// the moment of the stop (microseconds since the Unix epoch), so that what the system captured
// after the click is not shown, however late the helper hears of the stop.
inline constexpr std::size_t kStopMessageBytes = 8;
std::array<std::uint8_t, kStopMessageBytes> StopMessage(std::int64_t unix_microseconds);
// The stop's moment, when `bytes` are one whole message.
std::optional<std::int64_t> ReadStopMessage(std::span<const std::uint8_t> bytes);

class TCaptureStreamReader {
 public:
  enum class TKind { Step, Datagram, Dropped, End };

  struct TEvent {
    TKind Kind = TKind::End;
    TCaptureStep Step = TCaptureStep::Open;
    bool Failed = false;
    int ErrorCode = 0;           // of a failed step
    std::string_view ErrorText;  // of a failed step, within the bytes given to Next
    bool MissingRights = false;
    std::int64_t UnixMicroseconds = 0;    // of a datagram
    std::span<const std::uint8_t> Bytes;  // of a datagram, within the bytes given to Next
    std::uint64_t Dropped = 0;
  };

  // The next event among `bytes` from `offset`, advancing `offset` past its frame; nothing
  // while its frame is not all there. Throws ECaptureStreamError on anything the helper would
  // not write, and once the stream has ended.
  std::optional<TEvent> Next(std::span<const std::uint8_t> bytes, std::size_t& offset);

  // While the frames from `offset` on are whole datagrams, appends them to `out`, up to
  // `max` entries in all, advancing `offset`; leaves any other frame to Next. Under a flood
  // almost every frame is a datagram, and this spares building an event for each.
  void TakeDatagrams(std::span<const std::uint8_t> bytes, std::size_t& offset,
                     std::vector<TReceived>& out, std::size_t max) const;

  bool Ended() const { return FState == TState::Ended; }

 private:
  enum class TState { Hello, Steps, Receiving, Closing, Ended };
  TState FState = TState::Hello;
  int FNextStep = static_cast<int>(TCaptureStep::Open);
};
