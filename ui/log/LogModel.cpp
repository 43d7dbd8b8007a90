#include "ui/log/LogModel.h"

#include <algorithm>
#include <cmath>

#include "ui/log/Unicode.h"

TLogModel::TLogModel(std::uint64_t capacity, const TCodePage& code_page)
    : FCodePage(code_page), FText(capacity), FFinder(FText, code_page) {
  FText.SetMetrics(&FAdvances, &FCodePage);
}

std::string_view TLogModel::Line(std::uint64_t line) const {
  if (line >= FText.LineCount()) return {};
  return FText.Line(line, FScratch);
}

std::size_t TLogModel::AppendLines(std::span<const std::string> lines) {
  const bool follow = Following();
  std::size_t appended = 0;
  const std::uint64_t before = FText.LineCount();
  while (appended < lines.size() && FText.Append(lines[appended]))
    ++appended;
  if (follow)
    FTop = MaxTop();
  else
    FUnseen += FText.LineCount() - before;
  return appended;
}

void TLogModel::Clear() {
  FText.Clear();
  const std::u16string needle = FFinder.Needle();
  FFinder.SetNeedle(needle, FFinder.MatchCase());  // its counts start over
  FFindOpen = false;
  FNotFound = false;
  FOrdinal = 0;
  FWrapNotice.clear();
  FShowing = false;
  FOriginAnchor = FOriginCursor = {};
  FAnchor = FCursor = {};
  FTop = 0;
  FLeft = 0;
  FHeld = false;
  FUnseen = 0;
}

void TLogModel::SetMetrics(TAdvances::TMeasure measure, float tab_width, int line_height) {
  FAdvances.Set(std::move(measure), tab_width);
  FLineHeight = std::max(1, line_height);
  ScrollTo(FTop);
}

float TLogModel::LeftOf(std::string_view bytes, std::size_t column) const {
  float x = 0;
  column = std::min(column, bytes.size());
  for (std::size_t at = 0; at < column;) {
    const TCodePage::TCharacter c = FCodePage.At(bytes, at);
    x = FAdvances.After(x, c.Code);
    at += c.Length;
  }
  return x;
}

void TLogModel::SetViewport(int width, int height) {
  const bool follow = Following();
  FWidth = std::max(0, width);
  FHeight = std::max(0, height);
  if (follow)
    FTop = MaxTop();
  else
    ScrollTo(FTop);
  ScrollLeftTo(FLeft);
}

int TLogModel::Rows() const {
  return std::max(1, FHeight / FLineHeight);
}

std::uint64_t TLogModel::MaxTop() const {
  const auto rows = static_cast<std::uint64_t>(Rows());
  return FText.LineCount() > rows ? FText.LineCount() - rows : 0;
}

int TLogModel::MaxLeft() const {
  const int width = static_cast<int>(std::ceil(FText.WidestLine())) + 2 * kMargin;
  return std::max(0, width - FWidth);
}

void TLogModel::ScrollTo(std::uint64_t top) {
  FTop = std::min(top, MaxTop());
  if (FTop >= MaxTop() && !FHeld) FUnseen = 0;
}

void TLogModel::ScrollLeftTo(int left) {
  FLeft = std::clamp(left, 0, MaxLeft());
}

void TLogModel::ScrollBy(std::int64_t lines) {
  if (lines < 0) {
    const auto up = static_cast<std::uint64_t>(-lines);
    ScrollTo(FTop > up ? FTop - up : 0);
  } else {
    ScrollTo(FTop + static_cast<std::uint64_t>(lines));
  }
}

void TLogModel::ScrollPages(int pages) {
  ScrollBy(static_cast<std::int64_t>(pages) * Rows());
}

void TLogModel::ScrollToEnd() {
  FHeld = false;
  ScrollTo(MaxTop());
}

void TLogModel::Reveal(std::uint64_t line, std::size_t from, std::size_t to) {
  const auto rows = static_cast<std::uint64_t>(Rows());
  if (line < FTop || line >= FTop + rows) ScrollTo(line > rows / 2 ? line - rows / 2 : 0);
  const std::string_view bytes = Line(line);
  const int left = static_cast<int>(LeftOf(bytes, from));
  const int right = static_cast<int>(std::ceil(LeftOf(bytes, to))) + 2 * kMargin;
  // With a little of what follows in sight; a part wider than the view shows from its start.
  if (right > FLeft + FWidth) ScrollLeftTo(right - FWidth + FWidth / 4);
  if (left < FLeft) ScrollLeftTo(std::max(0, left - FWidth / 4));
}

void TLogModel::Navigate(TLogKey key, bool control, bool shift) {
  if (!shift) {
    switch (key) {
      case TLogKey::Up:
        return ScrollBy(-1);
      case TLogKey::Down:
        return ScrollBy(1);
      case TLogKey::PageUp:
        return ScrollPages(-1);
      case TLogKey::PageDown:
        return ScrollPages(1);
      case TLogKey::Left:
        return ScrollLeftTo(FLeft - kHorizontalStep);
      case TLogKey::Right:
        return ScrollLeftTo(FLeft + kHorizontalStep);
      case TLogKey::Home:
        if (control) ScrollTo(0);
        return ScrollLeftTo(0);
      case TLogKey::End:
        return ScrollToEnd();
    }
    return;
  }
  if (FText.LineCount() == 0) return;
  const std::uint64_t last = FText.LineCount() - 1;
  const auto rows = static_cast<std::uint64_t>(Rows());
  TPosition to = FCursor;
  switch (key) {
    case TLogKey::Up:
      if (to.Line > 0) --to.Line;
      break;
    case TLogKey::Down:
      if (to.Line < last) ++to.Line;
      break;
    case TLogKey::PageUp:
      to.Line = to.Line > rows ? to.Line - rows : 0;
      break;
    case TLogKey::PageDown:
      to.Line = std::min(to.Line + rows, last);
      break;
    case TLogKey::Left:
      if (to.Column > 0)
        to.Column = PreviousColumn(Line(to.Line), to.Column);
      else if (to.Line > 0)
        to = {to.Line - 1, FText.LineLength(to.Line - 1)};
      break;
    case TLogKey::Right:
      if (to.Column < FText.LineLength(to.Line))
        to.Column = NextColumn(Line(to.Line), to.Column);
      else if (to.Line < last)
        to = {to.Line + 1, 0};
      break;
    case TLogKey::Home:
      to = {control ? 0 : to.Line, 0};
      break;
    case TLogKey::End:
      if (control) to.Line = last;
      to.Column = FText.LineLength(to.Line);
      break;
  }
  Select(FAnchor, to);
  // Only as far as it takes: the cursor goes a line at a time.
  const std::uint64_t line = FCursor.Line;
  if (line < FTop) ScrollTo(line);
  if (line >= FTop + rows) ScrollTo(line - rows + 1);
  Reveal(line, FCursor.Column, FCursor.Column);
}

std::size_t TLogModel::NextColumn(std::string_view bytes, std::size_t column) const {
  return FCodePage.Next(bytes, column);
}

std::size_t TLogModel::PreviousColumn(std::string_view bytes, std::size_t column) const {
  return FCodePage.Previous(bytes, column);
}

bool TLogModel::DragBeyondEdge(int x, int y) const {
  return x < 0 || y < 0 || x > FWidth || y > FHeight;
}

void TLogModel::DragStep(int x, int y) {
  if (y < 0) ScrollBy(-1);
  if (y > FHeight) ScrollBy(1);
  if (x < 0) ScrollLeftTo(FLeft - kHorizontalStep);
  if (x > FWidth) ScrollLeftTo(FLeft + kHorizontalStep);
  MoveCursor(PositionAt(x, y));
}

float TLogModel::XOf(std::string_view bytes, std::size_t column) const {
  return static_cast<float>(kMargin - FLeft) + LeftOf(bytes, column);
}

TLogModel::TPosition TLogModel::PositionAt(int x, int y) const {
  if (FText.LineCount() == 0) return {};
  const std::int64_t row = y < 0 ? -1 - (-y - 1) / FLineHeight : y / FLineHeight;
  const std::int64_t last = static_cast<std::int64_t>(FText.LineCount()) - 1;
  const auto line = static_cast<std::uint64_t>(
      std::clamp(static_cast<std::int64_t>(FTop) + row, std::int64_t{0}, last));
  const std::string_view bytes = Line(line);
  const float target = static_cast<float>(x - kMargin + FLeft);
  float left = 0;
  std::size_t column = 0;
  while (column < bytes.size()) {
    const TCodePage::TCharacter c = FCodePage.At(bytes, column);
    const float next = FAdvances.After(left, c.Code);
    if (target < (left + next) / 2) break;
    left = next;
    column += c.Length;
  }
  return {line, column};
}

TLogModel::TPosition TLogModel::Clamped(TPosition at) const {
  if (FText.LineCount() == 0) return {};
  at.Line = std::min(at.Line, FText.LineCount() - 1);
  at.Column = std::min(at.Column, FText.LineLength(at.Line));
  at.Column = FCodePage.StartOf(Line(at.Line), at.Column);
  return at;
}

std::pair<TLogModel::TPosition, TLogModel::TPosition> TLogModel::Selection() const {
  return std::minmax(FAnchor, FCursor);
}

void TLogModel::Select(TPosition anchor, TPosition cursor) {
  FAnchor = Clamped(anchor);
  FCursor = Clamped(cursor);
}

void TLogModel::SelectAll() {
  if (FText.LineCount() == 0) return;
  const std::uint64_t last = FText.LineCount() - 1;
  Select({0, 0}, {last, FText.LineLength(last)});
}

void TLogModel::SelectWordAt(TPosition at) {
  at = Clamped(at);
  const std::string_view bytes = Line(at.Line);
  std::size_t begin = at.Column;
  std::size_t end = begin;
  const auto in_word = [this, bytes](std::size_t column) {
    return IsWordCharacter(FCodePage.At(bytes, column).Code);
  };
  if (begin < bytes.size() && in_word(begin)) {
    while (begin > 0 && in_word(FCodePage.Previous(bytes, begin)))
      begin = FCodePage.Previous(bytes, begin);
    while (end < bytes.size() && in_word(end))
      end = FCodePage.Next(bytes, end);
  } else if (begin < bytes.size()) {
    end = FCodePage.Next(bytes, begin);
  }
  Select({at.Line, begin}, {at.Line, end});
}

template <class TOut, class TAdd>
TOut TLogModel::Selected(std::basic_string_view<typename TOut::value_type> line_break,
                         TAdd add) const {
  if (!HasSelection()) return {};
  const auto [from, to] = Selection();
  TOut text;
  for (std::uint64_t line = from.Line; line <= to.Line; ++line) {
    const std::string_view bytes = Line(line);
    const std::size_t begin = line == from.Line ? from.Column : 0;
    const std::size_t end = line == to.Line ? to.Column : bytes.size();
    add(text, bytes.substr(begin, end - begin));
    if (line != to.Line) text.append(line_break);
  }
  return text;
}

std::string TLogModel::SelectedBytes(std::string_view line_break) const {
  return Selected<std::string>(
      line_break, [](std::string& text, std::string_view bytes) { text.append(bytes); });
}

std::u16string TLogModel::SelectedText(std::u16string_view line_break) const {
  return Selected<std::u16string>(
      line_break,
      [this](std::u16string& text, std::string_view bytes) { text += FCodePage.Shown(bytes); });
}

TLogModel::TSpan TLogModel::SelectedIn(std::uint64_t line) const {
  if (!HasSelection()) return {};
  const auto [from, to] = Selection();
  if (line < from.Line || line > to.Line) return {};
  TSpan span;
  span.From = line == from.Line ? from.Column : 0;
  span.ThroughEnd = line != to.Line;
  span.To = span.ThroughEnd ? FText.LineLength(line) : to.Column;
  return span;
}

void TLogModel::OpenFind() {
  if (!FFindOpen) FShowing = false;
  FFindOpen = true;
}

void TLogModel::FindText(std::u16string_view needle, bool match_case) {
  // Typing on from a match shown searches from it again; anything else starts a new search
  // from the selection as it stands.
  if (!FShowing || FShownAnchor != FAnchor || FShownCursor != FCursor) {
    FOriginAnchor = FAnchor;
    FOriginCursor = FCursor;
  }
  FFinder.SetNeedle(needle, match_case);
  StartFind(Selection().first, true);
}

bool TLogModel::FindAgain(bool forward) {
  if (!FFindOpen || FFinder.Needle().empty()) return false;
  const auto [from, to] = Selection();
  FOriginAnchor = FAnchor;
  FOriginCursor = FCursor;
  if (forward) {
    // After the match in hand, or from where the view stands when nothing is selected.
    StartFind(HasSelection() ? to : TPosition{FTop, 0}, true);
  } else {
    StartFind(HasSelection() ? from : TPosition{FTop, 0}, false);
  }
  return true;
}

void TLogModel::StartFind(TPosition from, bool forward) {
  FFindForward = forward;
  FNotFound = false;
  FOrdinal = 0;
  FWrapNotice.clear();
  FFinder.StartSearch({from.Line, from.Column}, forward);
  if (!FFinder.Searching()) ShowFound();  // an empty log, or a text no line can hold
}

bool TLogModel::ContinueFind(std::chrono::nanoseconds budget) {
  if (FFinder.Searching()) {
    if (FFinder.ContinueSearch(budget) == TLogFinder::TProgress::More) return true;
    ShowFound();
    return true;  // the count, next
  }
  return FFinder.ContinueCount(budget) == TLogFinder::TProgress::More;
}

void TLogModel::ShowFound() {
  const std::optional<TLogFinder::TMatch>& found = FFinder.Found();
  FNotFound = !found && !FFinder.Needle().empty();
  if (!found) {
    // Nothing of a partial match stays selected: the selection is the one the search began at.
    Select(FOriginAnchor, FOriginCursor);
    FShowing = false;
    return;
  }
  if (FFinder.Wrapped())
    FWrapNotice =
        FFindForward ? "fin atteinte, reprise au début" : "début atteint, reprise à la fin";
  const std::size_t end = FFinder.FoundEnd();
  Select({found->Line, found->Column}, {found->Line, end});
  FShowing = true;
  FShownAnchor = FAnchor;
  FShownCursor = FCursor;
  Reveal(found->Line, found->Column, end);
  FHeld = true;  // the match stays in sight while lines arrive
}

// 1284 as "1 284", with the view's separator.
std::string TLogModel::Grouped(std::uint64_t value) const {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) grouped += FThousands;
    grouped.push_back(digits[i]);
  }
  return grouped;
}

std::string TLogModel::NewLinesMarker() const {
  if (Following() || FUnseen == 0) return {};
  return "\u25BC " + Grouped(FUnseen) +
         (FUnseen == 1 ? " nouvelle ligne plus bas" : " nouvelles lignes plus bas") +
         " (Fin pour suivre)";
}

std::string TLogModel::FindStatus() const {
  if (FFinder.Needle().empty()) return {};
  if (FFinder.Searching()) return "Recherche...";
  if (FNotFound) return "Introuvable";
  std::string status;
  const std::optional<TLogFinder::TMatch>& found = FFinder.Found();
  // A match's place among all never changes once known: the log only grows after it.
  if (found && FOrdinal == 0) FOrdinal = FFinder.Ordinal(*found);
  if (FOrdinal != 0) status = Grouped(FOrdinal) + " sur ";
  status += Grouped(FFinder.Total()) + (FFinder.Counted() ? "" : "+");
  if (!found) status += FFinder.Total() == 1 ? " résultat" : " résultats";
  if (!FWrapNotice.empty()) status += " (" + FWrapNotice + ")";
  return status;
}
