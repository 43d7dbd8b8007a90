#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Where the log's lines end: CR LF, a lone LF and a lone CR each end a line. The log view and
// the line composition split text by these alone, so that both see the same lines.

// Where the next CR or LF at or after `from` lies, or the end of `text`. Most lines hold none,
// so sixteen bytes (eight without SSE2) are tested at a time; neither memchr nor a byte loop is
// as quick on every C library this builds with.
inline std::size_t NextBreak(std::string_view text, std::size_t from) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  const char* bytes = text.data();
  std::size_t at = from;
#if defined(__SSE2__)
  const __m128i cr16 = _mm_set1_epi8('\r');
  const __m128i lf16 = _mm_set1_epi8('\n');
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    const int found =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr16), _mm_cmpeq_epi8(block, lf16)));
    if (found != 0)
      return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(found)));
  }
#endif
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    const std::uint64_t cr = word ^ (kOnes * '\r');
    const std::uint64_t lf = word ^ (kOnes * '\n');
    // A zero byte in either: the classic test for a zero byte in a word.
    if ((((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs) break;
  }
  for (; at < text.size(); ++at)
    if (bytes[at] == '\r' || bytes[at] == '\n') return at;
  return text.size();
}

// The length of the break that NextBreak found at `at`: 2 for CR LF, otherwise 1.
inline std::size_t BreakLength(std::string_view text, std::size_t at) {
  return text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
}
