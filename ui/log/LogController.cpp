#include "ui/log/LogController.h"

#include <algorithm>

#include "ui/log/LogTexts.h"
#include "ui/log/Unicode.h"
#include "ui/log/VisibleText.h"

TLogController::TLogController(TLogViewPort& port, std::uint64_t capacity, std::string line_break)
    : FPort(port),
      FModel(capacity),
      FLineBreak(std::move(line_break)),
      FLineBreakUtf16(FLineBreak.begin(), FLineBreak.end()) {}

TLogController::~TLogController() = default;

std::size_t TLogController::Append(std::span<const std::string> lines) {
  const std::size_t appended = FModel.AppendLines(lines);
  if (appended == 0) return 0;
  Sync();
  // The count goes on over the new lines.
  if (FModel.FindOpen()) FPort.StartWork(TLogWork::Find);
  return appended;
}

void TLogController::AppendAll(std::span<const std::string> lines) {
  if (Append(lines) < lines.size()) throw ELineInsertionError();
}

void TLogController::SelectAll() {
  FModel.SelectAll();
  FPort.Repaint();
}

void TLogController::Select(TLogModel::TPosition from, TLogModel::TPosition to) {
  FModel.Select(from, to);
  FPort.Repaint();
}

void TLogController::Copy() {
  if (FModel.HasSelection()) FPort.PutOnClipboard(SelectedText());
}

void TLogController::ShareSelection() {
  if (FModel.HasSelection() && FPort.HasSelectionBuffer())
    FPort.PutOnSelectionBuffer(SelectedText());
}

void TLogController::OpenFind() {
  FModel.OpenFind();
  FPort.ShowFindBar(true);
  FPort.FocusFindBar();
  Sync();
}

void TLogController::CloseFind() {
  FModel.CloseFind();
  FPort.ShowFindBar(false);
  FPort.FocusLog();
  Sync();
}

void TLogController::FindText(std::u16string_view needle, bool match_case) {
  FModel.FindText(needle, match_case);
  FindWork();
}

void TLogController::FindNext(bool forward) {
  if (!FModel.FindAgain(forward)) return OpenFind();
  FindWork();
}

void TLogController::FindWork() {
  FPort.StopWork(TLogWork::Find);
  const bool more = FModel.ContinueFind(kSlice);
  FPort.SetFindStatus(FModel.FindStatus());
  Sync();
  if (more) FPort.StartWork(TLogWork::Find);
}

void TLogController::SaveLog() {
  if (FSave) return;
  try {
    const std::filesystem::path path = FPort.AskSavePath();
    if (path.empty()) return;
    FSave = std::make_unique<TLogSave>(FModel.Text(), FModel.CodePage(), path, FLineBreak);
  } catch (const std::exception& error) {
    return FPort.ShowError(error);
  }
  FPort.ShowSaveStrip(FSave->Progress());
  Sync();
  SaveWork();
}

// A slice of the save and the strip brought up to date; input and appends go on between
// slices.
void TLogController::SaveWork() {
  FPort.StopWork(TLogWork::Save);
  if (!FSave) return;
  try {
    if (FSave->Continue(kSlice)) {
      FPort.ShowSaveStrip(FSave->Progress());
      return FPort.StartWork(TLogWork::Save);
    }
  } catch (const std::exception& error) {
    EndSave();
    return FPort.ShowError(error);
  }
  EndSave();
}

void TLogController::CancelSave() {
  if (!FSave) return;
  FSave->Cancel();
  EndSave();
}

void TLogController::EndSave() {
  FPort.StopWork(TLogWork::Save);
  FSave.reset();
  FPort.ShowSaveStrip({});
  Sync();
}

void TLogController::ClearLog() {
  CancelSave();
  FPort.StopWork(TLogWork::Find);
  FModel.Clear();
  FPort.SetFindStatus({});
  FPort.ShowFindBar(false);
  Sync();
}

bool TLogController::Key(const TLogKeyPress& key) {
  using K = TLogKeyPress;
  if (key.Control && (key.Code == K::C || key.Code == K::Insert)) {
    Copy();
  } else if (key.Control && key.Code == K::A) {
    SelectAll();
  } else if (key.Control && key.Code == K::F) {
    OpenFind();
  } else if (key.Control && key.Code == K::S) {
    SaveLog();
  } else if (key.Control && key.Code == K::L) {
    ClearLog();
  } else if (key.Code == K::Escape && FSave) {
    CancelSave();
  } else if (key.Code == K::F3) {
    FindNext(!key.Shift);
  } else if (key.Code >= K::Up && key.Code <= K::End) {
    constexpr TLogKey kKeys[] = {TLogKey::Up,   TLogKey::Down,  TLogKey::PageUp, TLogKey::PageDown,
                                 TLogKey::Left, TLogKey::Right, TLogKey::Home,   TLogKey::End};
    FModel.Navigate(kKeys[key.Code - K::Up], key.Control, key.Shift);
    Sync();
  } else {
    return false;
  }
  return true;
}

void TLogController::Scroll(bool vertical, TLogScroll request, int position) {
  const int step = TLogModel::kHorizontalStep;
  const int page = FModel.ViewportWidth();
  switch (request) {
    case TLogScroll::LineBack:
      vertical ? FModel.ScrollBy(-1) : FModel.ScrollLeftTo(FModel.Left() - step);
      break;
    case TLogScroll::LineForward:
      vertical ? FModel.ScrollBy(1) : FModel.ScrollLeftTo(FModel.Left() + step);
      break;
    case TLogScroll::PageBack:
      vertical ? FModel.ScrollPages(-1) : FModel.ScrollLeftTo(FModel.Left() - page);
      break;
    case TLogScroll::PageForward:
      vertical ? FModel.ScrollPages(1) : FModel.ScrollLeftTo(FModel.Left() + page);
      break;
    case TLogScroll::Start:
      vertical ? FModel.ScrollTo(0) : FModel.ScrollLeftTo(0);
      break;
    case TLogScroll::End:
      vertical ? FModel.ScrollToEnd() : FModel.ScrollLeftTo(FModel.MaxLeft());
      break;
    case TLogScroll::To:
      vertical ? FModel.ScrollTo(static_cast<std::uint64_t>(std::max(0, position)))
               : FModel.ScrollLeftTo(position);
      break;
  }
  Sync();
}

void TLogController::Wheel(int delta, int lines_per_notch) {
  constexpr int kNotch = 120;
  FWheel += delta;
  const int notches = FWheel / kNotch;
  FWheel %= kNotch;
  // "One screen at a time" is a count of its own, not a count of lines.
  if (lines_per_notch == kWheelPage)
    FModel.ScrollPages(-notches);
  else
    FModel.ScrollBy(-static_cast<std::int64_t>(notches) * lines_per_notch);
  Sync();
}

bool TLogController::MousePress(int x, int y, bool shift) {
  if (FMarker.Contains(static_cast<float>(x), static_cast<float>(y))) {
    FModel.ScrollToEnd();
    Sync();
    return false;
  }
  const TLogModel::TPosition at = FModel.PositionAt(x, y);
  FModel.Select(shift ? FModel.Anchor() : at, at);
  FSelecting = true;
  FLastX = x;
  FLastY = y;
  FPort.Repaint();
  return true;
}

bool TLogController::MouseMove(int x, int y) {
  if (!FSelecting) return false;
  FLastX = x;
  FLastY = y;
  FModel.MoveCursor(FModel.PositionAt(x, y));
  FPort.Repaint();
  if (FModel.DragBeyondEdge(x, y))
    FPort.StartAutoScroll();
  else
    FPort.StopAutoScroll();
  return true;
}

void TLogController::AutoScrollTick() {
  if (!FSelecting) return FPort.StopAutoScroll();
  FModel.DragStep(FLastX, FLastY);
  Sync();
}

void TLogController::MouseRelease() {
  FSelecting = false;
  FPort.StopAutoScroll();
  ShareSelection();
}

void TLogController::DoubleClick(int x, int y) {
  if (FModel.LineCount() == 0) return;
  FModel.SelectWordAt(FModel.PositionAt(x, y));
  FSelecting = false;
  ShareSelection();
  FPort.Repaint();
}

std::vector<TLogMenuEntry> TLogController::MenuEntries() const {
  return {
      {TLogCommand::Copy, TLogTexts::kCopy, "Ctrl+C", FModel.HasSelection(), false},
      {TLogCommand::SelectAll, TLogTexts::kSelectAll, "Ctrl+A", FModel.LineCount() > 0, true},
      {TLogCommand::Find, TLogTexts::kFind, "Ctrl+F", true, true},
      {TLogCommand::Save, TLogTexts::kSave, "Ctrl+S", !FSave, true},
      {TLogCommand::Clear, TLogTexts::kClear, "Ctrl+L", true, false},
  };
}

void TLogController::Execute(TLogCommand command) {
  switch (command) {
    case TLogCommand::Copy:
      return Copy();
    case TLogCommand::SelectAll:
      return SelectAll();
    case TLogCommand::Find:
      return OpenFind();
    case TLogCommand::Save:
      return SaveLog();
    case TLogCommand::Clear:
      return ClearLog();
  }
}

void TLogController::DrawLine(std::string_view bytes, int top, float from_x, float to_x,
                              TLogRole role, const TLogRect* clip) {
  const TCodePage& code_page = FModel.CodePage();
  const float origin = FModel.XOf(bytes, 0);
  float x = 0;  // from the line's start
  float run_x = origin;
  FRun.clear();
  FAdvances.clear();
  const auto flush = [&] {
    if (!FRun.empty()) FPort.DrawRun({role, run_x, top, FRun, FAdvances, clip});
    FRun.clear();
    FAdvances.clear();
  };
  for (std::size_t at = 0; at < bytes.size();) {
    const TCodePage::TCharacter c = code_page.At(bytes, at);
    at += c.Length;
    const float next = FModel.After(x, c.Code);
    if (c.Code == u'\t' || origin + next <= from_x) {
      flush();
      run_x = origin + next;
    } else {
      const std::size_t units = FRun.size();
      AppendUtf16(FRun, VisibleCharacter(c.Code));
      // A character outside the Basic Multilingual Plane takes two units: its advance goes
      // with the first.
      FAdvances.push_back(static_cast<int>(next) - static_cast<int>(x));
      if (FRun.size() - units == 2) FAdvances.push_back(0);
    }
    x = next;
    if (origin + x > to_x) break;
  }
  flush();
}

void TLogController::Paint(int area_width, int area_height) {
  const auto width = static_cast<float>(area_width);
  FPort.Fill(TLogRole::Background, {0, 0, width, static_cast<float>(area_height)});
  const int height = FModel.LineHeight();
  for (int row = 0; row * height < area_height; ++row) {
    const std::uint64_t line = FModel.Top() + static_cast<std::uint64_t>(row);
    if (line >= FModel.LineCount()) break;
    const std::string_view bytes = FModel.Line(line);
    const int top = row * height;
    const float bottom = static_cast<float>(top + height);
    const auto band = [&](float left, float right) {
      return TLogRect{left, static_cast<float>(top), right, bottom};
    };
    // The bands of the matches under the text, their text again over them.
    FMatches.clear();
    if (FModel.FindOpen()) {
      FModel.Finder().ForEachMatch(bytes, [&](std::size_t at, std::size_t end) {
        FMatches.push_back(band(FModel.XOf(bytes, at), FModel.XOf(bytes, end)));
        FPort.Fill(TLogRole::Match, FMatches.back());
      });
    }
    DrawLine(bytes, top, 0, width, TLogRole::Text, nullptr);
    for (const TLogRect& match : FMatches)
      DrawLine(bytes, top, std::max(0.f, match.Left), std::min(width, match.Right),
               TLogRole::MatchText, &match);
    const TLogModel::TSpan selected = FModel.SelectedIn(line);
    if (selected.From == selected.To && !selected.ThroughEnd) continue;
    // The selected part again, on its band; a selected line break shows as a blank.
    const float left = FModel.XOf(bytes, selected.From);
    const float right =
        FModel.XOf(bytes, selected.To) + (selected.ThroughEnd ? FModel.Advance(U' ') : 0);
    if (right <= left) continue;
    const TLogRect selection = band(left, right);
    FPort.Fill(TLogRole::Selection, selection);
    DrawLine(bytes, top, std::max(0.f, left), std::min(width, right), TLogRole::SelectedText,
             &selection);
    if (FModel.FindOpen()) FPort.Frame(TLogRole::FoundFrame, selection);
  }
  // Lines came in while the view looked elsewhere: say so, without a control of its own.
  FMarker = {};
  if (const std::string note = FModel.NewLinesMarker(); !note.empty())
    FMarker = FPort.DrawMarker(note);
}
