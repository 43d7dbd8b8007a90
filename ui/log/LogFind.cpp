#include "ui/log/LogFind.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ui/log/Unicode.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr unsigned kLinesBetweenClockReads = 1024;

// Where the first byte equal to one of the N `anchors` lies at or after `from`, or npos:
// sixteen bytes at a time where the processor has SSE2 (every x86-64), since neither memchr
// nor a byte loop is as quick on every C library this builds with.
template <std::size_t N>
std::size_t FindAny(std::string_view text, std::size_t from, const unsigned char* anchors) {
  const char* bytes = text.data();
  std::size_t at = from;
#ifdef __SSE2__
  __m128i wanted[N];
  for (std::size_t i = 0; i < N; ++i)
    wanted[i] = _mm_set1_epi8(static_cast<char>(anchors[i]));
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    __m128i equal = _mm_cmpeq_epi8(block, wanted[0]);
    for (std::size_t i = 1; i < N; ++i)
      equal = _mm_or_si128(equal, _mm_cmpeq_epi8(block, wanted[i]));
    if (const int mask = _mm_movemask_epi8(equal))
      return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(bytes[at]);
    for (std::size_t i = 0; i < N; ++i)
      if (c == anchors[i]) return at;
  }
  return std::string_view::npos;
}

std::size_t FindAnchor(std::string_view text, std::size_t from, const unsigned char* anchors,
                       std::size_t count) {
  switch (count) {
    case 1:
      return FindAny<1>(text, from, anchors);
    case 2:
      return FindAny<2>(text, from, anchors);
    case 3:
      return FindAny<3>(text, from, anchors);
    case 4:
      return FindAny<4>(text, from, anchors);
    case 5:
      return FindAny<5>(text, from, anchors);
    default:
      return FindAny<6>(text, from, anchors);
  }
}

// The characters of a UTF-16 text; a lone surrogate, which no line holds, as itself.
std::u32string CodePoints(std::u16string_view text) {
  std::u32string codes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      codes.push_back(0x10000 + ((char32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      codes.push_back(c);
    }
  }
  return codes;
}

}  // namespace

TLogFinder::TLogFinder(const TLogText& text, const TCodePage& code_page)
    : FText(text), FCodePage(code_page) {}

void TLogFinder::SetNeedle(std::u16string_view needle, bool match_case) {
  FNeedle = needle;
  FMatchCase = match_case;
  FUnits.clear();
  bool possible = true;
  const auto add = [](TUnit& unit, std::string_view bytes) {
    if (unit.Count == kMostVariants || bytes.size() > 4) return;
    TUnit::TVariant& variant = unit.Variants[unit.Count++];
    std::copy(bytes.begin(), bytes.end(), variant.Bytes);
    variant.Length = static_cast<std::uint8_t>(bytes.size());
  };
  const std::u32string codes = CodePoints(needle);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const char32_t c = codes[i];
    TUnit& unit = FUnits.emplace_back();
    // The one case folding of German that changes a text's length: ß folds to "ss", so that
    // "strasse" finds "Straße" and "Straße" finds "STRASSE".
    const auto is_s = [](char32_t s) { return s == U's' || s == U'S'; };
    const bool double_s = i + 1 < codes.size() && is_s(c) && is_s(codes[i + 1]);
    if (!match_case && (double_s || c == U'\u00DF' || c == U'\u1E9E')) {
      if (double_s) ++i;
      for (const char* pair : {"ss", "sS", "Ss", "SS"})
        add(unit, pair);
      if (FCodePage.IsUtf8()) {
        add(unit, "\xC3\x9F");
        add(unit, "\xE1\xBA\x9E");
      } else if (const auto sharp = FCodePage.ByteOf(u'\u00DF')) {
        add(unit, std::string(1, static_cast<char>(*sharp)));
      }
      continue;
    }
    if (FCodePage.IsUtf8()) {
      possible = possible && !(c >= 0xD800 && c < 0xE000);
      for (const char32_t variant : match_case ? std::u32string(1, c) : CaseVariants(c)) {
        std::string bytes;
        AppendUtf8(bytes, variant);
        add(unit, bytes);
      }
      continue;
    }
    const std::optional<unsigned char> byte =
        c < 0x10000 ? FCodePage.ByteOf(static_cast<char16_t>(c)) : std::nullopt;
    possible = possible && byte;
    if (!byte) continue;
    add(unit, std::string(1, static_cast<char>(*byte)));
    for (unsigned other = 0; other < 256 && !match_case; ++other) {
      if (other != *byte &&
          FCodePage.Folded(static_cast<unsigned char>(other)) == FCodePage.Folded(*byte))
        add(unit, std::string(1, static_cast<char>(other)));
    }
  }
  if (!possible) FUnits.clear();  // it finds nothing
  FShortest = 0;
  for (const TUnit& unit : FUnits) {
    std::size_t shortest = 4;
    for (std::size_t i = 0; i < unit.Count; ++i)
      shortest = std::min<std::size_t>(shortest, unit.Variants[i].Length);
    FShortest += shortest;
  }
  ChooseAnchor();
  FSearching = false;
  FFound.reset();
  FBlockCounts.clear();
  FCountedLines = 0;
  FTailCount = 0;
}

// The character whose last bytes are the rarest in a sample of the newest lines: most lines
// then hold none of them, and are passed over at the speed of the byte scan.
void TLogFinder::ChooseAnchor() {
  FAnchorUnit = 0;
  FAnchorCount = 0;
  if (FUnits.empty()) return;
  std::uint64_t seen[256] = {};
  std::size_t sampled = 0;
  for (std::uint64_t line = FText.LineCount(); line > 0 && sampled < 65536;) {
    const std::string_view bytes = Line(--line);
    for (const char c : bytes)
      ++seen[static_cast<unsigned char>(c)];
    sampled += bytes.size() + 1;
  }
  std::uint64_t rarest = UINT64_MAX;
  for (std::size_t u = 0; u < FUnits.size(); ++u) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < FUnits[u].Count; ++i) {
      const TUnit::TVariant& variant = FUnits[u].Variants[i];
      count += seen[static_cast<unsigned char>(variant.Bytes[variant.Length - 1])];
    }
    if (count < rarest) rarest = count, FAnchorUnit = u;
  }
  const TUnit& anchor = FUnits[FAnchorUnit];
  for (std::size_t i = 0; i < anchor.Count; ++i) {
    const auto last =
        static_cast<unsigned char>(anchor.Variants[i].Bytes[anchor.Variants[i].Length - 1]);
    if (std::find(FAnchors, FAnchors + FAnchorCount, last) == FAnchors + FAnchorCount)
      FAnchors[FAnchorCount++] = last;
  }
}

bool TLogFinder::TUnit::EndsAt(std::string_view line, std::size_t end, std::size_t& start) const {
  for (std::size_t i = 0; i < Count; ++i) {
    const TVariant& variant = Variants[i];
    if (variant.Length > end) continue;
    const char* at = line.data() + end - variant.Length;
    std::size_t k = 0;
    while (k < variant.Length && at[k] == variant.Bytes[k])
      ++k;
    if (k == variant.Length) {
      start = end - variant.Length;
      return true;
    }
  }
  return false;
}

bool TLogFinder::TUnit::StartsAt(std::string_view line, std::size_t at, std::size_t& end) const {
  for (std::size_t i = 0; i < Count; ++i) {
    const TVariant& variant = Variants[i];
    if (line.size() - at < variant.Length) continue;
    const char* bytes = line.data() + at;
    std::size_t k = 0;
    while (k < variant.Length && bytes[k] == variant.Bytes[k])
      ++k;
    if (k == variant.Length) {
      end = at + variant.Length;
      return true;
    }
  }
  return false;
}

// Found by its anchor character's last byte, a match is read from there both ways. In UTF-8
// text every sequence that matches is whole characters, so that each anchor found gives at most
// one match and later anchors give later matches: the first that starts at `from` or after is
// the leftmost.
std::size_t TLogFinder::Find(std::string_view line, std::size_t from, std::size_t& end) const {
  if (FUnits.empty() || line.size() < FShortest || from > line.size() - FShortest)
    return std::string_view::npos;
  const TUnit& anchor = FUnits[FAnchorUnit];
  for (std::size_t at = from;; ++at) {
    at = FindAnchor(line, at, FAnchors, FAnchorCount);
    if (at == std::string_view::npos) return at;
    std::size_t start = 0;
    if (!anchor.EndsAt(line, at + 1, start)) continue;
    bool matched = true;
    for (std::size_t unit = FAnchorUnit; matched && unit-- > 0;)
      matched = FUnits[unit].EndsAt(line, start, start);
    if (!matched || start < from) continue;
    std::size_t after = at + 1;
    for (std::size_t unit = FAnchorUnit + 1; matched && unit < FUnits.size(); ++unit)
      matched = FUnits[unit].StartsAt(line, after, after);
    if (!matched) continue;
    end = after;
    return start;
  }
}

std::size_t TLogFinder::Count(std::string_view line) const {
  std::size_t count = 0;
  ForEachMatch(line, [&count](std::size_t, std::size_t) { ++count; });
  return count;
}

std::string_view TLogFinder::Line(std::uint64_t line) const {
  return FText.Line(line, FScratch);
}

void TLogFinder::StartSearch(TMatch from, bool forward) {
  FForward = forward;
  FFound.reset();
  FWrapped = false;
  const std::uint64_t lines = FText.LineCount();
  FSearching = lines > 0 && !FNeedle.empty();
  if (!FSearching) return;
  if (FUnits.empty()) {  // nothing can match: done at once
    FSearching = false;
    return;
  }
  if (from.Line >= lines) from = {lines - 1, std::string_view::npos};
  FFrom = from;
  FLine = from.Line;
  FVisits = 0;
}

// The line searched from is searched twice: first from the place on, at last, after the way
// round, before it.
TLogFinder::TProgress TLogFinder::ContinueSearch(std::chrono::nanoseconds budget) {
  const auto until = TClock::now() + budget;
  for (unsigned done = 0; FSearching; ++done) {
    if (done % kLinesBetweenClockReads == kLinesBetweenClockReads - 1 && TClock::now() >= until)
      return TProgress::More;
    const std::uint64_t lines = FText.LineCount();
    const std::string_view bytes = Line(FLine);
    const bool first_visit = FVisits == 0;
    const bool last_visit = !first_visit && FWrapped && FLine == FFrom.Line;
    std::size_t from_column = 0, to_column = std::string_view::npos;
    if (first_visit) (FForward ? from_column : to_column) = FFrom.Column;
    if (last_visit) (FForward ? to_column : from_column) = FFrom.Column;
    std::optional<std::size_t> hit;
    std::size_t hit_end = 0;
    if (FForward) {
      std::size_t end = 0;
      const std::size_t at = Find(bytes, std::min(from_column, bytes.size()), end);
      if (at != std::string_view::npos && at < to_column) hit = at, hit_end = end;
    } else {
      ForEachMatch(bytes, [&](std::size_t at, std::size_t end) {
        if (at >= from_column && at < to_column) hit = at, hit_end = end;
      });
    }
    if (hit) FFound = TMatch{FLine, *hit}, FFoundEnd = hit_end;
    if (hit || last_visit || ++FVisits > lines + 1) break;
    if (FForward) {
      if (++FLine >= lines) FLine = 0, FWrapped = true;
    } else {
      if (FLine-- == 0) FLine = lines - 1, FWrapped = true;
    }
  }
  FSearching = false;
  return TProgress::Done;
}

TLogFinder::TProgress TLogFinder::ContinueCount(std::chrono::nanoseconds budget) {
  if (FNeedle.empty()) return TProgress::Done;
  const auto until = TClock::now() + budget;
  for (unsigned done = 0; FCountedLines < FText.LineCount(); ++done) {
    if (done % kLinesBetweenClockReads == kLinesBetweenClockReads - 1 && TClock::now() >= until)
      return TProgress::More;
    FTailCount += Count(Line(FCountedLines));
    if (++FCountedLines % kBlock == 0) {
      const std::uint64_t before = FBlockCounts.empty() ? 0 : FBlockCounts.back();
      FBlockCounts.push_back(before + FTailCount);  // running totals
      FTailCount = 0;
    }
  }
  return TProgress::Done;
}

std::uint64_t TLogFinder::Total() const {
  return (FBlockCounts.empty() ? 0 : FBlockCounts.back()) + FTailCount;
}

std::uint64_t TLogFinder::Ordinal(TMatch match) const {
  const std::uint64_t block = match.Line / kBlock;
  if (block > FBlockCounts.size() || match.Line >= FText.LineCount()) return 0;
  std::uint64_t before = block == 0 ? 0 : FBlockCounts[block - 1];
  for (std::uint64_t line = block * kBlock; line < match.Line; ++line)
    before += Count(Line(line));
  ForEachMatch(Line(match.Line),
               [&](std::size_t at, std::size_t) { before += at < match.Column; });
  return before + 1;
}
