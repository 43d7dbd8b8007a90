#pragma once

// The texts of the addresses a record holds: IPv4 in dotted decimal, IPv6 as RFC 5952 writes
// it. Both are put together in registers and stored whole: every captured segment has two.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/UnitGlobal.h"

// The decimal text of every byte value followed by a dot, packed into a word, first character
// lowest, and its length with the dot.
struct TDottedByteTexts {
  std::uint32_t Packed[256];
  std::uint8_t Length[256];
  constexpr TDottedByteTexts() : Packed(), Length() {
    for (unsigned value = 0; value < 256; ++value) {
      char text[4] = {};
      std::uint8_t n = 0;
      if (value >= 100) text[n++] = static_cast<char>('0' + value / 100);
      if (value >= 10) text[n++] = static_cast<char>('0' + value / 10 % 10);
      text[n++] = static_cast<char>('0' + value % 10);
      text[n++] = '.';
      for (unsigned i = 0; i < n; ++i)
        Packed[value] |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << 8 * i;
      Length[value] = n;
    }
  }
};
inline constexpr TDottedByteTexts kDottedByteTexts;

// The dotted decimal text of the four bytes at `address`, without leading zeros, in the first
// characters of `text`; returns its length. Bytes stored one by one and read back as words
// would stall the processor on every address.
inline std::size_t DottedQuad(const std::uint8_t* address, std::array<char, 16>& text) {
  unsigned __int128 packed = 0;
  unsigned length = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint8_t value = address[i];
    packed |= static_cast<unsigned __int128>(kDottedByteTexts.Packed[value]) << (8 * length);
    length += kDottedByteTexts.Length[value];
  }
  // The first character is the lowest byte, which is the first in memory here.
  static_assert(std::endian::native == std::endian::little);
  std::memcpy(text.data(), &packed, 16);
  return length - 1;  // without the last dot
}

// The four bytes at `address`, an IPv4 address in network order.
inline void AssignIpv4Text(TIpText& out, const std::uint8_t* address) {
  std::array<char, 16> text;
  const std::size_t length = DottedQuad(address, text);
  out.AssignPadded(text, length);
}

// The sixteen bytes at `address`, an IPv6 address in network order, in the form RFC 5952
// recommends: lower-case hexadecimal without leading zeros, the longest run of two or more
// zero groups (the first of equal ones) as "::", and an IPv4-mapped address as
// "::ffff:192.0.2.1".
void AssignIpv6Text(TIpText& out, const std::uint8_t* address);
