// Finding a text in the log: next, previous, wrapping, case, no match, the last line, never
// across a line break, and the count of all matches while the log grows.
#include <gtest/gtest.h>

#include "ui/LogFind.h"

namespace {

using namespace std::chrono_literals;
using TMatch = TLogFinder::TMatch;

struct TLog {
  TLogText Text{1 << 24};
  TLogFinder Finder{Text, TCodePage::Windows1252()};

  explicit TLog(std::initializer_list<const char*> lines) {
    for (const char* line : lines)
      Text.Append(line);
  }
  // Runs a search to its end, as slices would.
  std::optional<TMatch> Search(TMatch from, bool forward) {
    Finder.StartSearch(from, forward);
    while (Finder.ContinueSearch(1ms) == TLogFinder::TProgress::More) {
    }
    return Finder.Found();
  }
};

struct TSearchCase {
  const char* Needle;
  bool MatchCase;
  TMatch From;
  bool Forward;
  std::optional<TMatch> Found;
  bool Wrapped;
};

TEST(LogFind, NextAndPrevious) {
  const TSearchCase cases[] = {
      {"GET", false, {0, 0}, true, TMatch{1, 5}, false},
      {"GET", false, {1, 6}, true, TMatch{1, 11}, false},
      {"GET", false, {1, 12}, true, TMatch{3, 0}, false},  // the last line
      {"GET", false, {3, 1}, true, TMatch{1, 5}, true},    // round the end
      {"GET", false, {1, 5}, false, TMatch{3, 0}, true},   // round the start
      {"GET", false, {3, 0}, false, TMatch{1, 11}, false},
      {"GET", true, {1, 12}, true, TMatch{1, 5}, true},  // "get" is not "GET"
      {"get", true, {0, 0}, true, TMatch{3, 0}, false},
      {"caf\xC9", false, {0, 0}, true, TMatch{2, 6}, false},  // É folds to é
      {"absent", false, {2, 0}, true, std::nullopt, true},
      {"ma\r", false, {0, 0}, true, std::nullopt, true},  // never across a break
      {"aGET", false, {0, 0}, true, std::nullopt, true},
      {"", false, {0, 0}, true, std::nullopt, false},
  };
  for (const TSearchCase& c : cases) {
    TLog log{"alpha", "beta GET x GET", "gamma caf\xE9", "get"};
    log.Finder.SetNeedle(c.Needle, c.MatchCase);
    EXPECT_EQ(log.Search(c.From, c.Forward), c.Found) << c.Needle << " from " << c.From.Line;
    EXPECT_EQ(log.Finder.Wrapped(), c.Wrapped) << c.Needle << " from " << c.From.Line;
  }
}

TEST(LogFind, MatchesInALineDoNotOverlap) {
  TLog log{"aaaa", "xAaAx"};
  log.Finder.SetNeedle("aa", false);
  std::vector<std::size_t> columns;
  log.Finder.ForEachMatch("aaaaa", [&](std::size_t at) { columns.push_back(at); });
  EXPECT_EQ(columns, (std::vector<std::size_t>{0, 2}));
  while (log.Finder.ContinueCount(1ms) == TLogFinder::TProgress::More) {
  }
  EXPECT_EQ(log.Finder.Total(), 3u);  // two in the first line, one in "xAaAx"
}

// The count runs in slices and takes in what is appended while it runs.
TEST(LogFind, TheCountFollowsAGrowingLog) {
  TLog log{};
  for (int i = 0; i < 10'000; ++i)
    log.Text.Append(i % 2 ? "odd line with a Match" : "even line");
  log.Finder.SetNeedle("match", false);
  while (log.Finder.ContinueCount(0ns) == TLogFinder::TProgress::More) {
  }
  EXPECT_TRUE(log.Finder.Counted());
  EXPECT_EQ(log.Finder.Total(), 5'000u);
  EXPECT_EQ(log.Finder.Ordinal({5'001, 16}), 2'501u);
  EXPECT_EQ(log.Finder.Ordinal({9'999, 16}), 5'000u);
  log.Text.Append("one more match, and another match");
  EXPECT_FALSE(log.Finder.Counted());
  log.Finder.ContinueCount(1ms);
  EXPECT_EQ(log.Finder.Total(), 5'002u);
  EXPECT_EQ(log.Finder.Ordinal({10'000, 28}), 5'002u);
  log.Finder.SetNeedle("MATCH", true);
  log.Finder.ContinueCount(1ms);
  EXPECT_EQ(log.Finder.Total(), 0u);
}

}  // namespace
