#pragma once

// The log view of the Win32 window: a read-only log of 8-bit text lines in the host's ANSI
// code page. The model keeps the text compactly and says what is in sight; the view paints
// only that, through a back buffer, and turns mouse, keyboard and scroll bars into the
// model's calls.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/LogModel.h"

class TLogView {
 public:
  static constexpr const wchar_t* kClassName = L"TLogView";
  // Commands of the context menu and ids of the find bar's controls.
  enum : int {
    kCopyCommand = 1,
    kSelectAllCommand,
    kFindCommand,
    kFindText,
    kFindCase,
    kFindPrevious,
    kFindNext,
    kFindStatus,
    kFindClose
  };

  // `capacity` counts characters as the platform's rich-text control does.
  TLogView(HWND parent, int id, std::uint64_t capacity);
  ~TLogView();
  TLogView(const TLogView&) = delete;
  TLogView& operator=(const TLogView&) = delete;

  HWND Handle() const { return FWindow; }

  // Appends each line, followed by a line break, as a new last line, in order. A line that
  // does not fit whole raises ELineInsertionError; the lines before it stay.
  void AppendLines(std::span<const std::string> lines);
  std::uint64_t FreeCharacters() const { return FModel.FreeCharacters(); }
  std::uint64_t LineCount() const { return FModel.LineCount(); }

  // The background and the colour of all text, until the next call. Until the first call,
  // the system's window colour and window-text colour.
  void SetColors(COLORREF background, COLORREF text);
  COLORREF BackgroundColor() const;
  COLORREF TextColor() const;

  // Arial 8 at `dpi` dots per inch.
  void SetDpi(int dpi);

  void SelectAll();
  // The selection as text on the clipboard, lines ended by CR LF.
  void Copy() const;

  const TLogModel& Model() const { return FModel; }

  // Find: Ctrl+F (or "Find..." in the context menu) opens a thin bar at the view's bottom,
  // F3 and Shift+F3, Enter and Shift+Enter in its text find the next and previous match,
  // Escape closes it and gives the focus back to the view, the match still selected.
  void OpenFind();
  void CloseFind();
  void FindNext(bool forward);
  HWND FindControl(int id) const { return ::GetDlgItem(FWindow, id); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);

  void UpdateMetrics();
  void Sync();  // the scroll bars to where the model stands, and a repaint
  void Paint();
  void DrawLine(HDC dc, std::string_view bytes, int top, int from_x, int to_x);
  void OnScroll(int bar, int request);
  bool OnKey(WPARAM key);
  void OnContextMenu(int x, int y);
  void ExtendSelectionTo(int x, int y);
  void CreateFindBar();
  void PlaceFindBar();
  void FindTextChanged();
  void FindWork();
  static LRESULT CALLBACK FindTextProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                       DWORD_PTR view);

  HWND FWindow = nullptr;
  TLogModel FModel;
  HFONT FFont = nullptr;
  HFONT FBarFont = nullptr;  // the find bar's, Tahoma 8 as the window's controls
  int FBarHeight = 0;        // while the find bar is open
  RECT FNewLinesMarker{};    // where "new lines below" is drawn, when it is
  int FDpi = 96;
  int FAdvance[256] = {};
  COLORREF FBackground = CLR_INVALID;  // CLR_INVALID: the system's
  COLORREF FForeground = CLR_INVALID;
  bool FSelecting = false;
  POINT FLastMouse{};
  int FWheel = 0;  // wheel movement not yet turned into lines
  // The back buffer, kept between paints.
  HDC FBufferDc = nullptr;
  HBITMAP FBuffer = nullptr;
  HGDIOBJ FBufferDcBitmap = nullptr;  // what the buffer's context held before FBuffer
  SIZE FBufferSize{};
  std::wstring FRun;
  std::vector<INT> FDx;
};
