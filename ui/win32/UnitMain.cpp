#include "ui/win32/UnitMain.h"

#include <commctrl.h>

#include <algorithm>
#include <tuple>

#include "ui/win32/Application.h"

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kSoonTimer = 2;
constexpr UINT kDrainNow = WM_APP + 1;
// An entry of the address list was chosen (wParam: its index); the box puts the entry's text
// into its field after it tells, so the address replaces it once the box is done.
constexpr UINT kAddressChosen = WM_APP + 2;
constexpr const wchar_t* kPanelClass = L"TPanel";
// The address list's height when it opens, at 96 DPI: about ten entries.
constexpr int kDropDownHeight = 140;

int IdOf(const TLayoutEntry& entry) {
  return TMainForm::kFirstControlId + static_cast<int>(&entry - kMainFormLayout);
}

// Windows 10's per-monitor DPI, where the system has it.
int DpiOf(HWND window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto get = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32"), "GetDpiForWindow")));
  if (get) return static_cast<int>(get(window));
  HDC dc = ::GetDC(window);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
  ::ReleaseDC(window, dc);
  return dpi;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

// The outer size of a window whose client area has the given size, with the frame the
// system draws at that DPI (Windows 10's per-monitor sizes, where the system has them).
SIZE OuterSize(int width, int height, int dpi) {
  using TAdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = reinterpret_cast<TAdjustForDpi>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32"), "AdjustWindowRectExForDpi")));
  RECT rect{0, 0, width, height};
  if (adjust)
    adjust(&rect, kStyle, FALSE, kExStyle, static_cast<UINT>(dpi));
  else
    ::AdjustWindowRectEx(&rect, kStyle, FALSE, kExStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

void TMainForm::RegisterClasses() {
  static const bool registered = [] {
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = &TMainForm::WindowProc;
    form.hInstance = TApplication::Instance();
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hIcon = ::LoadIconW(TApplication::Instance(), MAKEINTRESOURCEW(1));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = TMainForm::kClassName;
    WNDCLASSEXW panel = form;
    // Resized, the panel paints itself and its controls again whole: what a resize uncovers
    // alone would leave its old bevel and the old edges of the groups inside it on the screen.
    panel.style = CS_HREDRAW | CS_VREDRAW;
    panel.lpfnWndProc = &TMainForm::PanelProc;
    panel.hIcon = nullptr;
    panel.lpszClassName = kPanelClass;
    return ::RegisterClassExW(&form) && ::RegisterClassExW(&panel);
  }();
  (void)registered;
}

TMainForm::TMainForm(TCaptureServices services, std::uint64_t log_capacity, bool ends_the_program)
    : FController(*this, std::move(services)), FEndsTheProgram(ends_the_program) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  ::InitCommonControlsEx(&controls);
  RegisterClasses();
  ::CreateWindowExW(kExStyle, kClassName, TApplication::FromUtf8(kMainFormCaption).c_str(), kStyle,
                    CW_USEDEFAULT, CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                    TApplication::Instance(), this);
  FDpi = DpiOf(FWindow);
  CreateLogView(log_capacity);
  CreateBottomPanel();
  SetTabOrder();
  ApplyDpi();
  PlaceInWorkArea();
  FFocus = Control("Btn_StartStop");
  FormCreate();
}

TMainForm::~TMainForm() {
  if (FWindow && ::IsWindow(FWindow)) ::DestroyWindow(FWindow);
  if (FFont) ::DeleteObject(FFont);
}

// Centred in its monitor's work area where it fits; where it does not, as large as the work
// area, but never below its smallest size, its top left corner then in the work area.
void TMainForm::PlaceInWorkArea() {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(FWindow, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& area = monitor.rcWork;
  const SIZE wanted = OuterSize(Scale(kClientWidth), Scale(kClientHeight), FDpi);
  const SIZE smallest = OuterSize(Scale(kMinClientWidth), Scale(kMinClientHeight), FDpi);
  const auto fit = [](LONG wanted, LONG smallest, LONG room) {
    return std::max(std::min(wanted, room), smallest);
  };
  const LONG width = fit(wanted.cx, smallest.cx, area.right - area.left);
  const LONG height = fit(wanted.cy, smallest.cy, area.bottom - area.top);
  ::SetWindowPos(FWindow, nullptr, area.left + std::max(0L, (area.right - area.left - width) / 2),
                 area.top + std::max(0L, (area.bottom - area.top - height) / 2), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::CreateLogView(std::uint64_t capacity) {
  const TLayoutEntry& entry = LayoutOf("Ecr");
  Ecr = std::make_unique<TLogView>(FWindow, IdOf(entry), capacity);
  FControls[RowOf(entry.Name)] = Ecr->Handle();
}

// Every other control of the table, in its order: a parent always comes before its controls.
void TMainForm::CreateBottomPanel() {
  for (const TLayoutEntry& entry : kMainFormLayout)
    if (entry.Kind != TControlKind::LogView) CreateControl(entry);
  AttachSpinButtons();
}

void TMainForm::AttachSpinButtons() {
  const std::tuple<HWND, HWND, const char*> pairs[] = {
      {Control("UpDown1"), Control("StartPort"), LayoutOf("StartPort").Caption},
      {Control("UpDown2"), Control("EndPort"), LayoutOf("EndPort").Caption}};
  for (const auto& [spin, edit, caption] : pairs) {
    // The control's defaults, but a range that counts up; attaching it to its edit moves and
    // narrows the edit, which the layout puts back.
    ::SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    ::SendMessageW(spin, UDM_SETRANGE32, 0, 100);
    ::SendMessageW(spin, UDM_SETPOS32, 0, 0);
    ::SetWindowSubclass(edit, &TMainForm::PortEditProc, 1, 0);
    ::SetWindowTextW(edit, TApplication::FromUtf8(caption).c_str());
  }
}

HWND TMainForm::CreateControl(const TLayoutEntry& entry) {
  const wchar_t* type = L"BUTTON";
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  DWORD ex_style = 0;
  switch (entry.Kind) {
    case TControlKind::Panel:
      type = kPanelClass;
      ex_style = WS_EX_CONTROLPARENT;
      break;
    case TControlKind::GroupBox:
      style |= BS_GROUPBOX;
      ex_style = WS_EX_CONTROLPARENT;
      break;
    case TControlKind::Label:
      type = L"STATIC";
      style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
      break;
    case TControlKind::Edit:
      type = L"EDIT";
      style |= ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case TControlKind::ComboBox:
      type = L"COMBOBOX";
      style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP;
      break;
    case TControlKind::RadioButton:
      // One group of two, so that checking one clears the other.
      style |= BS_AUTORADIOBUTTON | WS_TABSTOP | (entry.TabOrder == 0 ? WS_GROUP : 0);
      break;
    case TControlKind::SpinButtons:
      type = UPDOWN_CLASSW;
      style |= UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT | WS_GROUP;
      break;
    case TControlKind::CheckBox:
      style |= BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP;
      break;
    case TControlKind::PushButton:
      style |= BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP;
      break;
    case TControlKind::LogView:
      return nullptr;
  }
  const HWND parent =
      std::string_view(entry.Parent) == kMainFormName ? FWindow : FControls[RowOf(entry.Parent)];
  const HWND control = ::CreateWindowExW(
      ex_style, type, entry.Caption ? TApplication::FromUtf8(entry.Caption).c_str() : L"", style,
      entry.Left, entry.Top, entry.Width, entry.Height, parent,
      reinterpret_cast<HMENU>(INT_PTR{IdOf(entry)}), TApplication::Instance(), nullptr);
  if (entry.Kind == TControlKind::GroupBox)
    ::SetWindowSubclass(control, &TMainForm::ForwardingProc, 1, 0);
  if (entry.Checked) ::SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
  FControls[RowOf(entry.Name)] = control;
  return control;
}

// Tab visits a parent's controls in their z-order, top first: each parent's controls go from
// the top down in the table's tab order, the controls that take no focus last.
void TMainForm::SetTabOrder() {
  const auto to_bottom = [](HWND control) {
    ::SetWindowPos(control, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  };
  for (const std::size_t row : kTabOrder)
    to_bottom(FControls[row]);
  for (std::size_t row = 0; row < kControlCount; ++row)
    if (kMainFormLayout[row].TabOrder < 0) to_bottom(FControls[row]);
}

void TMainForm::CutOverlaps() {
  for (const TLayoutEntry& lower : kMainFormLayout) {
    HRGN region = nullptr;
    for (const TLayoutEntry* later = &lower + 1; later != std::end(kMainFormLayout); ++later) {
      if (std::string_view(later->Parent) != lower.Parent || later->TabOrder < 0 ||
          later->TabOrder <= lower.TabOrder)
        continue;
      RECT a{lower.Left, lower.Top, lower.Left + lower.Width, lower.Top + lower.Height};
      RECT b{later->Left, later->Top, later->Left + later->Width, later->Top + later->Height};
      RECT both;
      if (!::IntersectRect(&both, &a, &b)) continue;
      if (!region) region = ::CreateRectRgn(0, 0, Scale(lower.Width), Scale(lower.Height));
      HRGN cut = ::CreateRectRgn(Scale(both.left - lower.Left), Scale(both.top - lower.Top),
                                 Scale(both.right - lower.Left), Scale(both.bottom - lower.Top));
      ::CombineRgn(region, region, cut, RGN_DIFF);
      ::DeleteObject(cut);
    }
    if (region) ::SetWindowRgn(FControls[RowOf(lower.Name)], region, TRUE);  // the window owns it
  }
}

void TMainForm::ApplyDpi() {
  if (FFont) ::DeleteObject(FFont);
  FFont = ::CreateFontW(-::MulDiv(8, FDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  for (const HWND control : FControls) {
    if (control != Ecr->Handle())
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), TRUE);
  }
  Ecr->SetDpi(FDpi);
  for (std::size_t row = 0; row < kControlCount; ++row) {
    const TLayoutEntry& entry = kMainFormLayout[row];
    if (entry.Kind == TControlKind::LogView || entry.Kind == TControlKind::Panel) continue;
    if (entry.Kind == TControlKind::ComboBox) {
      FitComboBox(FControls[row], entry);
      continue;
    }
    ::MoveWindow(FControls[row], Scale(entry.Left), Scale(entry.Top), Scale(entry.Width),
                 Scale(entry.Height), TRUE);
  }
  CutOverlaps();
  Layout();
}

// A combo box's height is that of its open list; its field's height is set apart, and the
// field's frame adds to it. The field is made as high as the table's row.
void TMainForm::FitComboBox(HWND box, const TLayoutEntry& entry) {
  ::MoveWindow(box, Scale(entry.Left), Scale(entry.Top), Scale(entry.Width),
               Scale(entry.Height + kDropDownHeight), TRUE);
  const int wanted = Scale(entry.Height);
  const auto height = [box] {
    RECT rect;
    ::GetWindowRect(box, &rect);
    return static_cast<int>(rect.bottom - rect.top);
  };
  // Measured rather than read back: wine's answer to CB_GETITEMHEIGHT is not what was set.
  ::SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), wanted);
  const int frame = height() - wanted;
  ::SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(1, wanted - frame));
}

// The log view fills what the panel leaves; the first group grows with the width.
void TMainForm::Layout() {
  RECT client;
  ::GetClientRect(FWindow, &client);
  const int panel = Scale(kPanelHeight);
  const int panel_top = std::max(0, static_cast<int>(client.bottom) - panel);
  ::MoveWindow(Ecr->Handle(), 0, 0, client.right, panel_top, TRUE);
  ::MoveWindow(Control("PanelBottom"), 0, panel_top, client.right, panel, TRUE);
  const TLayoutEntry& group = LayoutOf("GroupBox1");
  const int width =
      std::max(0, Scale(group.Width) + static_cast<int>(client.right) - Scale(kClientWidth));
  ::MoveWindow(Control("GroupBox1"), Scale(group.Left), Scale(group.Top), width,
               Scale(group.Height), TRUE);
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    self->FWindow = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  // Until its controls exist, the window is the system's.
  if (!self || !self->Ecr) return ::DefWindowProcW(window, message, w, l);
  return Handled(window, [&] { return self->Handle(message, w, l); });
}

// The panel and the group boxes hold controls: what those tell their parent is the form's.
LRESULT CALLBACK TMainForm::PanelProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_COMMAND || message == WM_NOTIFY)
    return ::SendMessageW(::GetAncestor(window, GA_ROOT), message, w, l);
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    RECT rect;
    ::GetClientRect(window, &rect);
    ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);  // a raised bevel, as a panel has
    ::EndPaint(window, &paint);
    return 0;
  }
  return ::DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK TMainForm::ForwardingProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                           DWORD_PTR) {
  if (message == WM_COMMAND || message == WM_NOTIFY)
    return ::SendMessageW(::GetAncestor(window, GA_ROOT), message, w, l);
  return ::DefSubclassProc(window, message, w, l);
}

LRESULT CALLBACK TMainForm::PortEditProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                         DWORD_PTR) {
  if (message == WM_CHAR && !StartPortKeyPress(window, static_cast<wchar_t>(w))) return 0;
  return ::DefSubclassProc(window, message, w, l);
}

LRESULT TMainForm::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(w);
      if (id == IdOf(LayoutOf("EditIp"))) {
        EditIpNotified(HIWORD(w));
        return 0;
      }
      if (HIWORD(w) != BN_CLICKED) break;
      if (id == IdOf(LayoutOf("Btn_StartStop"))) Btn_StartStopClick();
      if (id == IdOf(LayoutOf("Touslesports"))) TouslesportsClick();
      if (id == IdOf(LayoutOf("PortStartPortEnd"))) PortStartPortEndClick();
      return 0;
    }
    case WM_TIMER:
      if (w == kSoonTimer) ::KillTimer(FWindow, kSoonTimer);
      if (w == kTickTimer || w == kSoonTimer) TimerInDataTimer();
      return 0;
    case kAddressChosen:
      EditIpSelect(static_cast<int>(w));
      return 0;
    case kDrainNow:
      // Input waits behind posted messages: under a flood it goes first, the slice after it.
      if (HIWORD(::GetQueueStatus(QS_INPUT)) != 0) {
        ::SetTimer(FWindow, kSoonTimer, USER_TIMER_MINIMUM, nullptr);
        return 0;
      }
      TimerInDataTimer();
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      const SIZE smallest = OuterSize(Scale(kMinClientWidth), Scale(kMinClientHeight), FDpi);
      reinterpret_cast<MINMAXINFO*>(l)->ptMinTrackSize = {smallest.cx, smallest.cy};
      return 0;
    }
    case WM_DPICHANGED: {
      FDpi = HIWORD(w);
      const RECT* suggested = reinterpret_cast<const RECT*>(l);
      ApplyDpi();
      ::SetWindowPos(FWindow, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_SETTINGCHANGE:
      if (l && std::wstring_view(reinterpret_cast<const wchar_t*>(l)) == L"intl")
        ReadLocaleSeparators();
      break;
    case WM_ACTIVATE:
      if (LOWORD(w) == WA_INACTIVE) {
        if (HWND focus = ::GetFocus(); focus && ::IsChild(FWindow, focus)) FFocus = focus;
      } else if (FFocus) {
        ::SetFocus(FFocus);
      }
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(FWindow);
      return 0;
    case WM_DESTROY:
      FormDestroy();
      if (FEndsTheProgram) ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      const HWND window = FWindow;
      FWindow = nullptr;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return ::DefWindowProcW(window, message, w, l);
    }
    default:
      break;
  }
  return ::DefWindowProcW(FWindow, message, w, l);
}

void TMainForm::FormCreate() {
  ::SetWindowTextW(Control("EditIp"), TApplication::FromUtf8(FController.FormCreate()).c_str());
  ReadLocaleSeparators();
}

void TMainForm::FormDestroy() {
  ::KillTimer(FWindow, kTickTimer);
  ::KillTimer(FWindow, kSoonTimer);
  FController.FormDestroy();
}

void TMainForm::Btn_StartStopClick() {
  FController.Btn_StartStopClick();
}

void TMainForm::TimerInDataTimer() {
  FController.TimerInDataTimer();
}

// What the box tells of its list. Opened from the keyboard, the box puts the entry that begins
// with the field's text into the field; closed without a choice, the field gets its text back.
// Chosen, with a click, the arrow keys or Enter on the open list, the entry's address goes into
// the field. The box also tells of an end of selection when it merely loses the focus.
void TMainForm::EditIpNotified(WORD code) {
  const HWND box = Control("EditIp");
  const auto choose = [&] {
    if (const auto index = ::SendMessageW(box, CB_GETCURSEL, 0, 0); index >= 0) {
      FEntryChosen = true;
      ::PostMessageW(FWindow, kAddressChosen, static_cast<WPARAM>(index), 0);
    }
  };
  switch (code) {
    case CBN_DROPDOWN:
      FTextBeforeList = WindowText(box);
      FEntryChosen = false;
      FListOpen = true;
      EditIpDropDown();
      break;
    case CBN_SELCHANGE:
      choose();
      break;
    case CBN_SELENDOK:
      if (FListOpen) choose();
      break;
    case CBN_CLOSEUP:
      FListOpen = false;
      if (!FEntryChosen) ::SetWindowTextW(box, FTextBeforeList.c_str());
      break;
    default:
      break;
  }
}

void TMainForm::EditIpDropDown() {
  const HWND box = Control("EditIp");
  // Entry by entry: emptying the list at once would empty the field too.
  while (::SendMessageW(box, CB_GETCOUNT, 0, 0) > 0)
    ::SendMessageW(box, CB_DELETESTRING, 0, 0);
  HDC dc = ::GetDC(box);
  const HGDIOBJ old_font = ::SelectObject(dc, FFont);
  LONG widest = 0;
  for (const std::string& entry : FController.EditIpDropDown()) {
    const std::wstring text = TApplication::FromUtf8(entry);
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    widest = std::max(widest, size.cx);
  }
  ::SelectObject(dc, old_font);
  ::ReleaseDC(box, dc);
  // The list as wide as its widest entry, with room for its scroll bar.
  const int margins = 2 * ::GetSystemMetrics(SM_CXEDGE) + ::GetSystemMetrics(SM_CXVSCROLL);
  ::SendMessageW(box, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + margins + Scale(6)), 0);
}

void TMainForm::EditIpSelect(int index) {
  if (index < 0) return;
  if (const auto address = FController.EditIpSelect(static_cast<std::size_t>(index))) {
    const HWND box = Control("EditIp");
    ::SetWindowTextW(box, TApplication::FromUtf8(*address).c_str());
    ::SendMessageW(box, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
  }
}

std::size_t TMainForm::AppendLines(std::span<const std::string> lines) {
  return Ecr->Controller().Append(lines);
}

void TMainForm::ShowRunning(bool running) {
  ::SetWindowTextW(Control("Btn_StartStop"), running ? L"Stop" : L"Start");
  if (running == FTicking) return;
  FTicking = running;
  if (running) {
    Ecr->SetColors(RGB(0, 0, 0), RGB(255, 255, 255));  // and so it stays, also once stopped
    ::SetTimer(FWindow, kTickTimer, static_cast<UINT>(TMainController::kTick.count()), nullptr);
  } else {
    ::KillTimer(FWindow, kTickTimer);
  }
}

void TMainForm::DrainAgain(TNextDrain next) {
  if (next == TNextDrain::Now) ::PostMessageW(FWindow, kDrainNow, 0, 0);
  if (next == TNextDrain::Soon)
    ::SetTimer(FWindow, kSoonTimer, static_cast<UINT>(TMainController::kSoon.count()), nullptr);
}

void TMainForm::ShowError(const std::string& message) {
  TApplication::ShowException(FWindow, message);
}

void TMainForm::TouslesportsClick() {
  ::EnableWindow(Control("StartPort"), FALSE);
  ::EnableWindow(Control("EndPort"), FALSE);
}

void TMainForm::PortStartPortEndClick() {
  ::EnableWindow(Control("StartPort"), TRUE);
  ::EnableWindow(Control("EndPort"), TRUE);
}

bool TMainForm::StartPortKeyPress(HWND edit, wchar_t key) {
  switch (PortKeyOf(key)) {
    case TPortKey::Type:
      return true;
    case TPortKey::SelectAll:
      ::SendMessageW(edit, EM_SETSEL, 0, -1);
      return false;
    case TPortKey::Copy:
      ::SendMessageW(edit, WM_COPY, 0, 0);
      return false;
    case TPortKey::Cut:
      ::SendMessageW(edit, WM_CUT, 0, 0);
      return false;
    case TPortKey::Discard:
      return false;
  }
  return false;
}

bool TMainForm::TranslateShortcut(const MSG& message) {
  if (message.message != WM_KEYDOWN || !FWindow || !::IsChild(FWindow, message.hwnd)) return false;
  const bool control = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
  const bool find = control && message.wParam == 'F';
  if (!find && message.wParam != VK_F3) return false;
  if (::GetParent(message.hwnd) == Ecr->Handle()) return false;  // the find bar's own
  ::SendMessageW(Ecr->Handle(), WM_KEYDOWN, message.wParam, message.lParam);
  return true;
}

bool TMainForm::Checked(HWND control) const {
  return ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string TMainForm::TextOf(HWND control) const {
  return TApplication::ToUtf8(WindowText(control));
}

TStartTexts TMainForm::StartTexts() const {
  return {TextOf(Control("EditIp")), Checked(Control("Touslesports")),
          TextOf(Control("StartPort")), TextOf(Control("EndPort"))};
}

TDisplayOptions TMainForm::DisplayOptions() const {
  return DisplayOptionsFrom(
      [this](const TLayoutEntry& entry) { return Checked(FControls[RowOf(entry.Name)]); });
}

// The user's date and time separators, as the regional settings state them; where they
// cannot be read, "/" and ":". A separator is one byte of the log's lines, among digits: a
// byte of the ANSI code page, which the text rule reads as that code page does.
void TMainForm::ReadLocaleSeparators() {
  const auto read = [](LCTYPE type, const char* fallback) {
    wchar_t text[16] = L"";
    const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 16);
    if (length <= 0) return std::string(fallback);
    char ansi[64] = "";
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, 64, nullptr, nullptr);
    return bytes > 0 ? std::string(ansi) : std::string(fallback);
  };
  SetDateTimeSeparators(read(LOCALE_SDATE, "/"), read(LOCALE_STIME, ":"));
}
