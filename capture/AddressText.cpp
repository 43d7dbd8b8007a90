#include "capture/AddressText.h"

namespace {

// The two lower-case hexadecimal digits of every byte value, the first lowest.
struct THexByteTexts {
  std::uint16_t Packed[256];
  constexpr THexByteTexts() : Packed() {
    constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned value = 0; value < 256; ++value)
      Packed[value] = static_cast<std::uint16_t>(static_cast<unsigned char>(kDigits[value >> 4]) |
                                                 kDigits[value & 0xF] << 8);
  }
};
constexpr THexByteTexts kHexByteTexts;

}  // namespace

void AssignIpv6Text(TIpText& out, const std::uint8_t* address) {
  unsigned groups[8];
  unsigned zeros = 0;  // bit i: group i is zero
  for (unsigned i = 0; i < 8; ++i) {
    groups[i] = unsigned{address[2 * i]} << 8 | address[2 * i + 1];
    zeros |= unsigned{groups[i] == 0} << i;
  }

  if ((zeros & 0x1F) == 0x1F && groups[5] == 0xFFFF) {
    out.WriteInPlace([address](char* text) {
      std::memcpy(text, "::ffff:", 7);
      std::array<char, 16> quad;
      const std::size_t length = DottedQuad(address + 12, quad);
      std::memcpy(text + 7, quad.data(), quad.size());
      return 7 + length;
    });
    return;
  }

  // The first of the longest runs of two or more zero groups. After each step, bit i of `runs`
  // tells that the `length` groups from i on are all zero.
  unsigned run_start = 8, run_length = 0;
  for (unsigned runs = zeros & zeros >> 1, length = 2; runs != 0; runs &= runs >> 1, ++length) {
    run_start = static_cast<unsigned>(std::countr_zero(runs));
    run_length = length;
  }

  // Written in place, every group followed by a colon; the run adds the second colon of "::",
  // or both when it opens the address; the last group's colon is dropped. No store reaches past
  // the room: a group's four-byte store starts at 35 at the latest, and its colon lands at 39
  // at the latest, where the length goes.
  out.WriteInPlace([&](char* text) {
    std::size_t at = 0;
    for (unsigned i = 0; i < 8;) {
      if (i == run_start) {
        text[at++] = ':';
        if (i == 0) text[at++] = ':';
        i += run_length;
        continue;
      }
      const unsigned group = groups[i++];
      const std::uint32_t digits_of_four = kHexByteTexts.Packed[group >> 8] |
                                           std::uint32_t{kHexByteTexts.Packed[group & 0xFF]} << 16;
      const unsigned digits = 1 + (group > 0xF) + (group > 0xFF) + (group > 0xFFF);
      // Leading zeros are the lowest bytes, first in memory.
      const std::uint32_t shown = digits_of_four >> (8 * (4 - digits));
      std::memcpy(text + at, &shown, sizeof shown);
      text[at + digits] = ':';
      at += digits + 1;
    }
    return run_length != 0 && run_start + run_length == 8 ? at : at - 1;
  });
}
