#pragma once

// Finding a text in a log: over the log's compact storage, line by line, never across a line
// break, by characters as the code page reads the bytes, with or without regard to case
// (Unicode's simple case folding). A match is always whole characters: in UTF-8 text, a
// character of the needle matches only its UTF-8 sequence (or, without regard to case, one of
// its case variants'), never a byte read on its own as in Windows-1252 nor a part of a longer
// character. A search for the
// next or previous match and the count of all matches both work in slices of bounded time,
// so that a view answers input while they go through millions of lines.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/log/CodePage.h"
#include "ui/log/LogText.h"

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

  // A new text to find, as typed; an empty one finds nothing. Starts the count over. A text
  // that the code page cannot hold finds nothing either.
  void SetNeedle(std::u16string_view needle, bool match_case);
  const std::u16string& Needle() const { return FNeedle; }
  bool MatchCase() const { return FMatchCase; }

  // Calls `found(begin, end)` for each match in `line`, in bytes, left to right, none
  // overlapping. A match without regard to case may take more or fewer bytes than the needle.
  template <class F>
  void ForEachMatch(std::string_view line, F&& found) const {
    std::size_t end = 0;
    for (std::size_t at = 0; (at = Find(line, at, end)) != std::string_view::npos; at = end)
      found(at, end);
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
  // Where the match found ends, in bytes.
  std::size_t FoundEnd() const { return FFoundEnd; }
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

  // No character has more than four case variants; "ss", read as one character where case
  // does not matter, has six (ss, sS, Ss, SS, ß, ẞ).
  static constexpr std::size_t kMostVariants = 6;

  // A character of the needle: the byte sequences that may stand for it, each whole
  // characters of the text, none the start or the end of another.
  struct TUnit {
    struct TVariant {
      char Bytes[4];
      std::uint8_t Length;
    };
    TVariant Variants[kMostVariants];
    std::size_t Count = 0;
    // A sequence that ends at `end`: where it starts.
    bool EndsAt(std::string_view line, std::size_t end, std::size_t& start) const;
    // A sequence that starts at `at`: where it ends.
    bool StartsAt(std::string_view line, std::size_t at, std::size_t& end) const;
  };

  // The first match that starts at or after `from`, and in `end` where it ends; or npos.
  std::size_t Find(std::string_view line, std::size_t from, std::size_t& end) const;
  std::size_t Count(std::string_view line) const;
  std::string_view Line(std::uint64_t line) const;
  void ChooseAnchor();

  const TLogText& FText;
  const TCodePage& FCodePage;
  std::u16string FNeedle;
  bool FMatchCase = false;
  std::vector<TUnit> FUnits;  // empty: nothing can match
  std::size_t FShortest = 0;  // bytes of the shortest match
  // The character looked for first, by the last bytes of its sequences: the one whose bytes
  // are rarest in the log's newest lines. Its neighbours are matched from it both ways.
  std::size_t FAnchorUnit = 0;
  unsigned char FAnchors[kMostVariants] = {};
  std::size_t FAnchorCount = 0;
  mutable std::string FScratch;

  bool FSearching = false;
  bool FForward = true;
  TMatch FFrom;
  std::uint64_t FLine = 0;    // the next line to search
  std::uint64_t FVisits = 0;  // lines searched so far
  bool FWrapped = false;
  std::optional<TMatch> FFound;
  std::size_t FFoundEnd = 0;

  std::vector<std::uint64_t> FBlockCounts;  // matches in each whole block counted
  std::uint64_t FCountedLines = 0;
  std::uint64_t FTailCount = 0;  // matches in the counted lines past the last whole block
};
