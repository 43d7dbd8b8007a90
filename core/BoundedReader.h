#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Every read of received bytes goes through here. A read that would leave the span yields
// zero and marks the reader as overrun; callers test Overrun() before trusting what they
// read. Offsets are compared as lengths, never turned into pointers past the span.
class TBoundedReader {
 public:
  explicit TBoundedReader(std::span<const std::uint8_t> bytes) : FBytes(bytes) {}

  std::size_t Size() const { return FBytes.size(); }
  bool Holds(std::size_t offset, std::size_t count) const {
    return offset <= FBytes.size() && count <= FBytes.size() - offset;
  }
  bool Overrun() const { return FOverrun; }

  std::uint8_t U8(std::size_t offset) {
    if (!Holds(offset, 1)) return Fail();
    return FBytes[offset];
  }
  std::uint16_t BeU16(std::size_t offset) {
    if (!Holds(offset, 2)) return Fail();
    return static_cast<std::uint16_t>((FBytes[offset] << 8) | FBytes[offset + 1]);
  }
  // The count bytes at offset, or an empty span (and overrun) when they are not all there.
  std::span<const std::uint8_t> Bytes(std::size_t offset, std::size_t count) {
    if (!Holds(offset, count)) {
      FOverrun = true;
      return {};
    }
    return FBytes.subspan(offset, count);
  }

 private:
  std::uint8_t Fail() {
    FOverrun = true;
    return 0;
  }

  std::span<const std::uint8_t> FBytes;
  bool FOverrun = false;
};
