#pragma once

// The program's one window on Windows, with the system's own controls: the log view above a
// panel with the interface address, the port range, the column and flag check boxes and the
// Start/Stop button. Its behaviour is the controller's; the window composes the controls,
// reads them and shows what comes back.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "ui/MainController.h"
#include "ui/win32/LogView.h"

struct TLayoutEntry;

class TMainForm {
 public:
  static constexpr const wchar_t* kClassName = L"TMainForm";
  // The log view's capacity, in characters.
  static constexpr std::uint64_t kLogCapacity = std::uint64_t{1} << 30;

  // The program's window ends the message loop when it closes; a window made by a test does
  // not.
  explicit TMainForm(TCaptureServices services = {}, std::uint64_t log_capacity = kLogCapacity,
                     bool ends_the_program = true);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  HWND Handle() const { return FWindow; }
  // For tests and benchmarks: a control by its name in the layout table, the log view, the
  // controller.
  HWND Control(std::string_view name) const;
  const TLogView& LogView() const { return *Ecr; }
  const TMainController& Controller() const { return FController; }
  int Dpi() const { return FDpi; }

  // The drain: every tick while running, and between ticks while more is to come.
  void TimerInDataTimer();

  // Ctrl+F and F3 reach the log's find from any control of the window; true when `message`
  // was one of them.
  bool TranslateShortcut(const MSG& message);

 private:
  static void RegisterClasses();
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK ForwardingProc(HWND window, UINT message, WPARAM w, LPARAM l,
                                         UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK PortEditProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                       DWORD_PTR data);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);

  void CreateLogView(std::uint64_t capacity);
  void CreateBottomPanel();
  void CreateAddressGroup();
  void CreateViewGroup();
  void CreateFilterGroup();
  HWND CreateControl(const TLayoutEntry& entry);
  void SetTabOrder();
  // Where a control listed later overlaps one that Tab reaches first, the later one shows on
  // top: the earlier one is cut away there.
  void CutOverlaps();
  void ApplyDpi();
  void Layout();
  int Scale(int pixels) const { return ::MulDiv(pixels, FDpi, 96); }

  void FormCreate();
  void FormDestroy();
  void Btn_StartStopClick();
  void TouslesportsClick();
  void PortStartPortEndClick();
  // Lets through digits and backspace only; false when the character is discarded.
  static bool StartPortKeyPress(wchar_t key);
  void SetRunning(bool value);
  TStartTexts ReadStartTexts() const;
  TDisplayOptions ReadDisplayOptions() const;
  void ReadLocaleSeparators();
  bool Checked(std::string_view name) const;
  std::string TextOf(std::string_view name) const;
  // Appends the lines, follows the run state, plans the next drain, then shows the error.
  void Show(const TDrainResult& result);

  HWND FWindow = nullptr;
  std::map<std::string, HWND, std::less<>> FControls;
  std::unique_ptr<TLogView> Ecr;
  TMainController FController;
  const bool FEndsTheProgram;
  bool FRunning = true;  // as presented; FormCreate brings it to the stopped state
  int FDpi = 96;
  HFONT FFont = nullptr;
  HWND FFocus = nullptr;  // given back when the window is activated again
};
