#include "core/AddressText.h"

// SSE2, which every x86-64 processor has, works out all 32 digits of an address at once; other
// processors, and the tests of the portable way, take the groups one by one.
#if defined(__SSE2__) && !defined(QUORVEL_PORTABLE_ADDRESS_TEXT)
#define QUORVEL_ADDRESS_TEXT_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// The first of the longest runs of two or more zero groups, which "::" stands for; Length is 0
// when there is none.
struct TZeroRun {
  unsigned Start = 8;
  unsigned Length = 0;
};

// `zeros`: bit i tells that group i is zero. After each step, bit i of `runs` tells that the
// `length` groups from i on are all zero; the last step that leaves any shows the longest.
TZeroRun LongestZeroRun(unsigned zeros) {
  TZeroRun run;
  for (unsigned runs = zeros & zeros >> 1, length = 2; runs != 0; runs &= runs >> 1, ++length) {
    run.Start = static_cast<unsigned>(std::countr_zero(runs));
    run.Length = length;
  }
  return run;
}

bool IsIpv4Mapped(unsigned zeros, const std::uint8_t* address) {
  return (zeros & 0x1F) == 0x1F && address[10] == 0xFF && address[11] == 0xFF;
}

void WriteIpv4Mapped(TIpText& out, const std::uint8_t* address) {
  out.WriteInPlace([address](char* text) {
    std::memcpy(text, "::ffff:", 7);
    std::array<char, 16> quad;
    const std::size_t length = DottedQuad(address + 12, quad);
    std::memcpy(text + 7, quad.data(), quad.size());
    return 7 + length;
  });
}

// Writes the groups in place, each followed by a colon, but those of the run, which add the
// second colon of "::", or both when it opens the address; the last group's colon is dropped.
// `digits_of(i, shown)` gives group i's four digits, the first lowest, and how many of them
// are shown. No store reaches past the room: a group's four-byte store starts at 35 at the
// latest, and its colon lands at 39 at the latest, where the length goes.
template <class F>
void WriteGroups(TIpText& out, TZeroRun run, F&& digits_of) {
  out.WriteInPlace([&](char* text) {
    const unsigned run_end = run.Start + run.Length;
    std::size_t at = 0;
    // A fixed count, unrolled: the groups' digits are worked out side by side, only their
    // places depending on one another.
#pragma GCC unroll 8
    for (unsigned i = 0; i < 8; ++i) {
      if (i >= run.Start && i < run_end) {
        if (i == run.Start) {
          text[at++] = ':';
          if (i == 0) text[at++] = ':';
        }
        continue;
      }
      unsigned shown = 0;
      const std::uint32_t digits = digits_of(i, shown);
      // Leading zeros are the lowest bytes, first in memory.
      const std::uint32_t text_of_group = digits >> (8 * (4 - shown));
      std::memcpy(text + at, &text_of_group, sizeof text_of_group);
      text[at + shown] = ':';
      at += shown + 1;
    }
    return run.Length != 0 && run_end == 8 ? at : at - 1;
  });
}

#ifdef QUORVEL_ADDRESS_TEXT_SSE2

// How many digits a group shows, from which of its four digits are zero (bit 0 the first):
// not its leading zeros, but at least one.
struct TShownDigits {
  std::uint8_t Count[16];
  constexpr TShownDigits() : Count() {
    for (unsigned zeros = 0; zeros < 16; ++zeros) {
      unsigned leading = 0;
      while (leading < 3 && (zeros >> leading & 1))
        ++leading;
      Count[zeros] = static_cast<std::uint8_t>(4 - leading);
    }
  }
};
constexpr TShownDigits kShownDigits;

// Each byte of `nibbles`, 0 to 15, as a lower-case hexadecimal digit.
__m128i HexDigits(__m128i nibbles) {
  const __m128i letters = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
  return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                      _mm_and_si128(letters, _mm_set1_epi8('a' - '0' - 10)));
}

#else

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

#endif

}  // namespace

#ifdef QUORVEL_ADDRESS_TEXT_SSE2

void AssignIpv6Text(TIpText& out, const std::uint8_t* address) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(address));
  const __m128i zero = _mm_setzero_si128();
  // Bits 2i and 2i + 1 tell that group i is zero; gathered into bit i.
  unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(bytes, zero))) & 0x5555;
  zeros = (zeros | zeros >> 1) & 0x3333;
  zeros = (zeros | zeros >> 2) & 0x0F0F;
  zeros = (zeros | zeros >> 4) & 0x00FF;
  if (IsIpv4Mapped(zeros, address)) return WriteIpv4Mapped(out, address);

  // Every byte's two digits side by side, first the high one: the address's 32 digits in
  // order, group i's four at 4i.
  const __m128i low_nibbles = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibbles);
  const __m128i low = _mm_and_si128(bytes, low_nibbles);
  const __m128i first = _mm_unpacklo_epi8(high, low);
  const __m128i second = _mm_unpackhi_epi8(high, low);
  const unsigned zero_digits =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, zero))) |
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(second, zero))) << 16;
  alignas(16) char digits[32];
  _mm_store_si128(reinterpret_cast<__m128i*>(digits), HexDigits(first));
  _mm_store_si128(reinterpret_cast<__m128i*>(digits + 16), HexDigits(second));

  WriteGroups(out, LongestZeroRun(zeros), [&](unsigned i, unsigned& shown) {
    shown = kShownDigits.Count[zero_digits >> (4 * i) & 0xF];
    std::uint32_t four;
    std::memcpy(&four, digits + 4 * i, sizeof four);
    return four;
  });
}

#else

void AssignIpv6Text(TIpText& out, const std::uint8_t* address) {
  unsigned groups[8];
  unsigned zeros = 0;  // bit i: group i is zero
  for (unsigned i = 0; i < 8; ++i) {
    groups[i] = unsigned{address[2 * i]} << 8 | address[2 * i + 1];
    zeros |= unsigned{groups[i] == 0} << i;
  }
  if (IsIpv4Mapped(zeros, address)) return WriteIpv4Mapped(out, address);

  WriteGroups(out, LongestZeroRun(zeros), [&](unsigned i, unsigned& shown) {
    const unsigned group = groups[i];
    shown = 1 + (group > 0xF) + (group > 0xFF) + (group > 0xFFF);
    return kHexByteTexts.Packed[group >> 8] | std::uint32_t{kHexByteTexts.Packed[group & 0xFF]}
                                                  << 16;
  });
}

#endif
