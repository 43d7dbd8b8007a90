// Finding a text in the log: next, previous, wrapping, case, no match, the last line, never
// across a line break, the count of all matches while the log grows, and characters of UTF-8
// text with Unicode's case folding.
#include <gtest/gtest.h>

#include "ui/log/LogFind.h"

namespace {

using namespace std::chrono_literals;
using TMatch = TLogFinder::TMatch;

struct TLog {
  TLogText Text{1 << 24};
  TLogFinder Finder;

  explicit TLog(std::initializer_list<const char*> lines,
                const TCodePage& code_page = TCodePage::Windows1252())
      : Finder(Text, code_page) {
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

// Each match in `line`, as (start, end) in bytes.
std::vector<std::pair<std::size_t, std::size_t>> MatchesIn(const TLogFinder& finder,
                                                           std::string_view line) {
  std::vector<std::pair<std::size_t, std::size_t>> matches;
  finder.ForEachMatch(line,
                      [&](std::size_t at, std::size_t end) { matches.emplace_back(at, end); });
  return matches;
}

struct TSearchCase {
  const char16_t* Needle;
  bool MatchCase;
  TMatch From;
  bool Forward;
  std::optional<TMatch> Found;
  bool Wrapped;
};

TEST(LogFind, NextAndPrevious) {
  const TSearchCase cases[] = {
      {u"GET", false, {0, 0}, true, TMatch{1, 5}, false},
      {u"GET", false, {1, 6}, true, TMatch{1, 11}, false},
      {u"GET", false, {1, 12}, true, TMatch{3, 0}, false},  // the last line
      {u"GET", false, {3, 1}, true, TMatch{1, 5}, true},    // round the end
      {u"GET", false, {1, 5}, false, TMatch{3, 0}, true},   // round the start
      {u"GET", false, {3, 0}, false, TMatch{1, 11}, false},
      {u"GET", true, {1, 12}, true, TMatch{1, 5}, true},  // "get" is not "GET"
      {u"get", true, {0, 0}, true, TMatch{3, 0}, false},
      {u"cafÉ", false, {0, 0}, true, TMatch{2, 6}, false},  // É folds to é
      {u"absent", false, {2, 0}, true, std::nullopt, true},
      {u"ma\r", false, {0, 0}, true, std::nullopt, true},  // never across a break
      {u"aGET", false, {0, 0}, true, std::nullopt, true},
      {u"caf\u4E2D", false, {0, 0}, true, std::nullopt, false},  // not in the code page
      {u"", false, {0, 0}, true, std::nullopt, false},
  };
  for (const TSearchCase& c : cases) {
    TLog log{"alpha", "beta GET x GET", "gamma caf\xE9", "get"};
    log.Finder.SetNeedle(c.Needle, c.MatchCase);
    SCOPED_TRACE(testing::Message() << &c - cases);
    EXPECT_EQ(log.Search(c.From, c.Forward), c.Found);
    EXPECT_EQ(log.Finder.Wrapped(), c.Wrapped);
  }
}

TEST(LogFind, MatchesInALineDoNotOverlap) {
  TLog log{"aaaa", "xAaAx"};
  log.Finder.SetNeedle(u"aa", false);
  std::vector<std::size_t> columns;
  log.Finder.ForEachMatch("aaaaa", [&](std::size_t at, std::size_t) { columns.push_back(at); });
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
  log.Finder.SetNeedle(u"match", false);
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
  log.Finder.SetNeedle(u"MATCH", true);
  log.Finder.ContinueCount(1ms);
  EXPECT_EQ(log.Finder.Total(), 0u);
}

// Over UTF-8 text, a needle's characters match characters: with or without case (simple case
// folding), never half of one, never a byte read on its own as in Windows-1252.
TEST(LogFind, CharactersOfUtf8Text) {
  struct TCase {
    const char16_t* Needle;
    bool MatchCase;
    std::vector<std::pair<std::size_t, std::size_t>> Matches;  // in the line below, in bytes
  };
  // "É é Ø ø Σ σ ς €" in UTF-8, then "é" and "Ã" as bytes read alone, in Windows-1252
  const std::string line =
      "\xC3\x89 \xC3\xA9 \xC3\x98 \xC3\xB8 \xCE\xA3 \xCF\x83 \xCF\x82 \xE2\x82\xAC \xE9 \xC3";
  const TCase cases[] = {
      {u"é", true, {{3, 5}}},
      {u"é", false, {{0, 2}, {3, 5}}},  // not the Windows-1252 "é" at 25
      {u"É", false, {{0, 2}, {3, 5}}},
      {u"Ø", false, {{6, 8}, {9, 11}}},
      {u"ø", true, {{9, 11}}},
      {u"Σ", false, {{12, 14}, {15, 17}, {18, 20}}},
      {u"ς", false, {{12, 14}, {15, 17}, {18, 20}}},
      {u"σ", true, {{15, 17}}},
      {u"é ø", false, {{3, 8}}},
      {u"€", true, {{21, 24}}},
      {u"Ã", false, {}},       // the first byte of "É", and "Ã" read alone: neither
      {u"\u0089", false, {}},  // the second byte of "É" read alone
      {u"\u00A9", false, {}},  // of "é"
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << &c - cases);
    TLog log{{}, TCodePage::Utf8()};
    log.Finder.SetNeedle(c.Needle, c.MatchCase);
    EXPECT_EQ(MatchesIn(log.Finder, line), c.Matches);
  }
  // A match whose case variant takes more bytes than the needle: the Kelvin sign for "k".
  TLog log{{"1 \xE2\x84\xAA = 1 k"}, TCodePage::Utf8()};
  log.Finder.SetNeedle(u"K =", false);
  EXPECT_EQ(log.Search({0, 0}, true), (TMatch{0, 2}));
  EXPECT_EQ(log.Finder.FoundEnd(), 7u);
  while (log.Finder.ContinueCount(1ms) == TLogFinder::TProgress::More) {
  }
  log.Finder.SetNeedle(u"k", false);
  while (log.Finder.ContinueCount(1ms) == TLogFinder::TProgress::More) {
  }
  EXPECT_EQ(log.Finder.Total(), 2u);
}

// Where case does not matter, ß and ẞ are "ss", either way; where it does, each is itself.
TEST(LogFind, SharpSIsDoubleS) {
  struct TCase {
    const char16_t* Needle;
    bool MatchCase;
    std::vector<std::pair<std::size_t, std::size_t>> Matches;
  };
  // "Straße STRASSE strasse STRAẞE" in UTF-8
  const std::string line =
      "Stra\xC3\x9F"
      "e STRASSE strasse STRA\xE1\xBA\x9E"
      "E";
  const TCase cases[] = {
      {u"strasse", false, {{0, 7}, {8, 15}, {16, 23}, {24, 32}}},
      {u"straße", false, {{0, 7}, {8, 15}, {16, 23}, {24, 32}}},
      {u"aß", false, {{3, 6}, {11, 14}, {19, 22}, {27, 31}}},
      {u"straße", true, {}},
      {u"Straße", true, {{0, 7}}},
      {u"strasse", true, {{16, 23}}},
      {u"ssss", false, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << &c - cases);
    TLog log{{}, TCodePage::Utf8()};
    log.Finder.SetNeedle(c.Needle, c.MatchCase);
    EXPECT_EQ(MatchesIn(log.Finder, line), c.Matches);
  }
}

}  // namespace
