#pragma once

// The log view's find bar: a thin row of the system's controls, children of the view, along
// its bottom edge. F3 and Shift+F3 from any of its controls, Enter and Shift+Enter in its text
// find the next and previous match; Escape in any of them closes it.
#include <windows.h>

#include <string>

class TLogController;

class TFindBar {
 public:
  // The ids of its controls, among the view's.
  enum : int { kText = 4, kCase, kPrevious, kNext, kStatus, kClose };

  TFindBar(HWND view, TLogController& controller);

  void SetFont(HFONT font);
  // Along the bottom of `width` at `top`, `height` high, scaled for `dpi`; shown or hidden.
  void Place(int top, int width, int height, int dpi, bool shown);
  // The focus to the text, all of it selected.
  void Focus();
  bool HasFocus() const;
  void SetStatus(const std::string& status);  // UTF-8
  // A control's WM_COMMAND: true when it was the bar's.
  bool Command(WPARAM w);

 private:
  HWND Control(int id) const { return ::GetDlgItem(FView, id); }
  void TextChanged();
  static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                      DWORD_PTR bar);

  HWND FView;
  TLogController& FController;
};
