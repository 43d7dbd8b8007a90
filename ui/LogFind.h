#pragma once

// Finding a text in a log: over the log's compact storage, line by line, never across a line
// break, with or without regard to case as the host's code page folds it. A search for the
// next or previous match and the count of all matches both work in slices of bounded time,
// so that a view answers input while they go through millions of lines.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/CodePage.h"
#include "ui/LogText.h"

class TLogFinder {
 public:
  struct TMatch {
    std::uint64_t Line = 0;
    std::size_t Column = 0;
    auto operator<=>(const TMatch&) const = default;
  };

  // How a slice of work ended.
  enum class TProgress { Done, More };

  TLogFinder(const TLogText& text, const TCodePage& code_page);
  // It refers to the text it searches: neither copied nor moved.
  TLogFinder(const TLogFinder&) = delete;
  TLogFinder& operator=(const TLogFinder&) = delete;

  // A new text to find; an empty one finds nothing. Starts the count over.
  void SetNeedle(std::string_view needle, bool match_case);
  const std::string& Needle() const { return FNeedle; }
  bool MatchCase() const { return FMatchCase; }
  std::size_t Length() const { return FNeedle.size(); }

  // Calls `found(column)` for each match in `line`, left to right, none overlapping.
  template <class F>
  void ForEachMatch(std::string_view line, F&& found) const {
    for (std::size_t at = 0; (at = Find(line, at)) != std::string_view::npos; at += Length())
      found(at);
  }

  // --- The next or previous match, from a place, wrapping around the log's ends.
  // Forward, the first match that starts at or after `from`; backward, the last that starts
  // before it.
  void StartSearch(TMatch from, bool forward);
  bool Searching() const { return FSearching; }
  // Works on the search for about `budget`. Done: Found() holds the match, or nothing when
  // the log holds none; Wrapped() tells that it came around an end.
  TProgress ContinueSearch(std::chrono::nanoseconds budget);
  const std::optional<TMatch>& Found() const { return FFound; }
  bool Wrapped() const { return FWrapped; }

  // --- The count of every match, brought up to the log's end a slice at a time; lines
  // appended later are counted by later slices.
  TProgress ContinueCount(std::chrono::nanoseconds budget);
  bool Counted() const { return FCountedLines >= FText.LineCount(); }
  std::uint64_t Total() const;
  // Matches before `match`, plus one: its place among all, once counted up to it.
  std::uint64_t Ordinal(TMatch match) const;

 private:
  static constexpr std::uint64_t kBlock = 4096;  // lines per counted block

  std::size_t Find(std::string_view line, std::size_t from) const;
  std::size_t Count(std::string_view line) const;
  std::string_view Line(std::uint64_t line) const;

  const TLogText& FText;
  const TCodePage& FCodePage;
  std::string FNeedle;
  std::string FFolded;               // the needle, folded when case does not matter
  unsigned char FFirst[2] = {0, 0};  // what a match may start with
  bool FMatchCase = false;
  mutable std::string FScratch;

  bool FSearching = false;
  bool FForward = true;
  TMatch FFrom;
  std::uint64_t FLine = 0;    // the next line to search
  std::uint64_t FVisits = 0;  // lines searched so far
  bool FWrapped = false;
  std::optional<TMatch> FFound;

  std::vector<std::uint64_t> FBlockCounts;  // matches in each whole block counted
  std::uint64_t FCountedLines = 0;
  std::uint64_t FTailCount = 0;  // matches in the counted lines past the last whole block
};
