#include "ui/win32/LogView.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "ui/win32/Application.h"

namespace {

constexpr UINT_PTR kAutoScrollTimer = 1;
constexpr UINT_PTR kFindTimer = 2;
constexpr UINT kFindWork = WM_APP + 2;

bool Pressed(int key) {
  return (::GetKeyState(key) & 0x8000) != 0;
}

}  // namespace

TLogView::TLogView(HWND parent, int id, std::uint64_t capacity) : FModel(capacity) {
  static const bool registered = [] {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.style = CS_DBLCLKS;
    type.lpfnWndProc = &TLogView::WindowProc;
    type.hInstance = TApplication::Instance();
    type.hCursor = ::LoadCursorW(nullptr, IDC_IBEAM);
    type.lpszClassName = kClassName;
    return ::RegisterClassExW(&type) != 0;
  }();
  (void)registered;
  ::CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, L"",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | WS_CLIPSIBLINGS,
                    0, 0, 0, 0, parent, reinterpret_cast<HMENU>(INT_PTR{id}),
                    TApplication::Instance(), this);
  CreateFindBar();
  SetDpi(96);
}

TLogView::~TLogView() {
  if (FWindow && ::IsWindow(FWindow)) {
    ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    ::DestroyWindow(FWindow);
  }
  if (FBufferDc) ::DeleteDC(FBufferDc);
  if (FBuffer) ::DeleteObject(FBuffer);
  if (FFont) ::DeleteObject(FFont);
  if (FBarFont) ::DeleteObject(FBarFont);
}

LRESULT CALLBACK TLogView::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TLogView*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    self->FWindow = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TLogView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, w, l);
  return Handled(window, [&] { return self->Handle(message, w, l); });
}

void TLogView::AppendLines(std::span<const std::string> lines) {
  const std::size_t appended = FModel.AppendLines(lines);
  if (appended > 0) Sync();
  if (appended > 0 && FModel.FindOpen()) ::PostMessageW(FWindow, kFindWork, 0, 0);
  if (appended < lines.size()) throw ELineInsertionError();
}

void TLogView::SetColors(COLORREF background, COLORREF text) {
  FBackground = background;
  FForeground = text;
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

COLORREF TLogView::BackgroundColor() const {
  return FBackground != CLR_INVALID ? FBackground : ::GetSysColor(COLOR_WINDOW);
}

COLORREF TLogView::TextColor() const {
  return FForeground != CLR_INVALID ? FForeground : ::GetSysColor(COLOR_WINDOWTEXT);
}

void TLogView::SetDpi(int dpi) {
  FDpi = dpi;
  if (FFont) ::DeleteObject(FFont);
  FFont = ::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                        ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, L"Arial");
  if (FBarFont) ::DeleteObject(FBarFont);
  FBarFont = ::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  for (int id = kFindText; id <= kFindClose; ++id)
    ::SendMessageW(FindControl(id), WM_SETFONT, reinterpret_cast<WPARAM>(FBarFont), TRUE);
  UpdateMetrics();
  PlaceFindBar();
}

void TLogView::CreateFindBar() {
  struct TPart {
    int Id;
    const wchar_t* Type;
    const wchar_t* Text;
    DWORD Style;
    DWORD ExStyle;
  };
  const TPart parts[] = {
      {kFindText, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
      {kFindCase, L"BUTTON", L"Match case", BS_AUTOCHECKBOX | WS_TABSTOP, 0},
      {kFindPrevious, L"BUTTON", L"Previous", BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kFindNext, L"BUTTON", L"Next", BS_PUSHBUTTON | WS_TABSTOP, 0},
      {kFindStatus, L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE, 0},
      {kFindClose, L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, 0},
  };
  for (const TPart& part : parts)
    ::CreateWindowExW(part.ExStyle, part.Type, part.Text, WS_CHILD | part.Style, 0, 0, 0, 0,
                      FWindow, reinterpret_cast<HMENU>(INT_PTR{part.Id}), TApplication::Instance(),
                      nullptr);
  ::SetWindowSubclass(FindControl(kFindText), &TLogView::FindTextProc, 1,
                      reinterpret_cast<DWORD_PTR>(this));
}

// Along the view's bottom edge, inside it; the text stands above it.
void TLogView::PlaceFindBar() {
  RECT client;
  ::GetClientRect(FWindow, &client);
  FBarHeight = FModel.FindOpen() ? ::MulDiv(26, FDpi, 96) : 0;
  const int top = client.bottom - FBarHeight;
  const auto scale = [this](int pixels) { return ::MulDiv(pixels, FDpi, 96); };
  struct TSlot {
    int Id;
    int Width;
  };
  const TSlot slots[] = {{kFindText, 200}, {kFindCase, 90},    {kFindPrevious, 70},
                         {kFindNext, 70},  {kFindStatus, 320}, {kFindClose, 60}};
  int x = scale(4);
  for (const TSlot& slot : slots) {
    const int width = slot.Id == kFindStatus
                          ? std::max(scale(40), static_cast<int>(client.right) - x - scale(68))
                          : scale(slot.Width);
    ::MoveWindow(FindControl(slot.Id), x, top + scale(2), width, FBarHeight - scale(4), TRUE);
    ::ShowWindow(FindControl(slot.Id), FModel.FindOpen() ? SW_SHOW : SW_HIDE);
    x += width + scale(6);
  }
  FModel.SetViewport(client.right, client.bottom - FBarHeight);
}

void TLogView::OpenFind() {
  FModel.OpenFind();
  PlaceFindBar();
  ::SetFocus(FindControl(kFindText));
  ::SendMessageW(FindControl(kFindText), EM_SETSEL, 0, -1);
  Sync();
}

void TLogView::CloseFind() {
  FModel.CloseFind();
  PlaceFindBar();
  ::SetFocus(FWindow);
  Sync();
}

void TLogView::FindNext(bool forward) {
  if (!FModel.FindAgain(forward)) return OpenFind();
  FindWork();
}

void TLogView::FindTextChanged() {
  wchar_t text[512] = L"";
  const int length = ::GetWindowTextW(FindControl(kFindText), text, 512);
  const bool match_case = ::SendMessageW(FindControl(kFindCase), BM_GETCHECK, 0, 0) == BST_CHECKED;
  FModel.FindText(std::u16string(text, text + std::max(0, length)), match_case);
  FindWork();
}

// A slice of the search, then of the count. The next slice waits while input is queued: a
// posted message would otherwise come before it.
void TLogView::FindWork() {
  ::KillTimer(FWindow, kFindTimer);
  const bool more = FModel.ContinueFind(std::chrono::milliseconds(10));
  ::SetWindowTextW(FindControl(kFindStatus), TApplication::FromUtf8(FModel.FindStatus()).c_str());
  Sync();
  if (!more) return;
  if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0)
    ::SetTimer(FWindow, kFindTimer, USER_TIMER_MINIMUM, nullptr);
  else
    ::PostMessageW(FWindow, kFindWork, 0, 0);
}

LRESULT CALLBACK TLogView::FindTextProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                        DWORD_PTR view) {
  auto* self = reinterpret_cast<TLogView*>(view);
  if (message == WM_GETDLGCODE && (w == VK_RETURN || w == VK_ESCAPE))
    return DLGC_WANTALLKEYS;  // not the dialog manager's, here
  if (message == WM_KEYDOWN && (w == VK_RETURN || w == VK_ESCAPE || w == VK_F3)) {
    return Handled(window, [&]() -> LRESULT {
      if (w == VK_ESCAPE)
        self->CloseFind();
      else
        self->FindNext(!Pressed(VK_SHIFT));
      return 0;
    });
  }
  if (message == WM_CHAR && (w == L'\r' || w == 27)) return 0;  // no beep
  return ::DefSubclassProc(window, message, w, l);
}

void TLogView::UpdateMetrics() {
  HDC dc = ::GetDC(FWindow);
  const HGDIOBJ before = ::SelectObject(dc, FFont);
  float advance[256];
  for (int byte = 0; byte < 256; ++byte) {
    const wchar_t c =
        static_cast<wchar_t>(FModel.CodePage().Displayed(static_cast<unsigned char>(byte)));
    INT width = 0;
    ::GetCharWidth32W(dc, c, c, &width);
    FAdvance[byte] = width;
    advance[byte] = static_cast<float>(width);
  }
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, before);
  ::ReleaseDC(FWindow, dc);
  // Tab stops every half inch, as in a rich-text control.
  FModel.SetMetrics(advance, static_cast<float>(FDpi) / 2,
                    metrics.tmHeight + metrics.tmExternalLeading);
  Sync();
}

void TLogView::Sync() {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  const auto rows = static_cast<std::uint64_t>(FModel.Rows());
  info.nMax = static_cast<int>(std::min<std::uint64_t>(FModel.MaxTop() + rows - 1, INT32_MAX));
  info.nPage = static_cast<UINT>(rows);
  info.nPos = static_cast<int>(std::min<std::uint64_t>(FModel.Top(), INT32_MAX));
  ::SetScrollInfo(FWindow, SB_VERT, &info, TRUE);
  info.nMax = FModel.MaxLeft() + FModel.ViewportWidth() - 1;
  info.nPage = static_cast<UINT>(std::max(1, FModel.ViewportWidth()));
  info.nPos = FModel.Left();
  ::SetScrollInfo(FWindow, SB_HORZ, &info, TRUE);
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

void TLogView::SelectAll() {
  FModel.SelectAll();
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

void TLogView::Copy() const {
  if (!FModel.HasSelection()) return;
  const std::string bytes = FModel.SelectedBytes("\r\n");
  std::wstring text(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    text[i] =
        static_cast<wchar_t>(FModel.CodePage().Character(static_cast<unsigned char>(bytes[i])));
  if (!::OpenClipboard(FWindow)) return;
  ::EmptyClipboard();
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
    auto* out = static_cast<wchar_t*>(::GlobalLock(memory));
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

// Draws the characters of `bytes` that lie between from_x and to_x, in one call with each
// character's advance given, so that what is drawn stands exactly where the model says.
void TLogView::DrawLine(HDC dc, std::string_view bytes, int top, int from_x, int to_x) {
  const int origin = static_cast<int>(FModel.XOf(bytes, 0));
  float x = 0;
  int first_x = origin;
  FRun.clear();
  FDx.clear();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const float next = FModel.After(x, byte);
    if (origin + next <= from_x) {
      first_x = origin + static_cast<int>(next);
    } else {
      const wchar_t c =
          byte == '\t' ? L' ' : static_cast<wchar_t>(FModel.CodePage().Displayed(byte));
      FRun.push_back(c);
      FDx.push_back(static_cast<INT>(next) - static_cast<INT>(x));
      if (origin + next > to_x) break;
    }
    x = next;
  }
  if (!FRun.empty())
    ::ExtTextOutW(dc, first_x, top, 0, nullptr, FRun.c_str(), static_cast<UINT>(FRun.size()),
                  FDx.data());
}

void TLogView::Paint() {
  PAINTSTRUCT paint;
  HDC screen = ::BeginPaint(FWindow, &paint);
  RECT client;
  ::GetClientRect(FWindow, &client);
  const SIZE size{client.right, client.bottom};
  if (!FBufferDc || size.cx != FBufferSize.cx || size.cy != FBufferSize.cy) {
    if (!FBufferDc) FBufferDc = ::CreateCompatibleDC(screen);
    // The system refuses to delete a bitmap that a device context still holds.
    if (FBuffer) ::SelectObject(FBufferDc, FBufferDcBitmap);
    if (FBuffer) ::DeleteObject(FBuffer);
    FBuffer = ::CreateCompatibleBitmap(screen, std::max(1L, size.cx), std::max(1L, size.cy));
    FBufferDcBitmap = ::SelectObject(FBufferDc, FBuffer);
    FBufferSize = size;
  }
  HDC dc = FBufferDc;
  HBRUSH background = ::CreateSolidBrush(BackgroundColor());
  ::FillRect(dc, &client, background);
  ::DeleteObject(background);
  // Given back once painted, so that a font changed with the DPI can be deleted.
  const HGDIOBJ font_before = ::SelectObject(dc, FFont);
  ::SetBkMode(dc, TRANSPARENT);
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF highlighted = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
  const int height = FModel.LineHeight();
  for (int row = 0; row * height < size.cy; ++row) {
    const std::uint64_t line = FModel.Top() + static_cast<std::uint64_t>(row);
    if (line >= FModel.LineCount()) break;
    const std::string_view bytes = FModel.Line(line);
    const int top = row * height;
    if (FModel.FindOpen()) {
      HBRUSH found = ::CreateSolidBrush(RGB(255, 205, 80));
      FModel.Finder().ForEachMatch(bytes, [&](std::size_t at) {
        RECT band{static_cast<int>(FModel.XOf(bytes, at)), top,
                  static_cast<int>(FModel.XOf(bytes, at + FModel.Finder().Length())),
                  top + height};
        ::FillRect(dc, &band, found);
      });
      ::DeleteObject(found);
    }
    ::SetTextColor(dc, TextColor());
    DrawLine(dc, bytes, top, 0, size.cx);
    const TLogModel::TSpan selected = FModel.SelectedIn(line);
    if (selected.From == selected.To && !selected.ThroughEnd) continue;
    // The selected part again, on the highlight; a selected line break shows as a blank.
    const int left = static_cast<int>(FModel.XOf(bytes, selected.From));
    const int right = static_cast<int>(FModel.XOf(bytes, selected.To)) +
                      (selected.ThroughEnd ? FAdvance[' '] : 0);
    if (right <= left) continue;
    RECT band{left, top, right, top + height};
    HBRUSH brush = ::CreateSolidBrush(highlight);
    ::FillRect(dc, &band, brush);
    ::DeleteObject(brush);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, band.left, band.top, band.right, band.bottom);
    ::SetTextColor(dc, highlighted);
    DrawLine(dc, bytes, top, std::max(0, left), std::min<int>(size.cx, right));
    ::RestoreDC(dc, saved);
  }
  // Lines came in while the view looked elsewhere: say so, without a control of its own.
  FNewLinesMarker = {};
  if (const std::wstring note = TApplication::FromUtf8(FModel.NewLinesMarker()); !note.empty()) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, note.c_str(), static_cast<int>(note.size()), &extent);
    const int bottom = FModel.ViewportHeight() - 4;
    FNewLinesMarker = {size.cx - extent.cx - 16, bottom - extent.cy - 4, size.cx - 4, bottom};
    ::FillRect(dc, &FNewLinesMarker, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::SetTextColor(dc, highlighted);
    RECT text = FNewLinesMarker;
    ::DrawTextW(dc, note.c_str(), static_cast<int>(note.size()), &text,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, font_before);
  ::BitBlt(screen, 0, 0, size.cx, size.cy - FBarHeight, dc, 0, 0, SRCCOPY);
  if (FBarHeight > 0) {
    RECT bar{0, size.cy - FBarHeight, size.cx, size.cy};
    ::FillRect(screen, &bar, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  ::EndPaint(FWindow, &paint);
}

void TLogView::OnScroll(int bar, int request) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ::GetScrollInfo(FWindow, bar, &info);
  if (bar == SB_VERT) {
    switch (request) {
      case SB_LINEUP:
        FModel.ScrollBy(-1);
        break;
      case SB_LINEDOWN:
        FModel.ScrollBy(1);
        break;
      case SB_PAGEUP:
        FModel.ScrollPages(-1);
        break;
      case SB_PAGEDOWN:
        FModel.ScrollPages(1);
        break;
      case SB_TOP:
        FModel.ScrollTo(0);
        break;
      case SB_BOTTOM:
        FModel.ScrollToEnd();
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        FModel.ScrollTo(static_cast<std::uint64_t>(info.nTrackPos));
        break;
      default:
        return;
    }
  } else {
    const int step = TLogModel::kHorizontalStep;
    switch (request) {
      case SB_LINELEFT:
        FModel.ScrollLeftTo(FModel.Left() - step);
        break;
      case SB_LINERIGHT:
        FModel.ScrollLeftTo(FModel.Left() + step);
        break;
      case SB_PAGELEFT:
        FModel.ScrollLeftTo(FModel.Left() - FModel.ViewportWidth());
        break;
      case SB_PAGERIGHT:
        FModel.ScrollLeftTo(FModel.Left() + FModel.ViewportWidth());
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        FModel.ScrollLeftTo(info.nTrackPos);
        break;
      default:
        return;
    }
  }
  Sync();
}

bool TLogView::OnKey(WPARAM key) {
  const bool control = Pressed(VK_CONTROL);
  if ((control && key == 'C') || (control && key == VK_INSERT)) {
    Copy();
    return true;
  }
  if (control && key == 'A') {
    SelectAll();
    return true;
  }
  if (control && key == 'F') {
    OpenFind();
    return true;
  }
  if (key == VK_F3) {
    FindNext(!Pressed(VK_SHIFT));
    return true;
  }
  static constexpr std::pair<WPARAM, TLogKey> kKeys[] = {
      {VK_UP, TLogKey::Up},         {VK_DOWN, TLogKey::Down}, {VK_PRIOR, TLogKey::PageUp},
      {VK_NEXT, TLogKey::PageDown}, {VK_LEFT, TLogKey::Left}, {VK_RIGHT, TLogKey::Right},
      {VK_HOME, TLogKey::Home},     {VK_END, TLogKey::End}};
  const auto found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                  [key](const auto& pair) { return pair.first == key; });
  if (found == std::end(kKeys)) return false;
  FModel.Navigate(found->second, control, Pressed(VK_SHIFT));
  Sync();
  return true;
}

void TLogView::OnContextMenu(int x, int y) {
  if (x == -1 && y == -1) {  // from the keyboard: at the view's corner
    POINT corner{0, 0};
    ::ClientToScreen(FWindow, &corner);
    x = corner.x;
    y = corner.y;
  }
  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING | (FModel.HasSelection() ? 0 : MF_GRAYED), kCopyCommand,
                L"&Copy\tCtrl+C");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING | (FModel.LineCount() > 0 ? 0 : MF_GRAYED), kSelectAllCommand,
                L"Select &All\tCtrl+A");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, kFindCommand, L"&Find...\tCtrl+F");
  const int command =
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, FWindow, nullptr);
  ::DestroyMenu(menu);
  if (command == kCopyCommand) Copy();
  if (command == kSelectAllCommand) SelectAll();
  if (command == kFindCommand) OpenFind();
}

void TLogView::ExtendSelectionTo(int x, int y) {
  FLastMouse = {x, y};
  FModel.MoveCursor(FModel.PositionAt(x, y));
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

LRESULT TLogView::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers all
    case WM_SIZE:
      PlaceFindBar();
      Sync();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case kFindText:
          if (HIWORD(w) == EN_CHANGE) FindTextChanged();
          return 0;
        case kFindCase:
          FindTextChanged();
          return 0;
        case kFindPrevious:
        case kFindNext:
          FindNext(LOWORD(w) == kFindNext);
          return 0;
        case kFindClose:
          CloseFind();
          return 0;
        case kCopyCommand:
          Copy();
          return 0;
        case kSelectAllCommand:
          SelectAll();
          return 0;
        case kFindCommand:
          OpenFind();
          return 0;
        default:
          break;
      }
      break;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    case kFindWork:
      FindWork();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_VSCROLL:
      OnScroll(SB_VERT, LOWORD(w));
      return 0;
    case WM_HSCROLL:
      OnScroll(SB_HORZ, LOWORD(w));
      return 0;
    case WM_MOUSEWHEEL: {
      UINT per_notch = 3;
      ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &per_notch, 0);
      FWheel += GET_WHEEL_DELTA_WPARAM(w);
      const int lines = FWheel / WHEEL_DELTA * static_cast<int>(per_notch);
      FWheel %= WHEEL_DELTA;
      FModel.ScrollBy(-lines);
      Sync();
      return 0;
    }
    case WM_KEYDOWN:
      if (OnKey(w)) return 0;
      break;
    case WM_LBUTTONDOWN: {
      const POINT point{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
      if (::PtInRect(&FNewLinesMarker, point)) {
        FModel.ScrollToEnd();
        Sync();
        return 0;
      }
      ::SetFocus(FWindow);
      ::SetCapture(FWindow);
      const TLogModel::TPosition at = FModel.PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      FModel.Select((w & MK_SHIFT) ? FModel.Anchor() : at, at);
      FSelecting = true;
      FLastMouse = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (!FSelecting) break;
      ExtendSelectionTo(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      if (FModel.DragBeyondEdge(FLastMouse.x, FLastMouse.y))
        ::SetTimer(FWindow, kAutoScrollTimer, 50, nullptr);
      else
        ::KillTimer(FWindow, kAutoScrollTimer);
      return 0;
    }
    case WM_TIMER:
      if (w == kFindTimer) {
        FindWork();
        return 0;
      }
      if (w != kAutoScrollTimer || !FSelecting) break;
      FModel.DragStep(FLastMouse.x, FLastMouse.y);
      Sync();
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      FSelecting = false;
      ::KillTimer(FWindow, kAutoScrollTimer);
      if (message == WM_LBUTTONUP) ::ReleaseCapture();
      return 0;
    case WM_LBUTTONDBLCLK:
      FModel.SelectWordAt(FModel.PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l)));
      FSelecting = false;
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      return 0;
    case WM_NCDESTROY: {
      const HWND window = FWindow;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      FWindow = nullptr;
      return ::DefWindowProcW(window, message, w, l);
    }
    default:
      break;
  }
  return ::DefWindowProcW(FWindow, message, w, l);
}
