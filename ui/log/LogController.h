#pragma once

// A log view's behaviour without a toolkit: appends, the keys, the mouse's selection, the
// context menu, copy, find with its bar, the save in slices with its strip, clear, and what a
// paint draws. A front end turns its toolkit's events into the controller's calls and does
// what the controller asks through TLogViewPort, a passive view.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/log/LogModel.h"
#include "ui/log/LogSave.h"

// What a paint draws in, each front end with its colours.
enum class TLogRole {
  Background,
  Text,
  Match,         // a match's band, under the text
  MatchText,     // a match's text again, over the band (nothing where the band is see-through)
  Selection,     // the selection's band
  SelectedText,  // the selected text, over the band
  FoundFrame,    // around the selection while find is open (nothing where not framed)
};

struct TLogRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool Contains(float x, float y) const {
    return x >= Left && x < Right && y >= Top && y < Bottom;
  }
};

// A run of characters, as shown, from X on the row at Top: Advances holds each UTF-16 unit's
// advance in whole pixels (0 for the second unit of a pair); Clip, when set, bounds the drawing.
struct TLogRun {
  TLogRole Role;
  float X;
  int Top;
  std::u16string_view Text;
  std::span<const int> Advances;
  const TLogRect* Clip;
};

// The slices of work that run after the event loop's turn.
enum class TLogWork { Find, Save };

// The keys a log view takes, whatever the toolkit calls them.
struct TLogKeyPress {
  enum TCode {
    C,
    Insert,
    A,
    F,
    S,
    L,
    Escape,
    F3,
    Up,
    Down,
    PageUp,
    PageDown,
    Left,
    Right,
    Home,
    End,
    Other
  };
  TCode Code = Other;
  bool Control = false;
  bool Shift = false;
};

// A scroll bar's request: a line or a page back or forward, an end, or to a position.
enum class TLogScroll { LineBack, LineForward, PageBack, PageForward, Start, End, To };

// The context menu's commands.
enum class TLogCommand { Copy, SelectAll, Find, Save, Clear };
struct TLogMenuEntry {
  TLogCommand Command;
  const char* Text;      // UTF-8, French
  const char* Shortcut;  // "Ctrl+C"
  bool Enabled;
  bool SeparatorBefore;
};

// What the controller asks of a front end.
class TLogViewPort {
 public:
  virtual void Repaint() = 0;
  // The scroll bars brought to where the model stands, and a repaint.
  virtual void SyncScrollBars() = 0;
  // The next slice of a work after the event loop's turn, or none.
  virtual void StartWork(TLogWork work) = 0;
  virtual void StopWork(TLogWork work) = 0;
  // While a drag stands beyond an edge: a timer that calls AutoScrollTick.
  virtual void StartAutoScroll() = 0;
  virtual void StopAutoScroll() = 0;
  virtual void PutOnClipboard(std::u16string_view text) = 0;
  // The selection buffer of X11, where the toolkit has one.
  virtual bool HasSelectionBuffer() const = 0;
  virtual void PutOnSelectionBuffer(std::u16string_view text) = 0;
  // Where to save, asked with the system's dialog; empty: nowhere.
  virtual std::filesystem::path AskSavePath() = 0;
  // The default handler's box.
  virtual void ShowError(const std::exception& error) = 0;
  // The find bar shown or hidden (the bars placed anew), focused, its status.
  virtual void ShowFindBar(bool shown) = 0;
  virtual void FocusFindBar() = 0;
  virtual void SetFindStatus(const std::string& status) = 0;  // UTF-8
  // The save strip, with its text (UTF-8); an empty text hides it.
  virtual void ShowSaveStrip(const std::string& text) = 0;
  virtual void FocusLog() = 0;

  // --- A paint, in viewport coordinates.
  virtual void Fill(TLogRole role, const TLogRect& rect) = 0;
  virtual void Frame(TLogRole role, const TLogRect& rect) = 0;
  virtual void DrawRun(const TLogRun& run) = 0;
  // "New lines below" at the viewport's bottom right corner: where it was drawn.
  virtual TLogRect DrawMarker(const std::string& note) = 0;

 protected:
  ~TLogViewPort() = default;
};

class TLogController {
 public:
  static constexpr auto kSlice = std::chrono::milliseconds(10);

  // `capacity` counts characters as the platform's rich-text control does; `line_break` ends
  // lines in a copy and in a save.
  TLogController(TLogViewPort& port, std::uint64_t capacity, std::string line_break);
  ~TLogController();
  TLogController(const TLogController&) = delete;
  TLogController& operator=(const TLogController&) = delete;

  TLogModel& Model() { return FModel; }
  const TLogModel& Model() const { return FModel; }

  // Appends each line, followed by a line break, in order, as long as they fit whole: the one
  // check of what fits. Returns how many went in.
  std::size_t Append(std::span<const std::string> lines);
  // The same, raising ELineInsertionError when a line does not fit; the lines before it stay.
  void AppendAll(std::span<const std::string> lines);

  // After the model's metrics, viewport or scroll changed.
  void Sync() { FPort.SyncScrollBars(); }

  void SelectAll();
  void Select(TLogModel::TPosition from, TLogModel::TPosition to);
  std::u16string SelectedText() const { return FModel.SelectedText(FLineBreakUtf16); }
  void Copy();

  // Find: the bar opens, a new text, the next or previous match (opening the bar when there is
  // nothing to find again), the bar closes with the focus back on the log.
  void OpenFind();
  void CloseFind();
  void FindText(std::u16string_view needle, bool match_case);
  void FindNext(bool forward);
  // A slice of the search, then of the count.
  void FindWork();

  void SaveLog();
  void SaveWork();
  void CancelSave();
  bool Saving() const { return FSave != nullptr; }
  std::string SaveProgress() const { return FSave ? FSave->Progress() : std::string(); }

  // Empties the log: a save stops, find closes; lines go on coming.
  void ClearLog();

  // A request of the vertical or the horizontal scroll bar.
  void Scroll(bool vertical, TLogScroll request, int position = 0);
  // A turn of the wheel, 120 a notch as toolkits count it: a notch scrolls `lines_per_notch`
  // lines, or a page at kWheelPage; what is less than a notch waits for the next turn.
  static constexpr int kWheelPage = -1;
  void Wheel(int delta, int lines_per_notch);

  // True when the controller took the key.
  bool Key(const TLogKeyPress& key);

  // A left button's press (true when it begins a selection), the mouse moving, the auto-scroll
  // timer, the release, a double click.
  bool MousePress(int x, int y, bool shift);
  bool MouseMove(int x, int y);
  void AutoScrollTick();
  void MouseRelease();
  void DoubleClick(int x, int y);

  std::vector<TLogMenuEntry> MenuEntries() const;
  void Execute(TLogCommand command);

  // What a paint of an area of that size draws, through the port's Fill, Frame, DrawRun and
  // DrawMarker.
  void Paint(int width, int height);

 private:
  void EndSave();
  void ShareSelection();
  // The characters of `bytes` between from_x and to_x, in runs between tabs.
  void DrawLine(std::string_view bytes, int top, float from_x, float to_x, TLogRole role,
                const TLogRect* clip);

  TLogViewPort& FPort;
  TLogModel FModel;
  const std::string FLineBreak;
  const std::u16string FLineBreakUtf16;
  std::unique_ptr<TLogSave> FSave;
  bool FSelecting = false;
  int FLastX = 0, FLastY = 0;
  int FWheel = 0;    // wheel movement not yet turned into notches
  TLogRect FMarker;  // where "new lines below" was drawn, when it was
  std::u16string FRun;
  std::vector<int> FAdvances;
  std::vector<TLogRect> FMatches;  // of the row being painted
};
