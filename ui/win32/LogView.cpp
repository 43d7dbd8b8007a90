#include "ui/win32/LogView.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "ui/log/LogTexts.h"
#include "ui/log/Unicode.h"
#include "ui/win32/Application.h"
#include "ui/win32/FontFallback.h"
#include "ui/win32/SaveDialog.h"

namespace {

constexpr UINT_PTR kFindTimer = 2;
constexpr UINT_PTR kSaveTimer = 3;
constexpr UINT kFindWork = WM_APP + 2;
constexpr UINT kSaveWork = WM_APP + 3;

bool Pressed(int key) {
  return (::GetKeyState(key) & 0x8000) != 0;
}

// The next slice of a work after the event loop's turn: it waits while input is queued, which a
// posted message would otherwise come before.
void Again(HWND window, UINT message, UINT_PTR timer) {
  if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0)
    ::SetTimer(window, timer, USER_TIMER_MINIMUM, nullptr);
  else
    ::PostMessageW(window, message, 0, 0);
}

}  // namespace

TLogView::TLogView(HWND parent, int id, std::uint64_t capacity)
    : FController(*this, capacity, "\r\n") {
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
  // The window text names the view for screen readers.
  ::CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, TApplication::FromUtf8(TLogTexts::kName).c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL |
                        WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                    0, 0, 0, 0, parent, reinterpret_cast<HMENU>(INT_PTR{id}),
                    TApplication::Instance(), this);
  FAskSavePath = [this](const std::wstring& proposed) { return AskSaveFile(FWindow, proposed); };
  FFindBar = std::make_unique<TFindBar>(FWindow, FController);
  ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE,
                    0, 0, 0, 0, FWindow, reinterpret_cast<HMENU>(INT_PTR{kSaveStrip}),
                    TApplication::Instance(), nullptr);
  ReadLocale();
  SetDpi(96);
}

TLogView* TLogView::FromHandle(HWND window) {
  wchar_t type[32] = L"";
  ::GetClassNameW(window, type, 32);
  if (std::wstring_view(type) != kClassName) return nullptr;
  return reinterpret_cast<TLogView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

TLogView::~TLogView() {
  if (FWindow && ::IsWindow(FWindow)) {
    ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    ::DestroyWindow(FWindow);
  }
  if (FBufferDc) ::DeleteDC(FBufferDc);
  if (FBuffer) ::DeleteObject(FBuffer);
  FFallback.reset();
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
  FFallback.reset();
  if (FFont) ::DeleteObject(FFont);
  FFont = CreateFace(-::MulDiv(8, dpi, 72), L"Arial");
  FFallback = std::make_unique<TFontFallback>(FFont, -::MulDiv(8, dpi, 72));
  if (FBarFont) ::DeleteObject(FBarFont);
  FBarFont = CreateFace(-::MulDiv(8, dpi, 72), L"Tahoma");
  FFindBar->SetFont(FBarFont);
  ::SendMessageW(FindControl(kSaveStrip), WM_SETFONT, reinterpret_cast<WPARAM>(FBarFont), TRUE);
  UpdateMetrics();
  PlaceBars();
}

// The user's thousands separator, or a narrow no-break space when the locale states none.
void TLogView::ReadLocale() {
  wchar_t separator[8] = L"";
  const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
  FController.Model().SetThousandsSeparator(length > 1 ? TApplication::ToUtf8(separator)
                                                       : "\u202F");
}

// Along the view's bottom edge, inside it: the save strip, then the find bar; the text stands
// above them.
void TLogView::PlaceBars() {
  RECT client;
  ::GetClientRect(FWindow, &client);
  const auto scale = [this](int pixels) { return ::MulDiv(pixels, FDpi, 96); };
  const int find = Model().FindOpen() ? scale(26) : 0;
  const int strip = Saving() ? scale(20) : 0;
  FBarHeight = find + strip;
  const int top = client.bottom - find;
  ::MoveWindow(FindControl(kSaveStrip), scale(4), top - strip,
               std::max(0L, client.right - scale(8)), strip, TRUE);
  ::ShowWindow(FindControl(kSaveStrip), Saving() ? SW_SHOW : SW_HIDE);
  FFindBar->Place(top, client.right, find, FDpi, Model().FindOpen());
  FController.Model().SetViewport(client.right, client.bottom - FBarHeight);
}

void TLogView::ShowFindBar(bool shown) {
  // A hidden bar gives the focus back to the view.
  if (!shown && FFindBar->HasFocus()) ::SetFocus(FWindow);
  PlaceBars();
}

void TLogView::ShowSaveStrip(const std::string& text) {
  ::SetWindowTextW(FindControl(kSaveStrip), TApplication::FromUtf8(text).c_str());
  PlaceBars();
}

void TLogView::StartWork(TLogWork work) {
  if (work == TLogWork::Find)
    Again(FWindow, kFindWork, kFindTimer);
  else
    Again(FWindow, kSaveWork, kSaveTimer);
}

void TLogView::StopWork(TLogWork work) {
  ::KillTimer(FWindow, work == TLogWork::Find ? kFindTimer : kSaveTimer);
}

std::filesystem::path TLogView::AskSavePath() {
  return std::filesystem::path(FAskSavePath(ProposedSaveFile()));
}

void TLogView::ShowError(const std::exception& error) {
  TApplication::ShowException(FWindow, error.what());
}

void TLogView::UpdateMetrics() {
  HDC dc = ::GetDC(FWindow);
  const HGDIOBJ before = ::SelectObject(dc, FFont);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, before);
  ::ReleaseDC(FWindow, dc);
  FAscent = metrics.tmAscent;
  // Each character measured once, as met, in the font it is drawn with, as it is drawn; tab
  // stops every half inch, as in a rich-text control.
  FController.Model().SetMetrics(
      [this](char32_t shown) {
        HDC dc = ::GetDC(FWindow);
        const HGDIOBJ before = ::SelectObject(dc, FFallback->FontOf(shown));
        SIZE extent{};
        if (std::optional<WORD> glyph = FFallback->GlyphOf(shown)) {
          ::GetTextExtentPointI(dc, &*glyph, 1, &extent);
        } else {
          std::u16string text;
          AppendUtf16(text, shown);
          ::GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.c_str()),
                                  static_cast<int>(text.size()), &extent);
        }
        ::SelectObject(dc, before);
        ::ReleaseDC(FWindow, dc);
        return static_cast<float>(extent.cx);
      },
      static_cast<float>(FDpi) / 2, metrics.tmHeight + metrics.tmExternalLeading);
  FController.Sync();
}

void TLogView::SyncScrollBars() {
  const TLogModel& model = Model();
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  const auto rows = static_cast<std::uint64_t>(model.Rows());
  info.nMax = static_cast<int>(std::min<std::uint64_t>(model.MaxTop() + rows - 1, INT32_MAX));
  info.nPage = static_cast<UINT>(rows);
  info.nPos = static_cast<int>(std::min<std::uint64_t>(model.Top(), INT32_MAX));
  ::SetScrollInfo(FWindow, SB_VERT, &info, TRUE);
  info.nMax = model.MaxLeft() + model.ViewportWidth() - 1;
  info.nPage = static_cast<UINT>(std::max(1, model.ViewportWidth()));
  info.nPos = model.Left();
  ::SetScrollInfo(FWindow, SB_HORZ, &info, TRUE);
  ::InvalidateRect(FWindow, nullptr, FALSE);
}

void TLogView::PutOnClipboard(std::u16string_view text) {
  if (!::OpenClipboard(FWindow)) return;
  ::EmptyClipboard();
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
    auto* out = static_cast<wchar_t*>(::GlobalLock(memory));
    std::memcpy(out, text.data(), text.size() * sizeof(wchar_t));
    out[text.size()] = L'\0';
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

namespace {

RECT RectOf(const TLogRect& rect) {
  return {static_cast<int>(rect.Left), static_cast<int>(rect.Top), static_cast<int>(rect.Right),
          static_cast<int>(rect.Bottom)};
}

}  // namespace

// Matches and the selection in the system's highlight colours, as high-contrast themes set
// them; the match in hand, selected, is framed besides.
void TLogView::Fill(TLogRole role, const TLogRect& rect) {
  const RECT band = RectOf(rect);
  if (role != TLogRole::Background) {
    ::FillRect(FDc, &band, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    return;
  }
  HBRUSH background = ::CreateSolidBrush(BackgroundColor());
  ::FillRect(FDc, &band, background);
  ::DeleteObject(background);
}

void TLogView::Frame(TLogRole, const TLogRect& rect) {
  const RECT band = RectOf(rect);
  ::FrameRect(FDc, &band, ::GetSysColorBrush(COLOR_WINDOWTEXT));
}

// A call for each stretch of characters in one font, with each character's advance given, so
// that what is drawn stands exactly where the model says; every font's text stands on the log
// font's baseline. A character outside the Basic Multilingual Plane takes two units, which not
// every system gives one advance: it is drawn alone, at its place, by its glyph where it can.
void TLogView::DrawRun(const TLogRun& run) {
  ::SetTextColor(FDc,
                 run.Role == TLogRole::Text ? TextColor() : ::GetSysColor(COLOR_HIGHLIGHTTEXT));
  const int saved = ::SaveDC(FDc);
  if (run.Clip) {
    const RECT clip = RectOf(*run.Clip);
    ::IntersectClipRect(FDc, clip.left, clip.top, clip.right, clip.bottom);
  }
  ::SetTextAlign(FDc, TA_BASELINE | TA_LEFT);
  const auto* text = reinterpret_cast<const wchar_t*>(run.Text.data());
  const int y = run.Top + FAscent;
  std::size_t from = 0;  // the stretch's first unit, at from_x
  int x = static_cast<int>(run.X), from_x = x;
  const auto flush = [&](std::size_t to) {
    if (to > from)
      ::ExtTextOutW(FDc, from_x, y, 0, nullptr, text + from, static_cast<UINT>(to - from),
                    run.Advances.data() + from);
  };
  HFONT font = FFont;
  for (std::size_t at = 0; at < run.Text.size();) {
    const char32_t unit = run.Text[at];
    const bool pair = unit >= 0xD800 && unit < 0xDC00 && at + 1 < run.Text.size();
    const char32_t c =
        pair ? 0x10000 + ((unit - 0xD800) << 10) + (run.Text[at + 1] - 0xDC00) : unit;
    if (const HFONT its = FFallback->FontOf(c); its != font || pair) {
      flush(at);
      ::SelectObject(FDc, font = its);
      from = at;
      from_x = x;
    }
    x += run.Advances[at];
    at += pair ? 2 : 1;
    if (!pair) continue;
    if (const std::optional<WORD> glyph = FFallback->GlyphOf(c))
      ::ExtTextOutW(FDc, from_x, y, ETO_GLYPH_INDEX, nullptr,
                    reinterpret_cast<const wchar_t*>(&*glyph), 1, nullptr);
    else
      ::ExtTextOutW(FDc, from_x, y, 0, nullptr, text + from, 2, nullptr);
    from = at;
    from_x = x;
  }
  flush(run.Text.size());
  ::RestoreDC(FDc, saved);
}

TLogRect TLogView::DrawMarker(const std::string& text) {
  const std::wstring note = TApplication::FromUtf8(text);
  SIZE extent{};
  ::GetTextExtentPoint32W(FDc, note.c_str(), static_cast<int>(note.size()), &extent);
  const int bottom = Model().ViewportHeight() - 4;
  RECT marker{FBufferSize.cx - extent.cx - 16, bottom - extent.cy - 4, FBufferSize.cx - 4, bottom};
  ::FillRect(FDc, &marker, ::GetSysColorBrush(COLOR_HIGHLIGHT));
  ::SetTextColor(FDc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
  RECT inside = marker;
  ::DrawTextW(FDc, note.c_str(), static_cast<int>(note.size()), &inside,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  return {static_cast<float>(marker.left), static_cast<float>(marker.top),
          static_cast<float>(marker.right), static_cast<float>(marker.bottom)};
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
  FDc = FBufferDc;
  // Given back once painted, so that a font changed with the DPI can be deleted.
  const HGDIOBJ font_before = ::SelectObject(FDc, FFont);
  ::SetBkMode(FDc, TRANSPARENT);
  FController.Paint(size.cx, size.cy);
  ::SelectObject(FDc, font_before);
  // Focused, the view says so: a focus rectangle inside its edge, and the caret.
  if (FCaret) {
    RECT inside{1, 1, size.cx - 1, size.cy - FBarHeight - 1};
    ::SetTextColor(FDc, TextColor());
    ::SetBkColor(FDc, BackgroundColor());
    ::DrawFocusRect(FDc, &inside);
    PlaceCaret();
  }
  ::BitBlt(screen, 0, 0, size.cx, size.cy - FBarHeight, FDc, 0, 0, SRCCOPY);
  if (FBarHeight > 0) {
    RECT bar{0, size.cy - FBarHeight, size.cx, size.cy};
    ::FillRect(screen, &bar, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  ::EndPaint(FWindow, &paint);
}

// Where the selection's moving end is, when in sight; out of sight, hidden.
void TLogView::PlaceCaret() {
  const TLogModel& model = Model();
  const TLogModel::TPosition cursor = model.Cursor();
  const std::int64_t row =
      static_cast<std::int64_t>(cursor.Line) - static_cast<std::int64_t>(model.Top());
  const int x = static_cast<int>(model.XOf(model.Line(cursor.Line), cursor.Column));
  const bool shown = row >= 0 && row < model.Rows() && x >= 0 && x < model.ViewportWidth();
  ::SetCaretPos(shown ? x : -100, shown ? static_cast<int>(row) * model.LineHeight() : -100);
}

void TLogView::OnScroll(int bar, int request) {
  // The left and right ends share the top's and bottom's codes: the horizontal bar has none.
  static constexpr std::pair<int, TLogScroll> kRequests[] = {
      {SB_LINEUP, TLogScroll::LineBack}, {SB_LINEDOWN, TLogScroll::LineForward},
      {SB_PAGEUP, TLogScroll::PageBack}, {SB_PAGEDOWN, TLogScroll::PageForward},
      {SB_TOP, TLogScroll::Start},       {SB_BOTTOM, TLogScroll::End},
      {SB_THUMBTRACK, TLogScroll::To},   {SB_THUMBPOSITION, TLogScroll::To}};
  const auto found = std::find_if(std::begin(kRequests), std::end(kRequests),
                                  [request](const auto& pair) { return pair.first == request; });
  if (found == std::end(kRequests)) return;
  if (bar == SB_HORZ && (request == SB_TOP || request == SB_BOTTOM)) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ::GetScrollInfo(FWindow, bar, &info);
  FController.Scroll(bar == SB_VERT, found->second, info.nTrackPos);
}

bool TLogView::OnKey(WPARAM key) {
  using K = TLogKeyPress;
  static constexpr std::pair<WPARAM, K::TCode> kKeys[] = {{'C', K::C},
                                                          {VK_INSERT, K::Insert},
                                                          {'A', K::A},
                                                          {'F', K::F},
                                                          {'S', K::S},
                                                          {'L', K::L},
                                                          {VK_ESCAPE, K::Escape},
                                                          {VK_F3, K::F3},
                                                          {VK_UP, K::Up},
                                                          {VK_DOWN, K::Down},
                                                          {VK_PRIOR, K::PageUp},
                                                          {VK_NEXT, K::PageDown},
                                                          {VK_LEFT, K::Left},
                                                          {VK_RIGHT, K::Right},
                                                          {VK_HOME, K::Home},
                                                          {VK_END, K::End}};
  const auto found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                  [key](const auto& pair) { return pair.first == key; });
  return FController.Key({found == std::end(kKeys) ? K::Other : found->second, Pressed(VK_CONTROL),
                          Pressed(VK_SHIFT)});
}

namespace {

constexpr std::pair<int, TLogCommand> kCommands[] = {
    {TLogView::kCopyCommand, TLogCommand::Copy},
    {TLogView::kSelectAllCommand, TLogCommand::SelectAll},
    {TLogView::kFindCommand, TLogCommand::Find},
    {TLogView::kSaveCommand, TLogCommand::Save},
    {TLogView::kClearCommand, TLogCommand::Clear}};

}  // namespace

HMENU TLogView::CreateContextMenu() const {
  HMENU menu = ::CreatePopupMenu();
  for (const TLogMenuEntry& entry : FController.MenuEntries()) {
    if (entry.SeparatorBefore) ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    const auto id = std::find_if(std::begin(kCommands), std::end(kCommands),
                                 [&](const auto& pair) { return pair.second == entry.Command; });
    const std::wstring item =
        TApplication::FromUtf8(entry.Text) + L"\t" + TApplication::FromUtf8(entry.Shortcut);
    ::AppendMenuW(menu, MF_STRING | (entry.Enabled ? 0 : MF_GRAYED),
                  static_cast<UINT_PTR>(id->first), item.c_str());
  }
  return menu;
}

void TLogView::OnContextMenu(int x, int y) {
  if (x == -1 && y == -1) {  // from the keyboard: at the view's corner
    POINT corner{0, 0};
    ::ClientToScreen(FWindow, &corner);
    x = corner.x;
    y = corner.y;
  }
  HMENU menu = CreateContextMenu();
  const int command =
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, FWindow, nullptr);
  ::DestroyMenu(menu);
  if (command != 0) ::SendMessageW(FWindow, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

LRESULT TLogView::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers all
    case WM_SIZE:
      PlaceBars();
      FController.Sync();
      return 0;
    case WM_SETFOCUS:
      ::CreateCaret(FWindow, nullptr, 1, Model().LineHeight());
      FCaret = true;
      PlaceCaret();
      ::ShowCaret(FWindow);
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_KILLFOCUS:
      FCaret = false;
      ::DestroyCaret();
      ::InvalidateRect(FWindow, nullptr, FALSE);
      return 0;
    case WM_COMMAND:
      if (FFindBar->Command(w)) return 0;
      for (const auto& [id, command] : kCommands)
        if (LOWORD(w) == id) {
          FController.Execute(command);
          return 0;
        }
      break;
    case WM_CTLCOLORSTATIC: {
      // The status, the strip and the check box on the bar's own face, not on a white box.
      HDC dc = reinterpret_cast<HDC>(w);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case kFindWork:
      FController.FindWork();
      return 0;
    case kSaveWork:
      FController.SaveWork();
      return 0;
    case WM_GETDLGCODE:
      // Escape cancels a save here, rather than the window.
      return DLGC_WANTARROWS | DLGC_WANTCHARS |
             (w == VK_ESCAPE && Saving() ? DLGC_WANTMESSAGE : 0);
    case WM_VSCROLL:
      OnScroll(SB_VERT, LOWORD(w));
      return 0;
    case WM_HSCROLL:
      OnScroll(SB_HORZ, LOWORD(w));
      return 0;
    case WM_MOUSEWHEEL: {
      UINT per_notch = 3;
      ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &per_notch, 0);
      FController.Wheel(GET_WHEEL_DELTA_WPARAM(w), per_notch == WHEEL_PAGESCROLL
                                                       ? TLogController::kWheelPage
                                                       : static_cast<int>(per_notch));
      return 0;
    }
    case WM_KEYDOWN:
      if (OnKey(w)) return 0;
      break;
    case WM_LBUTTONDOWN:
      if (FController.MousePress(GET_X_LPARAM(l), GET_Y_LPARAM(l), (w & MK_SHIFT) != 0)) {
        ::SetFocus(FWindow);
        ::SetCapture(FWindow);
      }
      return 0;
    case WM_MOUSEMOVE:
      if (!FController.MouseMove(GET_X_LPARAM(l), GET_Y_LPARAM(l))) break;
      return 0;
    case WM_TIMER:
      if (w == kFindTimer) FController.FindWork();
      if (w == kSaveTimer) FController.SaveWork();
      if (w == kAutoScrollTimer) FController.AutoScrollTick();
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      FController.MouseRelease();
      if (message == WM_LBUTTONUP) ::ReleaseCapture();
      return 0;
    case WM_LBUTTONDBLCLK:
      FController.DoubleClick(GET_X_LPARAM(l), GET_Y_LPARAM(l));
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
