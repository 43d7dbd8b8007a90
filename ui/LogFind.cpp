#include "ui/LogFind.h"

#include <cstring>

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;
constexpr unsigned kLinesBetweenClockReads = 1024;

// Where the first byte equal to `a` or `b` lies at or after `from`, or npos: eight bytes at a
// time, as quick with any C library.
std::size_t FindEither(std::string_view text, std::size_t from, unsigned char a, unsigned char b) {
  const char* bytes = text.data();
  std::size_t at = from;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    const std::uint64_t x = word ^ (kOnes * a);
    const std::uint64_t y = word ^ (kOnes * b);
    if ((((x - kOnes) & ~x) | ((y - kOnes) & ~y)) & kHighs) break;
  }
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(bytes[at]);
    if (c == a || c == b) return at;
  }
  return std::string_view::npos;
}

}  // namespace

TLogFinder::TLogFinder(const TLogText& text, const TCodePage& code_page)
    : FText(text), FCodePage(code_page) {}

void TLogFinder::SetNeedle(std::string_view needle, bool match_case) {
  FNeedle = needle;
  FMatchCase = match_case;
  FFolded = FNeedle;
  if (!match_case) {
    for (char& c : FFolded)
      c = static_cast<char>(FCodePage.Folded(static_cast<unsigned char>(c)));
  }
  // The bytes a match may start with: the first byte in either case the code page gives it.
  if (!FFolded.empty()) {
    const auto folded = static_cast<unsigned char>(match_case ? FNeedle[0] : FFolded[0]);
    FFirst[0] = FFirst[1] = folded;
    for (unsigned byte = 0; byte < 256 && !match_case; ++byte) {
      if (byte != folded && FCodePage.Folded(static_cast<unsigned char>(byte)) == folded)
        FFirst[1] = static_cast<unsigned char>(byte);
    }
  }
  FSearching = false;
  FFound.reset();
  FBlockCounts.clear();
  FCountedLines = 0;
  FTailCount = 0;
}

std::size_t TLogFinder::Find(std::string_view line, std::size_t from) const {
  const std::size_t length = FNeedle.size();
  if (length == 0 || line.size() < length) return std::string_view::npos;
  const std::size_t last = line.size() - length;
  const std::string_view starts = line.substr(0, last + 1);
  if (FMatchCase) {
    for (std::size_t at = from; at <= last; ++at) {
      at = FindEither(starts, at, FFirst[0], FFirst[1]);
      if (at == std::string_view::npos) break;
      if (std::memcmp(line.data() + at + 1, FNeedle.data() + 1, length - 1) == 0) return at;
    }
    return std::string_view::npos;
  }
  for (std::size_t at = from; at <= last; ++at) {
    at = FindEither(starts, at, FFirst[0], FFirst[1]);
    if (at == std::string_view::npos) break;
    std::size_t k = 1;
    while (k < length && FCodePage.Folded(static_cast<unsigned char>(line[at + k])) ==
                             static_cast<unsigned char>(FFolded[k]))
      ++k;
    if (k == length) return at;
  }
  return std::string_view::npos;
}

std::size_t TLogFinder::Count(std::string_view line) const {
  std::size_t count = 0;
  ForEachMatch(line, [&count](std::size_t) { ++count; });
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
    if (FForward) {
      const std::size_t at = Find(bytes, std::min(from_column, bytes.size()));
      if (at != std::string_view::npos && at < to_column) hit = at;
    } else {
      ForEachMatch(bytes, [&](std::size_t at) {
        if (at >= from_column && at < to_column) hit = at;
      });
    }
    if (hit) FFound = TMatch{FLine, *hit};
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
  ForEachMatch(Line(match.Line), [&](std::size_t at) { before += at < match.Column; });
  return before + 1;
}
