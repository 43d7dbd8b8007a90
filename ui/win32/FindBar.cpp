#include "ui/win32/FindBar.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/log/LogController.h"
#include "ui/log/LogTexts.h"
#include "ui/win32/Application.h"

TFindBar::TFindBar(HWND view, TLogController& controller) : FView(view), FController(controller) {
  struct TPart {
    int Id;
    const wchar_t* Type;
    const char* Text;  // UTF-8
    DWORD Style;
    DWORD ExStyle;
  };
  const TPart parts[] = {
      {kText, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
      {kCase, L"BUTTON", TLogTexts::kMatchCase, BS_AUTOCHECKBOX | WS_TABSTOP, 0},
      {kPrevious, L"BUTTON", TLogTexts::kPrevious, BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kNext, L"BUTTON", TLogTexts::kNext, BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kStatus, L"STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE, 0},
      {kClose, L"BUTTON", TLogTexts::kClose, BS_PUSHBUTTON | WS_TABSTOP, 0},
  };
  for (const TPart& part : parts)
    ::CreateWindowExW(part.ExStyle, part.Type, TApplication::FromUtf8(part.Text).c_str(),
                      WS_CHILD | part.Style, 0, 0, 0, 0, FView,
                      reinterpret_cast<HMENU>(INT_PTR{part.Id}), TApplication::Instance(),
                      nullptr);
  const std::wstring cue = TApplication::FromUtf8(TLogTexts::kFindPlaceholder);
  ::SendMessageW(Control(kText), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
  for (int id : {kText, kCase, kPrevious, kNext, kClose})
    ::SetWindowSubclass(Control(id), &TFindBar::ControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TFindBar::SetFont(HFONT font) {
  for (int id = kText; id <= kClose; ++id)
    ::SendMessageW(Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void TFindBar::Place(int top, int width, int height, int dpi, bool shown) {
  const auto scale = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
  struct TSlot {
    int Id;
    int Width;
  };
  const TSlot slots[] = {{kText, 200}, {kCase, 120},   {kPrevious, 70},
                         {kNext, 70},  {kStatus, 320}, {kClose, 60}};
  int x = scale(4);
  for (const TSlot& slot : slots) {
    const int size =
        slot.Id == kStatus ? std::max(scale(40), width - x - scale(68)) : scale(slot.Width);
    ::MoveWindow(Control(slot.Id), x, top + scale(2), size, std::max(0, height - scale(4)), TRUE);
    ::ShowWindow(Control(slot.Id), shown ? SW_SHOW : SW_HIDE);
    x += size + scale(6);
  }
}

void TFindBar::Focus() {
  ::SetFocus(Control(kText));
  ::SendMessageW(Control(kText), EM_SETSEL, 0, -1);
}

bool TFindBar::HasFocus() const {
  return ::GetParent(::GetFocus()) == FView;
}

void TFindBar::SetStatus(const std::string& status) {
  ::SetWindowTextW(Control(kStatus), TApplication::FromUtf8(status).c_str());
}

void TFindBar::TextChanged() {
  wchar_t text[512] = L"";
  const int length = ::GetWindowTextW(Control(kText), text, 512);
  const bool match_case = ::SendMessageW(Control(kCase), BM_GETCHECK, 0, 0) == BST_CHECKED;
  FController.FindText(std::u16string(text, text + std::max(0, length)), match_case);
}

bool TFindBar::Command(WPARAM w) {
  switch (LOWORD(w)) {
    case kText:
      if (HIWORD(w) == EN_CHANGE) TextChanged();
      return true;
    case kCase:
      TextChanged();
      return true;
    case kPrevious:
    case kNext:
      FController.FindNext(LOWORD(w) == kNext);
      return true;
    case kClose:
      FController.CloseFind();
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK TFindBar::ControlProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                       DWORD_PTR bar) {
  auto* self = reinterpret_cast<TFindBar*>(bar);
  const bool text = ::GetDlgCtrlID(window) == kText;
  const bool button = !text && ::GetDlgCtrlID(window) != kCase;
  // Not the dialog manager's, here: Escape would cancel the window, Enter press its default.
  if (message == WM_GETDLGCODE && (w == VK_ESCAPE || (w == VK_RETURN && (text || button))))
    return ::DefSubclassProc(window, message, w, l) | DLGC_WANTMESSAGE;
  if (message == WM_KEYDOWN && (w == VK_ESCAPE || w == VK_F3 || (w == VK_RETURN && text))) {
    return Handled(window, [&]() -> LRESULT {
      if (w == VK_ESCAPE)
        self->FController.CloseFind();
      else
        self->FController.FindNext((::GetKeyState(VK_SHIFT) & 0x8000) == 0);
      return 0;
    });
  }
  if (message == WM_KEYDOWN && w == VK_RETURN && button) {
    ::SendMessageW(window, BM_CLICK, 0, 0);
    return 0;
  }
  if (message == WM_CHAR && (w == L'\r' || w == 27)) return 0;  // no beep
  return ::DefSubclassProc(window, message, w, l);
}
