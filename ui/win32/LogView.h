#pragma once

// The log view of the Win32 window: a read-only log of text lines, their bytes read as the
// host's text (UTF-8 where they form it, each other byte as the ANSI code page reads it).
// The controller decides what each event does and what a paint draws; the view turns mouse,
// keyboard and scroll bars into its calls and draws through a back buffer. Its
// window text, "Journal", is its name for screen readers.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/log/LogController.h"
#include "ui/win32/FindBar.h"

class TFontFallback;  // the fonts the log's characters are drawn with

class TLogView : private TLogViewPort {
 public:
  static constexpr const wchar_t* kClassName = L"TLogView";
  // Commands of the context menu and ids of the find bar's controls.
  enum : int {
    kCopyCommand = 1,
    kSelectAllCommand,
    kFindCommand,
    kFindText = TFindBar::kText,
    kFindCase = TFindBar::kCase,
    kFindPrevious = TFindBar::kPrevious,
    kFindNext = TFindBar::kNext,
    kFindStatus = TFindBar::kStatus,
    kFindClose = TFindBar::kClose,
    kSaveCommand,
    kClearCommand,
    kSaveStrip
  };

  // `capacity` counts characters as the platform's rich-text control does.
  TLogView(HWND parent, int id, std::uint64_t capacity);
  ~TLogView();
  TLogView(const TLogView&) = delete;
  TLogView& operator=(const TLogView&) = delete;

  HWND Handle() const { return FWindow; }
  // The view of a window this class made.
  static TLogView* FromHandle(HWND window);

  TLogController& Controller() { return FController; }
  // Appends each line, followed by a line break, as a new last line, in order. A line that
  // does not fit whole raises ELineInsertionError; the lines before it stay.
  void AppendLines(std::span<const std::string> lines) { FController.AppendAll(lines); }
  std::uint64_t FreeCharacters() const { return Model().FreeCharacters(); }
  std::uint64_t LineCount() const { return Model().LineCount(); }

  // The background and the colour of all text, until the next call. Until the first call,
  // the system's window colour and window-text colour.
  void SetColors(COLORREF background, COLORREF text);
  COLORREF BackgroundColor() const;
  COLORREF TextColor() const;

  // Arial 8 at `dpi` dots per inch; a character Arial lacks in the first font of the system
  // that has it.
  void SetDpi(int dpi);

  const TLogModel& Model() const { return FController.Model(); }
  HWND FindControl(int id) const { return ::GetDlgItem(FWindow, id); }

  // Find: Ctrl+F (or "Rechercher..." in the context menu) opens a thin bar at the view's
  // bottom, F3 and Shift+F3 (from the view or any control of the bar), Enter and Shift+Enter
  // in its text find the next and previous match, Escape in any of its controls closes it.
  // Save: Ctrl+S (or "Enregistrer le journal..."), Escape in the view cancels; copies and
  // saves end lines with CR LF. Ctrl+L (or "Effacer le journal") empties the view.
  bool Saving() const { return FController.Saving(); }
  void ClearLog() { FController.ClearLog(); }
  // Asks where to save, proposing a path (ProposedSaveFile); an empty answer saves nothing. By
  // default the system's save dialog.
  using TAskSavePath = std::function<std::wstring(const std::wstring& proposed)>;
  void SetAskSavePath(TAskSavePath ask) { FAskSavePath = std::move(ask); }

  // The context menu, as a right click shows it; the caller destroys it.
  HMENU CreateContextMenu() const;

 private:
  static constexpr UINT_PTR kAutoScrollTimer = 1;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);

  // TLogViewPort
  void Repaint() override { ::InvalidateRect(FWindow, nullptr, FALSE); }
  void SyncScrollBars() override;
  void StartWork(TLogWork work) override;
  void StopWork(TLogWork work) override;
  void StartAutoScroll() override { ::SetTimer(FWindow, kAutoScrollTimer, 50, nullptr); }
  void StopAutoScroll() override { ::KillTimer(FWindow, kAutoScrollTimer); }
  void PutOnClipboard(std::u16string_view text) override;
  bool HasSelectionBuffer() const override { return false; }
  void PutOnSelectionBuffer(std::u16string_view) override {}
  std::filesystem::path AskSavePath() override;
  void ShowError(const std::exception& error) override;
  void ShowFindBar(bool shown) override;
  void FocusFindBar() override { FFindBar->Focus(); }
  void SetFindStatus(const std::string& status) override { FFindBar->SetStatus(status); }
  void ShowSaveStrip(const std::string& text) override;
  void FocusLog() override { ::SetFocus(FWindow); }
  void Fill(TLogRole role, const TLogRect& rect) override;
  void Frame(TLogRole role, const TLogRect& rect) override;
  void DrawRun(const TLogRun& run) override;
  TLogRect DrawMarker(const std::string& note) override;

  void UpdateMetrics();
  void Paint();
  void OnScroll(int bar, int request);
  bool OnKey(WPARAM key);
  void OnContextMenu(int x, int y);
  // The find bar and the save strip along the bottom edge, the text above them.
  void PlaceBars();
  void ReadLocale();
  void PlaceCaret();

  HWND FWindow = nullptr;
  TLogController FController;
  std::unique_ptr<TFindBar> FFindBar;
  HFONT FFont = nullptr;
  std::unique_ptr<TFontFallback> FFallback;
  int FAscent = 0;           // FFont's: every font's text stands on its baseline
  HFONT FBarFont = nullptr;  // the find bar's, Tahoma 8 as the window's controls
  int FBarHeight = 0;        // the find bar's, while open, and the save strip's, while saving
  int FDpi = 96;
  COLORREF FBackground = CLR_INVALID;  // CLR_INVALID: the system's
  COLORREF FForeground = CLR_INVALID;
  // The back buffer, kept between paints, and the context a paint draws in.
  HDC FBufferDc = nullptr;
  HBITMAP FBuffer = nullptr;
  HGDIOBJ FBufferDcBitmap = nullptr;  // what the buffer's context held before FBuffer
  SIZE FBufferSize{};
  HDC FDc = nullptr;
  TAskSavePath FAskSavePath;
  bool FCaret = false;  // while the view has the focus
};
