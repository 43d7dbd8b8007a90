// The Windows program's entry: the main window and the message loop, in which the dialog
// manager moves the focus with Tab as the layout orders it.
#include <windows.h>

#include "ui/win32/UnitMain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  TMainForm MainForm;
  ::ShowWindow(MainForm.Handle(), show);
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (MainForm.TranslateShortcut(message)) continue;
    if (MainForm.Handle() && ::IsDialogMessageW(MainForm.Handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
