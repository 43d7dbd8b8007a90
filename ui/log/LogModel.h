#pragma once

// What a log view computes without painting: its text, where each character stands from the
// characters' advances, the selection and what it holds, and where the view is scrolled. A
// view paints what the model says is in sight and turns input into calls.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "ui/log/CodePage.h"
#include "ui/log/LogFind.h"
#include "ui/log/LogText.h"

// An append that does not fit whole in a log view.
class ELineInsertionError : public std::runtime_error {
 public:
  ELineInsertionError() : std::runtime_error("RichEdit line insertion error") {}
};

// The keys that move a log view, whatever the toolkit calls them.
enum class TLogKey { Up, Down, PageUp, PageDown, Left, Right, Home, End };

class TLogModel {
 public:
  // A place in the text: a line, and a column counting bytes, always at the start of a
  // character (or the line's end).
  struct TPosition {
    std::uint64_t Line = 0;
    std::size_t Column = 0;
    auto operator<=>(const TPosition&) const = default;
  };

  // Between the view's frame and the text, as in a rich-text control.
  static constexpr int kMargin = 2;
  static constexpr int kHorizontalStep = 20;

  explicit TLogModel(std::uint64_t capacity, const TCodePage& code_page = TCodePage::Host());
  // It refers to its own parts: neither copied nor moved.
  TLogModel(const TLogModel&) = delete;
  TLogModel& operator=(const TLogModel&) = delete;

  const TCodePage& CodePage() const { return FCodePage; }

  // --- The text.
  const TLogText& Text() const { return FText; }
  std::uint64_t LineCount() const { return FText.LineCount(); }
  std::uint64_t FreeCharacters() const { return FText.Free(); }
  // Line `line`'s bytes, valid until the next call.
  std::string_view Line(std::uint64_t line) const;
  // Appends each line, followed by a line break, in order, as long as they fit whole; returns
  // how many went in. A view that followed the newest line goes on following it.
  std::size_t AppendLines(std::span<const std::string> lines);
  // Empties the log and gives its memory back: no selection, no find, at the top.
  void Clear();

  // --- Measures, in pixels: each character's advance as drawn (the view measures it once),
  // the tab stops, the line height.
  void SetMetrics(TAdvances::TMeasure measure, float tab_width, int line_height);
  int LineHeight() const { return FLineHeight; }
  float Advance(char32_t c) const { return FAdvances.Of(c); }
  // Where the next character starts once `c` is drawn at `x`, from the line's start.
  float After(float x, char32_t c) const { return FAdvances.After(x, c); }
  // From the line's start to where the character at byte `column` of `bytes` starts.
  float LeftOf(std::string_view bytes, std::size_t column) const;

  // --- Where the view stands: the area the text is drawn in, the first line in sight and
  // the horizontal scroll in pixels.
  void SetViewport(int width, int height);
  int ViewportWidth() const { return FWidth; }
  int ViewportHeight() const { return FHeight; }
  // Whole lines in sight, at least one.
  int Rows() const;
  std::uint64_t Top() const { return FTop; }
  int Left() const { return FLeft; }
  std::uint64_t MaxTop() const;
  int MaxLeft() const;
  void ScrollTo(std::uint64_t top);
  void ScrollLeftTo(int left);
  void ScrollBy(std::int64_t lines);
  void ScrollPages(int pages);
  // To the newest line, following it from then on.
  void ScrollToEnd();
  // Following the newest line: the view is scrolled to the bottom. Appends keep it there.
  bool Following() const { return FTop >= MaxTop() && !FHeld; }
  // While a found match is shown, appends do not move the view, even at the bottom;
  // ScrollToEnd lets go.
  // Lines appended while the view did not follow, since it last did.
  std::uint64_t UnseenLines() const { return FUnseen; }
  // Scrolls so that the part of `line` from column `from` to column `to` is in sight.
  void Reveal(std::uint64_t line, std::size_t from, std::size_t to);
  // A key: without Shift the view scrolls (Home to the line's start, with Control to the first
  // line; End back to the newest line, following it); with Shift the selection's moving end
  // goes a line, a character or a page that way, or to the line's start or end (with Control,
  // the text's), and comes into sight.
  void Navigate(TLogKey key, bool control, bool shift);
  // The note drawn while lines come in out of sight, such as "▼ 12 nouvelles lignes plus bas
  // (Fin pour suivre)", in UTF-8; empty when there is none to draw.
  std::string NewLinesMarker() const;
  // What groups thousands in the numbers the model writes, in UTF-8: the view's locale's.
  void SetThousandsSeparator(std::string separator) { FThousands = std::move(separator); }

  // --- A drag that selects: beyond an edge of the viewport the view keeps scrolling that way.
  // True when `x`, `y` (viewport coordinates) lie beyond an edge: a timer then calls DragStep.
  bool DragBeyondEdge(int x, int y) const;
  // One step of that scrolling, and the selection extended to the point.
  void DragStep(int x, int y);

  // Where character `column` of a line starts, in viewport coordinates.
  float XOf(std::string_view bytes, std::size_t column) const;
  // The place under a point of the viewport, clamped to the text.
  TPosition PositionAt(int x, int y) const;

  // --- The selection, from the anchor to the cursor.
  TPosition Anchor() const { return FAnchor; }
  TPosition Cursor() const { return FCursor; }
  bool HasSelection() const { return FAnchor != FCursor; }
  // The selection's two ends, the earlier first.
  std::pair<TPosition, TPosition> Selection() const;
  // Both ends clamped to the text.
  void Select(TPosition anchor, TPosition cursor);
  void MoveCursor(TPosition cursor) { Select(FAnchor, cursor); }
  void SelectAll();
  // The word under `at`, or the single character there when it is not part of a word.
  void SelectWordAt(TPosition at);
  // The selected bytes, lines joined by `line_break`.
  std::string SelectedBytes(std::string_view line_break) const;
  // The selected characters as shown (CodePage().Shown), in UTF-16, lines joined by
  // `line_break`: what a copy gives.
  std::u16string SelectedText(std::u16string_view line_break) const;
  // Of line `line`, the columns the selection covers; empty when it covers none. `through_end`
  // tells that the line's break is selected too.
  struct TSpan {
    std::size_t From = 0, To = 0;
    bool ThroughEnd = false;
  };
  TSpan SelectedIn(std::uint64_t line) const;

  // --- Find. A view opens its find bar, hands over what the user types, and runs slices
  // until none is due; the model selects the match, brings it into sight and holds the view
  // there.
  void OpenFind();
  void CloseFind() { FFindOpen = false; }
  bool FindOpen() const { return FFindOpen; }
  const TLogFinder& Finder() const { return FFinder; }
  // A new text, as the user typed it: the first match at or after the selection's start. A
  // text the log's characters cannot hold is in no line: it finds nothing. A text that is
  // nowhere leaves the selection as it was when the search began (before the first letters
  // typed matched), and says so.
  void FindText(std::u16string_view needle, bool match_case);
  // The next match after the selection, or the previous one before it; false, with nothing
  // done, when find is closed or has no text: the view then opens its bar instead.
  bool FindAgain(bool forward);
  // One slice of the search and of the count; true while more is due.
  bool ContinueFind(std::chrono::nanoseconds budget);
  // What the bar says, in UTF-8: "3 sur 1 284", "Introuvable", and a notice when the search
  // went round.
  std::string FindStatus() const;

 private:
  TPosition Clamped(TPosition at) const;
  // Where the character after, or before, the one at `column` starts.
  std::size_t NextColumn(std::string_view bytes, std::size_t column) const;
  std::size_t PreviousColumn(std::string_view bytes, std::size_t column) const;
  void StartFind(TPosition from, bool forward);
  void ShowFound();
  std::string Grouped(std::uint64_t value) const;
  // The selection line by line, as `out` appended with `add` for each line's selected bytes,
  // joined by `line_break`.
  template <class TOut, class TAdd>
  TOut Selected(std::basic_string_view<typename TOut::value_type> line_break, TAdd add) const;

  const TCodePage& FCodePage;
  TLogText FText;
  mutable std::string FScratch;
  TAdvances FAdvances;
  int FLineHeight = 13;
  int FWidth = 0, FHeight = 0;
  std::uint64_t FTop = 0;
  int FLeft = 0;
  bool FHeld = false;
  std::uint64_t FUnseen = 0;
  TPosition FAnchor, FCursor;
  TLogFinder FFinder;
  bool FFindOpen = false;
  bool FFindForward = true;
  bool FNotFound = false;
  // The selection before the text typed so far began to match, and the match last shown.
  TPosition FOriginAnchor, FOriginCursor;
  bool FShowing = false;
  TPosition FShownAnchor, FShownCursor;
  mutable std::uint64_t FOrdinal = 0;  // of the match found, once known
  std::string FWrapNotice;
  std::string FThousands = "\u202F";  // a narrow no-break space
};
