#pragma once

// The program's one window on Windows, with the system's own controls: the log view above a
// panel with the interface address, the port range, the column and flag check boxes and the
// Start/Stop button. Its behaviour is the controller's; the window composes the controls,
// reads them and shows what comes back.
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ui/Layout.h"
#include "ui/MainController.h"
#include "ui/win32/LogView.h"

class TMainForm : private TMainView {
 public:
  static constexpr const wchar_t* kClassName = L"TMainForm";
  // Each control's id: its row in the layout table, from here on.
  static constexpr int kFirstControlId = 100;
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
  // For tests and benchmarks: the log view, the controller.
  const TLogView& LogView() const { return *Ecr; }
  const TMainController& Controller() const { return FController; }

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

  HWND Control(TControlName name) const { return FControls[name.Row]; }
  void CreateLogView(std::uint64_t capacity);
  void CreateBottomPanel();
  void AttachSpinButtons();
  HWND CreateControl(const TLayoutEntry& entry);
  void SetTabOrder();
  // Where a control listed later overlaps one that Tab reaches first, the later one shows on
  // top: the earlier one is cut away there.
  void CutOverlaps();
  void ApplyDpi();
  void PlaceInWorkArea();
  void FitComboBox(HWND box, const TLayoutEntry& entry);
  void Layout();
  int Scale(int pixels) const { return ::MulDiv(pixels, FDpi, 96); }

  void FormCreate();
  void FormDestroy();
  void Btn_StartStopClick();
  void EditIpDropDown();
  void EditIpSelect(int index);
  void EditIpNotified(WORD code);
  void TouslesportsClick();
  void PortStartPortEndClick();
  // True when the edit may take the character; the editing shortcuts are done here.
  static bool StartPortKeyPress(HWND edit, wchar_t key);
  void ReadLocaleSeparators();
  bool Checked(HWND control) const;
  std::string TextOf(HWND control) const;

  // What the controller reads and shows.
  TStartTexts StartTexts() const override;
  TDisplayOptions DisplayOptions() const override;
  std::size_t AppendLines(std::span<const std::string> lines) override;
  void ShowRunning(bool running) override;
  void DrainAgain(TNextDrain next) override;
  void ShowError(const std::string& message) override;

  HWND FWindow = nullptr;
  std::array<HWND, kControlCount> FControls{};
  std::unique_ptr<TLogView> Ecr;
  TMainController FController;
  const bool FEndsTheProgram;
  bool FTicking = false;  // the timer of the running state
  int FDpi = 96;
  HFONT FFont = nullptr;
  HWND FFocus = nullptr;  // given back when the window is activated again
  // The address field's text when its list opened, whether the list is open, and whether an
  // entry was chosen since it opened.
  std::wstring FTextBeforeList;
  bool FListOpen = false;
  bool FEntryChosen = false;
};
