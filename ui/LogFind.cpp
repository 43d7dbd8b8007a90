#include "ui/LogFind.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ui/Unicode.h"

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
    default:
      return FindAny<4>(text, from, anchors);
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
  for (const char32_t c : CodePoints(needle)) {
    std::vector<std::string>& variants = FUnits.emplace_back();
    if (FCodePage.IsUtf8()) {
      const bool surrogate = c >= 0xD800 && c < 0xE000;
      possible = possible && !surrogate;
      for (const char32_t variant : match_case ? std::u32string(1, c) : CaseVariants(c))
        AppendUtf8(variants.emplace_back(), variant);
      continue;
    }
    const std::optional<unsigned char> byte =
        c < 0x10000 ? FCodePage.ByteOf(static_cast<char16_t>(c)) : std::nullopt;
    possible = possible && byte;
    if (!byte) continue;
    variants.emplace_back(1, static_cast<char>(*byte));
    for (unsigned other = 0; other < 256 && !match_case; ++other) {
      if (other != *byte &&
          FCodePage.Folded(static_cast<unsigned char>(other)) == FCodePage.Folded(*byte))
        variants.emplace_back(1, static_cast<char>(other));
    }
  }
  if (!possible) FUnits.clear();  // it finds nothing
  FShortest = 0;
  for (const std::vector<std::string>& variants : FUnits) {
    std::size_t shortest = variants.front().size();
    for (const std::string& variant : variants)
      shortest = std::min(shortest, variant.size());
    FShortest += shortest;
  }
  FAnchorCount = 0;
  if (!FUnits.empty()) {
    for (const std::string& variant : FUnits.front()) {
      const auto last = static_cast<unsigned char>(variant.back());
      if (std::find(FAnchors, FAnchors + FAnchorCount, last) != FAnchors + FAnchorCount) continue;
      // No character has more case variants than that.
      if (FAnchorCount < kMostAnchors) FAnchors[FAnchorCount++] = last;
    }
  }
  FSearching = false;
  FFound.reset();
  FBlockCounts.clear();
  FCountedLines = 0;
  FTailCount = 0;
}

bool TLogFinder::MatchesRest(std::string_view line, std::size_t at, std::size_t& end) const {
  for (std::size_t unit = 1; unit < FUnits.size(); ++unit) {
    bool matched = false;
    // A character's sequences are whole characters, none the start of another.
    for (const std::string& variant : FUnits[unit]) {
      if (line.size() - at >= variant.size() &&
          std::memcmp(line.data() + at, variant.data(), variant.size()) == 0) {
        at += variant.size();
        matched = true;
        break;
      }
    }
    if (!matched) return false;
  }
  end = at;
  return true;
}

// Each sequence of the first character is found by its last byte; in UTF-8 text a sequence that
// matches whole starts a character, so that the matches come left to right.
std::size_t TLogFinder::Find(std::string_view line, std::size_t from, std::size_t& end) const {
  if (FUnits.empty() || line.size() < FShortest || from > line.size() - FShortest)
    return std::string_view::npos;
  const std::vector<std::string>& first = FUnits.front();
  for (std::size_t at = from;; ++at) {
    at = FindAnchor(line, at, FAnchors, FAnchorCount);
    if (at == std::string_view::npos) return at;
    for (const std::string& variant : first) {
      if (static_cast<unsigned char>(variant.back()) != static_cast<unsigned char>(line[at]) ||
          at + 1 < from + variant.size())
        continue;
      const std::size_t begin = at + 1 - variant.size();
      if (std::memcmp(line.data() + begin, variant.data(), variant.size()) == 0 &&
          MatchesRest(line, at + 1, end))
        return begin;
    }
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
