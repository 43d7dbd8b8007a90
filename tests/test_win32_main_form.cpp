// The Win32 window under wine: its layout read back from the system's controls against the
// table, and its behaviour over a scripted capture layer, with every error box caught.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <tuple>

#include "testsupport/DatagramFixtures.h"
#include "testsupport/ScriptedServices.h"
#include "ui/Layout.h"
#include "ui/win32/Application.h"
#include "ui/win32/UnitMain.h"

namespace {

using namespace std::chrono_literals;

// Runs the window's messages for a while, or until `done`.
template <class F>
bool Pump(F&& done, std::chrono::milliseconds limit = 5000ms) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void Pump(std::chrono::milliseconds time) {
  Pump([] { return false; }, time);
}

// As the program's own loop runs messages: its shortcuts, then the dialog manager.
void PumpAsTheProgram(TMainForm& form, std::chrono::milliseconds time = 100ms) {
  const auto until = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < until) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (form.TranslateShortcut(message)) continue;
      if (::IsDialogMessageW(form.Handle(), &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// A key pressed on a control, as the keyboard sends it.
void Press(HWND control, WPARAM key) {
  ::PostMessageW(control, WM_KEYDOWN, key, 1);
  ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A control of the window by its name in the layout table: its id is its row's.
HWND ControlNamed(HWND window, std::string_view name) {
  struct TSearch {
    int Id;
    HWND Found = nullptr;
  } search{TMainForm::kFirstControlId + static_cast<int>(RowOf(name))};
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<TSearch*>(data);
        if (::GetDlgCtrlID(child) == search->Id) search->Found = child;
        return search->Found == nullptr;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

struct TFixture {
  std::shared_ptr<TCaptureScript> Script = std::make_shared<TCaptureScript>();
  std::shared_ptr<std::vector<TInterfaceAddress>> Interfaces =
      std::make_shared<std::vector<TInterfaceAddress>>();
  std::unique_ptr<TMainForm> Form;
  std::vector<TApplication::TBox> Boxes;
  std::vector<std::uint64_t> LinesAtBox;

  explicit TFixture(std::uint64_t capacity = TMainForm::kLogCapacity) {
    TCaptureServices services = ScriptedServices(Script);
    services.InterfaceAddresses = [interfaces = Interfaces] { return *interfaces; };
    Form = std::make_unique<TMainForm>(std::move(services), capacity, false);
    TApplication::SetBoxHook([this](const TApplication::TBox& box) {
      Boxes.push_back(box);
      LinesAtBox.push_back(Form->LogView().LineCount());
    });
  }
  ~TFixture() { TApplication::SetBoxHook({}); }

  HWND Get(const char* name) const {
    HWND control = ControlNamed(Form->Handle(), name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  std::wstring Text(const char* name) const {
    wchar_t text[256] = L"";
    ::GetWindowTextW(Get(name), text, 256);
    return text;
  }
  // As a click does: the button tells its parent, which tells the form.
  void Click(const char* name) { ::SendMessageW(Get(name), BM_CLICK, 0, 0); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const TLogModel& model = Form->LogView().Model();
    for (std::uint64_t i = 0; i < model.LineCount(); ++i)
      lines.emplace_back(model.Line(i));
    return lines;
  }
  void AwaitReceiving() {
    ASSERT_TRUE(Pump(
        [this] { return Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }) > 0; }));
  }
};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  ::GetClassNameW(window, name, 64);
  return name;
}

// The window class each kind of control is, in the order of TControlKind.
const wchar_t* Win32ClassOf(TControlKind kind) {
  constexpr const wchar_t* kClasses[] = {L"TLogView", L"TPanel",   L"Button", L"Static",
                                         L"Edit",     L"ComboBox", L"Button", L"msctls_updown32",
                                         L"Button",   L"Button"};
  return kClasses[static_cast<int>(kind)];
}

LONG ButtonStyleOf(TControlKind kind) {
  if (kind == TControlKind::GroupBox) return BS_GROUPBOX;
  if (kind == TControlKind::RadioButton) return BS_AUTORADIOBUTTON;
  if (kind == TControlKind::CheckBox) return BS_AUTOCHECKBOX;
  return BS_PUSHBUTTON;
}

// Where Tab finds a control: its containers' places in their parents' tab order, from the
// window's down, then its own place.
std::vector<int> TabPath(std::string_view name) {
  std::vector<int> path;
  for (; name != kMainFormName; name = kMainFormLayout[RowOf(name)].Parent)
    path.insert(path.begin(), kMainFormLayout[RowOf(name)].TabOrder);
  return path;
}

TEST(Win32MainForm, LayoutTable) {
  TFixture f;
  HWND window = f.Form->Handle();
  ASSERT_EQ(::GetDpiForWindow(window), 96u) << "the table is at 96 DPI";
  RECT client;
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, 940);
  EXPECT_EQ(client.bottom, 685);
  wchar_t caption[64];
  ::GetWindowTextW(window, caption, 64);
  EXPECT_STREQ(caption, L"Quorvel v2.0");
  for (const TLayoutEntry& c : kMainFormLayout) {
    SCOPED_TRACE(c.Name);
    HWND control = f.Get(c.Name);
    EXPECT_EQ(ClassOf(control), Win32ClassOf(c.Kind));
    HWND parent = std::string_view(c.Parent) == "MainForm" ? window : f.Get(c.Parent);
    EXPECT_EQ(::GetParent(control), parent);
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, c.Left);
    EXPECT_EQ(rect.top, c.Top);
    EXPECT_EQ(rect.right - rect.left, c.Width);
    EXPECT_EQ(rect.bottom - rect.top, c.Height);
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    if (std::wstring_view(Win32ClassOf(c.Kind)) == L"Button") {
      EXPECT_EQ(style & BS_TYPEMASK, ButtonStyleOf(c.Kind));
    }
    // A caption that only names the control gives way to the program's text.
    if (c.Caption && std::string_view(c.Caption) != c.Name) {
      EXPECT_EQ(f.Text(c.Name), TApplication::FromUtf8(c.Caption));
    }
    if (c.Kind == TControlKind::RadioButton || c.Kind == TControlKind::CheckBox) {
      EXPECT_EQ(::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED, c.Checked);
    }
    EXPECT_TRUE(::IsWindowEnabled(control));
  }
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
  // The spin buttons keep the control's defaults, counting up from 0 to 100.
  for (const auto& [spin, edit] : {std::pair{"UpDown1", "StartPort"}, {"UpDown2", "EndPort"}}) {
    HWND control = f.Get(spin);
    EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageW(control, UDM_GETBUDDY, 0, 0)), f.Get(edit));
    int low = -1, high = -1;
    ::SendMessageW(control, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                   reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    EXPECT_EQ(style & (UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT | UDS_WRAP),
              UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT);
  }
}

TEST(Win32MainForm, TabOrderFocusAndOverlaps) {
  TFixture f;
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(f.Form->Handle());
  Pump(200ms);
  EXPECT_EQ(::GetFocus(), f.Get("Btn_StartStop"));
  // Tab visits every control that takes the focus once, in the table's tab order.
  std::vector<std::vector<int>> paths;
  std::string chain;
  HWND control = f.Get("Btn_StartStop");
  do {
    paths.emplace_back();
    for (const TLayoutEntry& c : kMainFormLayout)
      if (f.Get(c.Name) == control) {
        paths.back() = TabPath(c.Name);
        chain.append(c.Name).append(" ");
      }
    control = ::GetNextDlgTabItem(f.Form->Handle(), control, FALSE);
  } while (control != f.Get("Btn_StartStop") && paths.size() <= kControlCount);
  EXPECT_TRUE(std::adjacent_find(paths.begin(), paths.end(), std::greater_equal<>()) ==
              paths.end())
      << chain;
  EXPECT_EQ(paths.size(), 16u);  // all but the labels and the spin buttons
  // Where two overlap, the one listed later is on top.
  for (const auto& [group, x, later] : {std::tuple{"GroupBox2", 70, "VoirIpPort"},
                                        {"GroupBox3", 56, "FiltreACK"},
                                        {"GroupBox1", 402, "StartPort"}}) {
    POINT point{x, 24};
    ::MapWindowPoints(f.Get(group), nullptr, &point, 1);
    EXPECT_EQ(::WindowFromPoint(point), f.Get(later)) << later;
  }
}

TEST(Win32MainForm, WideningGrowsTheLogAndTheFirstGroupOnly) {
  TFixture f;
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  Pump(200ms);  // painted
  RECT outer;
  ::GetWindowRect(f.Form->Handle(), &outer);
  ::SetWindowPos(f.Form->Handle(), nullptr, 0, 0, outer.right - outer.left + 200,
                 outer.bottom - outer.top + 100, SWP_NOMOVE | SWP_NOZORDER);
  // The whole panel is painted again, not only what the widening uncovered: its old right
  // edge and the first group's would stay on the screen.
  RECT panel, update;
  ::GetClientRect(f.Get("PanelBottom"), &panel);
  ASSERT_TRUE(::GetUpdateRect(f.Get("PanelBottom"), &update, FALSE));
  EXPECT_EQ(update.left, panel.left);
  EXPECT_EQ(update.right, panel.right);
  const auto size = [&](const char* name) {
    RECT rect;
    ::GetWindowRect(f.Get(name), &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
  };
  EXPECT_EQ(size("Ecr").cx, 1140);
  EXPECT_EQ(size("Ecr").cy, 685);
  EXPECT_EQ(size("GroupBox1").cx, 1074);
  EXPECT_EQ(size("GroupBox2").cx, 249);
  EXPECT_EQ(size("Btn_StartStop").cx, 133);
  // Narrowed below the smallest width, the whole panel stays in sight.
  ::SetWindowPos(f.Form->Handle(), nullptr, 0, 0, 600, 300, SWP_NOMOVE | SWP_NOZORDER);
  RECT client;
  ::GetClientRect(f.Form->Handle(), &client);
  EXPECT_GE(client.right, 721);
  EXPECT_GE(client.bottom, 200);
}

// Whatever the DPI, the window opens within its monitor's work area: centred at its full size
// where that fits, else as large as the work area, never below its smallest size.
// test_win32_dpi runs it at 96, 120 and 144 DPI (QUORVEL_EXPECTED_DPI) on a 1280 x 1024 screen.
TEST(Win32MainForm, OpensWithinItsMonitorsWorkArea) {
  TFixture f;
  const HWND window = f.Form->Handle();
  const int dpi = static_cast<int>(::GetDpiForWindow(window));
  if (const char* expected = std::getenv("QUORVEL_EXPECTED_DPI")) {
    ASSERT_EQ(dpi, std::atoi(expected)) << "wine did not take the DPI asked for";
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& area = monitor.rcWork;
  RECT outer, client;
  ::GetWindowRect(window, &outer);
  ::GetClientRect(window, &client);
  SCOPED_TRACE(::testing::Message()
               << dpi << " DPI, work area " << area.left << "," << area.top << " to " << area.right
               << "," << area.bottom << ", window " << outer.left << "," << outer.top << " to "
               << outer.right << "," << outer.bottom);
  EXPECT_GE(outer.left, area.left);
  EXPECT_GE(outer.top, area.top);
  EXPECT_LE(outer.right, area.right);
  EXPECT_LE(outer.bottom, area.bottom);
  EXPECT_GE(client.right, ::MulDiv(721, dpi, 96));
  EXPECT_GE(client.bottom, ::MulDiv(200, dpi, 96));
  const SIZE frame{(outer.right - outer.left) - client.right,
                   (outer.bottom - outer.top) - client.bottom};
  const SIZE full{::MulDiv(940, dpi, 96), ::MulDiv(685, dpi, 96)};
  if (full.cx + frame.cx <= area.right - area.left)
    EXPECT_EQ(client.right, full.cx);
  else
    EXPECT_EQ(outer.right - outer.left, area.right - area.left);
  if (full.cy + frame.cy <= area.bottom - area.top)
    EXPECT_EQ(client.bottom, full.cy);
  else
    EXPECT_EQ(outer.bottom - outer.top, area.bottom - area.top);
  EXPECT_LE(std::abs((outer.left - area.left) - (area.right - outer.right)), 1);
  EXPECT_LE(std::abs((outer.top - area.top) - (area.bottom - outer.bottom)), 1);
}

TEST(Win32MainForm, StartStopAndTheDrainKeepOrder) {
  TFixture f;
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
  f.Script->Add(BuildDatagram(WithPayload("first")));
  f.Click("Btn_StartStop");
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Stop");
  EXPECT_EQ(f.Form->LogView().BackgroundColor(), RGB(0, 0, 0));
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 1; }));
  f.Click("Btn_StartStop");
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
  f.Click("Btn_StartStop");
  f.Script->Add(BuildDatagram(WithPayload("second")));
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 2; }));
  EXPECT_TRUE(f.Lines()[0].ends_with("first"));
  EXPECT_TRUE(f.Lines()[1].ends_with("second"));
  EXPECT_EQ(f.Form->LogView().BackgroundColor(), RGB(0, 0, 0));
  EXPECT_TRUE(f.Boxes.empty());
}

TEST(Win32MainForm, APortTextThatDoesNotConvertShowsTheBox) {
  TFixture f;
  f.Click("PortStartPortEnd");
  ::SetWindowTextW(f.Get("StartPort"), L"");  // as pasted: no key filter
  f.Click("Btn_StartStop");
  ASSERT_EQ(f.Boxes.size(), 1u);
  EXPECT_EQ(f.Boxes[0].Title, L"Rivezava REV");
  EXPECT_EQ(f.Boxes[0].Text, L"'' is not a valid integer value.");
  EXPECT_EQ(f.Boxes[0].Style, static_cast<UINT>(MB_ICONSTOP | MB_OK));
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
  EXPECT_EQ(f.Script->Read([](TCaptureScript& s) { return s.Opens; }), 0);
}

TEST(Win32MainForm, PortEditsTakeDigitsAndBackspaceAndTheRadiosEnableThem) {
  TFixture f;
  HWND edit = f.Get("StartPort");
  ::SendMessageW(edit, EM_SETSEL, 1, 1);
  for (const wchar_t c : std::wstring(L"1a-2 x.3\x16"))
    ::SendMessageW(edit, WM_CHAR, c, 0);
  EXPECT_EQ(f.Text("StartPort"), L"0123");
  ::SendMessageW(edit, WM_CHAR, 8, 0);
  EXPECT_EQ(f.Text("StartPort"), L"012");
  f.Click("Touslesports");
  EXPECT_FALSE(::IsWindowEnabled(edit));
  EXPECT_TRUE(::IsWindowEnabled(f.Get("UpDown1")));
  f.Click("PortStartPortEnd");
  EXPECT_TRUE(::IsWindowEnabled(edit));
  EXPECT_EQ(::SendMessageW(f.Get("Touslesports"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// The list is the controller's, read at each opening; what is typed stays as typed, and an
// entry chosen puts its address alone into the field, which Start reads.
TEST(Win32MainForm, AddressList) {
  TFixture f;
  *f.Interfaces = {{"::1", "Loopback Pseudo-Interface 1"},
                   {"127.0.0.1", "Loopback Pseudo-Interface 1"},
                   {"192.0.2.2", "Ethernet"}};
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(f.Form->Handle());
  const HWND box = f.Get("EditIp");
  COMBOBOXINFO parts{};
  parts.cbSize = sizeof parts;
  ASSERT_TRUE(::GetComboBoxInfo(box, &parts));
  ::SetWindowTextW(parts.hwndItem, L"");
  ::SetFocus(parts.hwndItem);
  for (const wchar_t c : std::wstring(L"10.9"))
    ::SendMessageW(parts.hwndItem, WM_CHAR, c, 0);
  ::SetFocus(f.Get("Btn_StartStop"));  // the box tells it lost the focus, its list closed
  EXPECT_EQ(f.Text("EditIp"), L"10.9");
  const auto entries = [box] {
    std::vector<std::wstring> entries;
    for (int i = 0; i < ::SendMessageW(box, CB_GETCOUNT, 0, 0); ++i) {
      wchar_t text[128] = L"";
      ::SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      entries.emplace_back(text);
    }
    return entries;
  };
  EXPECT_TRUE(entries().empty());
  ::SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  EXPECT_EQ(entries(), (std::vector<std::wstring>{L"127.0.0.1 (Loopback Pseudo-Interface 1)",
                                                  L"192.0.2.2 (Ethernet)",
                                                  L"::1 (Loopback Pseudo-Interface 1)"}));
  EXPECT_EQ(f.Text("EditIp"), L"10.9");
  EXPECT_GT(::SendMessageW(box, CB_GETDROPPEDWIDTH, 0, 0), 200);
  // A click on the third entry of the open list.
  RECT item;
  ::SendMessageW(parts.hwndList, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  ::SendMessageW(parts.hwndList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(parts.hwndList, WM_LBUTTONUP, 0, at);
  EXPECT_TRUE(Pump([&] { return f.Text("EditIp") == L"::1"; }, 2000ms))
      << TApplication::ToUtf8(f.Text("EditIp"));
  EXPECT_FALSE(::SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));

  // Opened from the keyboard, the box shows the entry the field's text begins; closed without
  // a choice, the field holds what it held.
  f.Interfaces->push_back({"fe80::1%12", "Ethernet"});
  ::SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  EXPECT_EQ(entries().size(), 4u);
  ::SendMessageW(box, CB_SHOWDROPDOWN, FALSE, 0);
  Pump(100ms);
  EXPECT_EQ(f.Text("EditIp"), L"::1");
  // Enter on the entry the list shows chosen.
  ::SetWindowTextW(box, L"192");
  ::SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  ::SendMessageW(parts.hwndItem, WM_KEYDOWN, VK_RETURN, 0);
  ::SendMessageW(parts.hwndItem, WM_CHAR, VK_RETURN, 0);
  EXPECT_TRUE(Pump([&] { return f.Text("EditIp") == L"192.0.2.2"; }, 2000ms))
      << TApplication::ToUtf8(f.Text("EditIp"));
  ::SetWindowTextW(box, L"::1");
  f.Click("Btn_StartStop");
  f.AwaitReceiving();
  EXPECT_EQ(f.Script->Read([](TCaptureScript& s) { return s.Target.Ip; }), "::1");
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!::OpenClipboard(nullptr)) return L"(the clipboard is busy)";
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(::GlobalLock(data));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

void SetClipboardText(const std::wstring& text) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(::GlobalLock(data)));
  ::GlobalUnlock(data);
  ::SetClipboardData(CF_UNICODETEXT, data);  // the clipboard owns it now
  ::CloseClipboard();
}

// The editing shortcuts act in a port field; a paste by key stays out, the context menu's
// paste, which sends the edit WM_PASTE, is left as it is (Start refuses what does not convert).
TEST(Win32MainForm, PortEditsEditingShortcuts) {
  TFixture f;
  f.Click("PortStartPortEnd");
  const HWND edit = f.Get("StartPort");
  // The characters TranslateMessage makes of Ctrl+A, Ctrl+C, Ctrl+V and Ctrl+X.
  const auto type = [edit](wchar_t typed) { ::SendMessageW(edit, WM_CHAR, typed, 0); };
  ::SetWindowTextW(edit, L"8080");
  type(0x01);
  type(8);
  EXPECT_EQ(f.Text("StartPort"), L"");
  ::SetWindowTextW(edit, L"8080");
  type(0x01);
  type(0x03);
  EXPECT_EQ(ClipboardText(), L"8080");
  EXPECT_EQ(f.Text("StartPort"), L"8080");
  SetClipboardText(L"12ab");
  ::SendMessageW(edit, EM_SETSEL, 4, 4);
  type(0x16);
  EXPECT_EQ(f.Text("StartPort"), L"8080");
  type(0x01);
  type(0x18);
  EXPECT_EQ(f.Text("StartPort"), L"");
  EXPECT_EQ(ClipboardText(), L"8080");
  SetClipboardText(L"12ab");
  ::SendMessageW(edit, WM_PASTE, 0, 0);
  EXPECT_EQ(f.Text("StartPort"), L"12ab");
}

TEST(Win32MainForm, AFailedCaptureShowsItsLinesThenItsBox) {
  TFixture f;
  f.Script->Add(BuildDatagram(WithPayload("last words")));
  f.Script->AddFailure({TCaptureStep::Receive, 10050, "the network is down", false});
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return !f.Boxes.empty(); }));
  EXPECT_EQ(f.LinesAtBox[0], 1u);
  EXPECT_EQ(f.Boxes[0].Text,
            L"Capture on '10.0.0.1' failed at receive: the network is down (error 10050)");
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
}

TEST(Win32MainForm, AFullViewIsReportedOnce) {
  TFixture f(400);
  for (const char* name : {"VoirDate", "VoirIpPort", "VoirDrapeaux"})
    f.Click(name);
  for (int i = 0; i < 100; ++i)
    f.Script->Add(BuildDatagram(WithPayload(std::string(30, static_cast<char>('a' + i % 26)))));
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return !f.Boxes.empty(); }));
  Pump(1200ms);
  ASSERT_EQ(f.Boxes.size(), 1u);
  EXPECT_EQ(f.Boxes[0].Text, L"RichEdit line insertion error.");
  EXPECT_EQ(f.Lines().size(), 12u);
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Start");
  // Cleared, the log takes lines again, and a new capture starts.
  ::SendMessageW(f.Get("Ecr"), WM_COMMAND, TLogView::kClearCommand, 0);
  EXPECT_EQ(f.Lines().size(), 0u);
  EXPECT_EQ(f.Form->LogView().FreeCharacters(), 400u);
  f.Script->Add(BuildDatagram(WithPayload("after the clear")));
  f.Click("Btn_StartStop");
  EXPECT_EQ(f.Text("Btn_StartStop"), L"Stop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 1; }));
  EXPECT_TRUE(f.Lines()[0].ends_with("after the clear"));
  EXPECT_EQ(f.Boxes.size(), 1u);
}

// The log's find through the view's thin bar: the model's find, the Win32 controls.
TEST(Win32MainForm, FindInTheLog) {
  TFixture f;
  for (const char* payload : {"GET /a", "x", "GET /b"})
    f.Script->Add(BuildDatagram(WithPayload(payload)));
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 3; }));
  const HWND view = f.Get("Ecr");
  ::SendMessageW(view, WM_COMMAND, TLogView::kFindCommand, 0);
  const HWND text = ::GetDlgItem(view, TLogView::kFindText);
  const auto shown = [](HWND window) {
    return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
  };
  ASSERT_TRUE(shown(text));
  const auto status = [&] {
    wchar_t status[128] = L"";
    ::GetWindowTextW(::GetDlgItem(view, TLogView::kFindStatus), status, 128);
    return std::wstring(status);
  };
  ::SetWindowTextW(text, L"get");
  ASSERT_TRUE(Pump([&] { return status() == L"1 sur 2"; })) << TApplication::ToUtf8(status());
  EXPECT_EQ(f.Form->LogView().Model().SelectedBytes(""), "GET");
  ::SendMessageW(::GetDlgItem(view, TLogView::kFindNext), BM_CLICK, 0, 0);
  ASSERT_TRUE(Pump([&] { return status() == L"2 sur 2"; })) << TApplication::ToUtf8(status());
  EXPECT_EQ(f.Form->LogView().Model().Selection().first.Line, 2u);
  // F3 with a button of the bar focused, through the program's own loop.
  const HWND next = ::GetDlgItem(view, TLogView::kFindNext);
  ::SetFocus(next);
  Press(next, VK_F3);
  PumpAsTheProgram(*f.Form);
  EXPECT_EQ(status(), L"1 sur 2 (fin atteinte, reprise au début)");
  EXPECT_EQ(f.Form->LogView().Model().Selection().first.Line, 0u);
  // The whole text nowhere: the selection as the search found it, and the bar says so.
  ::SetWindowTextW(text, L"getx");
  ASSERT_TRUE(Pump([&] { return status() == L"Introuvable"; })) << TApplication::ToUtf8(status());
  EXPECT_EQ(f.Form->LogView().Model().SelectedBytes(""), "GET");
  // Escape from the check box closes the bar, the dialog manager notwithstanding.
  ::SetFocus(::GetDlgItem(view, TLogView::kFindCase));
  Press(::GetDlgItem(view, TLogView::kFindCase), VK_ESCAPE);
  PumpAsTheProgram(*f.Form);
  EXPECT_FALSE(shown(text));
  EXPECT_EQ(::GetFocus(), view);
  EXPECT_EQ(f.Form->LogView().Model().SelectedBytes(""), "GET");
}

// The view's own texts, its name for screen readers, its focus, and the bar's colours.
TEST(Win32MainForm, TheLogViewSpeaksFrenchAndShowsItsFocus) {
  TFixture f;
  const HWND view = f.Get("Ecr");
  wchar_t name[32] = L"";
  ::GetWindowTextW(view, name, 32);
  EXPECT_STREQ(name, L"Journal");
  const auto text_of = [&](int id) {
    wchar_t text[64] = L"";
    ::GetWindowTextW(::GetDlgItem(view, id), text, 64);
    return std::wstring(text);
  };
  EXPECT_EQ(text_of(TLogView::kFindCase), L"Respecter la casse");
  EXPECT_EQ(text_of(TLogView::kFindPrevious), L"Précédent");
  EXPECT_EQ(text_of(TLogView::kFindNext), L"Suivant");
  wchar_t cue[32] = L"";
  ::SendMessageW(::GetDlgItem(view, TLogView::kFindText), EM_GETCUEBANNER,
                 reinterpret_cast<WPARAM>(cue), 32);
  EXPECT_STREQ(cue, L"Rechercher");
  HMENU menu = f.Form->LogView().CreateContextMenu();
  std::vector<std::wstring> items;
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
    wchar_t item[64] = L"";
    if (::GetMenuStringW(menu, static_cast<UINT>(i), item, 64, MF_BYPOSITION) > 0)
      items.emplace_back(item);
  }
  ::DestroyMenu(menu);
  EXPECT_EQ(items, (std::vector<std::wstring>{
                       L"Copier\tCtrl+C", L"Tout sélectionner\tCtrl+A", L"Rechercher...\tCtrl+F",
                       L"Enregistrer le journal...\tCtrl+S", L"Effacer le journal\tCtrl+L"}));
  // The status draws on the bar's face.
  HDC dc = ::GetDC(view);
  const auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(view, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(::GetDlgItem(view, TLogView::kFindStatus))));
  EXPECT_EQ(brush, ::GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(::GetBkColor(dc), ::GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_BTNTEXT));
  EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
  ::ReleaseDC(view, dc);
  // Focused, the view has the caret.
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(f.Form->Handle());
  ::SetFocus(view);
  Pump(100ms);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(::GetGUIThreadInfo(::GetCurrentThreadId(), &info));
  EXPECT_EQ(info.hwndCaret, view);
  ::SetFocus(f.Get("Btn_StartStop"));
  ASSERT_TRUE(::GetGUIThreadInfo(::GetCurrentThreadId(), &info));
  EXPECT_EQ(info.hwndCaret, nullptr);
}

// Matches are drawn in the system's highlight colours, whatever they are: a high-contrast
// theme's too.
TEST(Win32MainForm, MatchesTakeTheSystemsHighlightColours) {
  TFixture f;
  const int element = COLOR_HIGHLIGHT;
  const COLORREF before = ::GetSysColor(element);
  const COLORREF chosen = RGB(0, 128, 64);
  ASSERT_TRUE(::SetSysColors(1, &element, &chosen));
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  f.Script->Add(BuildDatagram(WithPayload("MMMMMMMMMM needle MMMMMMMMMM")));
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 1; }));
  const HWND view = f.Get("Ecr");
  ::SendMessageW(view, WM_COMMAND, TLogView::kFindCommand, 0);
  ::SetWindowTextW(::GetDlgItem(view, TLogView::kFindText), L"M");
  ASSERT_TRUE(Pump([&] {
    wchar_t status[64] = L"";
    ::GetWindowTextW(::GetDlgItem(view, TLogView::kFindStatus), status, 64);
    return std::wstring_view(status) == L"1 sur 20";
  }));
  ::RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const TLogModel& model = f.Form->LogView().Model();
  const std::string_view line = model.Line(0);
  const std::size_t last = line.rfind('M');  // a match, not the selected one
  const int x = static_cast<int>((model.XOf(line, last) + model.XOf(line, last + 1)) / 2);
  HDC dc = ::GetDC(view);
  // The band's top row, above the glyph.
  const COLORREF pixel = ::GetPixel(dc, x, 0);
  ::ReleaseDC(view, dc);
  ::SetSysColors(1, &element, &before);
  EXPECT_EQ(pixel, chosen);
}

// Ctrl+S writes the lines as shown, in UTF-8, ended by CR LF; a save can be cancelled, and a
// save that fails shows the default handler's box with the path and the system's reason.
TEST(Win32MainForm, SaveTheLog) {
  TFixture f;
  for (const char* payload : {"GET / caf\xE9", "tab\there"})
    f.Script->Add(BuildDatagram(WithPayload(payload)));
  for (const char* name : {"VoirDate", "VoirIpPort", "VoirDrapeaux"})
    f.Click(name);
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 2; }));
  f.Click("Btn_StartStop");
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("quorvel-win32-save-" + std::to_string(::GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  TLogView* view = TLogView::FromHandle(f.Get("Ecr"));
  ASSERT_NE(view, nullptr);
  std::wstring proposed;
  std::filesystem::path path = folder / "saved.txt";
  view->SetAskSavePath([&](const std::wstring& offered) {
    proposed = offered;
    return path.wstring();
  });
  ::SetFocus(f.Get("Ecr"));
  ::SendMessageW(f.Get("Ecr"), WM_KEYDOWN, 'S', 0);  // Ctrl is not down: nothing
  EXPECT_TRUE(proposed.empty());
  ::SendMessageW(f.Get("Ecr"), WM_COMMAND, TLogView::kSaveCommand, 0);
  ASSERT_TRUE(Pump([&] { return !view->Saving(); }));
  EXPECT_EQ(Contents(path), f.Lines()[0].substr(0, f.Lines()[0].size() - 1) + "\xC3\xA9\r\n" +
                                f.Lines()[1] + "\r\n");
  const std::wstring name = std::filesystem::path(proposed).filename().wstring();
  EXPECT_EQ(name.rfind(L"quorvel-", 0), 0u);
  EXPECT_EQ(name.size(), std::wstring(L"quorvel-YYYYMMDD-HHMMSS.txt").size());
  // A large log over a file: cancelled with Escape while it goes, the file as it was.
  std::vector<std::string> lines(1'000'000, std::string(100, 'x'));  // more than a slice writes
  view->AppendLines(lines);
  path = folder / "cancelled.txt";
  std::ofstream(path, std::ios::binary) << "the old log\r\n";
  ::SendMessageW(f.Get("Ecr"), WM_COMMAND, TLogView::kSaveCommand, 0);
  ASSERT_TRUE(view->Saving());
  wchar_t strip[64] = L"";
  ::GetWindowTextW(::GetDlgItem(f.Get("Ecr"), TLogView::kSaveStrip), strip, 64);
  EXPECT_EQ(std::wstring(strip).rfind(L"Enregistrement : ", 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(path));
  Press(f.Get("Ecr"), VK_ESCAPE);
  PumpAsTheProgram(*f.Form);
  EXPECT_FALSE(view->Saving());
  EXPECT_EQ(Contents(path), "the old log\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
  // Under a file: no such folder.
  std::ofstream(folder / "a-file") << "not a folder";
  path = folder / "a-file" / L"journal \u00E9t\u00E9 \u65E5\u672C.txt";  // not all of it ANSI
  ::SendMessageW(f.Get("Ecr"), WM_COMMAND, TLogView::kSaveCommand, 0);
  ASSERT_EQ(f.Boxes.size(), 1u);
  EXPECT_EQ(f.Boxes[0].Text.rfind(
                L"Impossible d'enregistrer le journal dans '" + path.wstring() + L"' : ", 0),
            0u)
      << TApplication::ToUtf8(f.Boxes[0].Text);
  EXPECT_FALSE(view->Saving());
  std::filesystem::remove_all(folder);
}

TEST(Win32MainForm, ClearTheLog) {
  TFixture f;
  for (int i = 0; i < 50; ++i)
    f.Script->Add(BuildDatagram(WithPayload("GET /" + std::to_string(i))));
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 50; }));
  const HWND view = f.Get("Ecr");
  ::SendMessageW(view, WM_COMMAND, TLogView::kFindCommand, 0);
  ::SetWindowTextW(::GetDlgItem(view, TLogView::kFindText), L"GET");
  ::SetFocus(view);
  const bool control_was_down = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
  BYTE keys[256];
  ::GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  ::SetKeyboardState(keys);
  ::SendMessageW(view, WM_KEYDOWN, 'L', 0);  // Ctrl+L
  keys[VK_CONTROL] = control_was_down ? 0x80 : 0;
  ::SetKeyboardState(keys);
  EXPECT_EQ(f.Lines().size(), 0u);
  EXPECT_FALSE(f.Form->LogView().Model().FindOpen());
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(view, TLogView::kFindText)));
  f.Script->Add(BuildDatagram(WithPayload("after the clear")));
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 1; }));
  EXPECT_TRUE(f.Form->LogView().Model().Following());
  EXPECT_TRUE(f.Boxes.empty());
}

// UTF-8 payloads read as text whatever the ANSI code page; find goes by those characters.
TEST(Win32MainForm, Utf8ReadsAsTextUnderAnyCodePage) {
  TFixture f;
  f.Script->Add(
      BuildDatagram(WithPayload("\xC3\xA9t\xC3\xA9 \xC3\xA0 Z\xC3\xBCrich \xE2\x80\x94 "
                                "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E Stra\xC3\x9F"
                                "e")));
  f.Click("Btn_StartStop");
  ASSERT_TRUE(Pump([&] { return f.Lines().size() == 1; }));
  const TLogModel& model = f.Form->LogView().Model();
  EXPECT_TRUE(
      model.CodePage().Characters(model.Line(0)).ends_with(u"été à Zürich — 日本語 Straße"));
  ::SendMessageW(f.Get("Ecr"), WM_COMMAND, TLogView::kFindCommand, 0);
  ::SetWindowTextW(::GetDlgItem(f.Get("Ecr"), TLogView::kFindText), L"strasse");
  ASSERT_TRUE(Pump([&] { return model.SelectedText(u"") == u"Straße"; }));
}

// A notch of the wheel scrolls the lines the system's setting says, or a page at "one screen
// at a time".
TEST(Win32MainForm, TheWheelScrollsLinesOrAPagePerNotch) {
  TFixture f;
  TLogView& view = *TLogView::FromHandle(f.Get("Ecr"));
  view.AppendLines(std::vector<std::string>(500, "line"));
  const std::uint64_t bottom = view.Model().Top(), rows = view.Model().Rows();
  UINT setting = 3;
  ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &setting, 0);
  for (const auto& [per_notch, delta, top] : {std::tuple{3u, 1, bottom - 3},
                                              {WHEEL_PAGESCROLL, 1, bottom - 3 - rows},
                                              {WHEEL_PAGESCROLL, -1, bottom - 3}}) {
    ASSERT_TRUE(::SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, per_notch, nullptr, 0));
    ::SendMessageW(view.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, delta * WHEEL_DELTA), 0);
    EXPECT_EQ(view.Model().Top(), top);
  }
  ::SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, setting, nullptr, 0);
}

// A character the log's font lacks is drawn by a font that has it, not as the log font's
// empty box, within the advance the model gives it: measured as drawn.
TEST(Win32MainForm, ACharacterArialLacksIsDrawnInAFontThatHasIt) {
  TFixture f;
  ::ShowWindow(f.Form->Handle(), SW_SHOWNORMAL);
  TLogView& view = *TLogView::FromHandle(f.Get("Ecr"));
  view.AppendLines(std::vector<std::string>{"\xE2\x91\xA0"});  // ①
  const std::string_view line = view.Model().Line(0);
  const int left = static_cast<int>(view.Model().XOf(line, 0));
  HDC dc = ::GetDC(view.Handle());
  const auto ink = [&] {
    std::vector<std::pair<int, int>> ink;
    for (int y = 2; y < view.Model().LineHeight(); ++y)
      for (int x = 2; x < 60; ++x)
        if (::GetPixel(dc, x, y) != view.BackgroundColor()) ink.emplace_back(x, y);
    return ink;
  };
  ::RedrawWindow(view.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const auto drawn = ink();
  // Then Arial's own rendering of it, in the same place.
  const HFONT arial = ::CreateFontW(-::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                                    FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
  const HGDIOBJ before = ::SelectObject(dc, arial);
  WORD glyph = 0;
  ::GetGlyphIndicesW(dc, L"\u2460", 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS);
  const RECT area{0, 0, 60, view.Model().LineHeight()};
  ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
  ::SetBkMode(dc, TRANSPARENT);
  ::ExtTextOutW(dc, left, 0, 0, nullptr, L"\u2460", 1, nullptr);
  const auto boxed = ink();
  ::DeleteObject(::SelectObject(dc, before));
  ::ReleaseDC(view.Handle(), dc);
  if (glyph != 0xFFFF) GTEST_SKIP() << "Arial has it here";
  ASSERT_FALSE(drawn.empty());
  EXPECT_NE(drawn, boxed);
  for (const auto& [x, y] : drawn)
    EXPECT_TRUE(x >= left && x <= view.Model().XOf(line, line.size())) << x;
}

// No raw IP socket under wine: Start ends in the failure box, never in a hang.
TEST(Win32MainForm, WithoutARawSocketStartEndsInTheBox) {
  TMainForm form({}, TMainForm::kLogCapacity, false);
  EXPECT_EQ(form.LogView().LineCount(), 0u);  // elevated or not, no word of root here
  std::vector<TApplication::TBox> boxes;
  TApplication::SetBoxHook([&](const TApplication::TBox& box) { boxes.push_back(box); });
  ::SendMessageW(ControlNamed(form.Handle(), "Btn_StartStop"), BM_CLICK, 0, 0);
  Pump([&] { return !boxes.empty(); }, 10000ms);
  TApplication::SetBoxHook({});
  if (boxes.empty()) GTEST_SKIP() << "this system captures: no failure to show";
  EXPECT_NE(boxes[0].Text.find(L"failed at open: "), std::wstring::npos);
}

}  // namespace
