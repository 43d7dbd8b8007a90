#pragma once

// The Win32 program's application: its title and its default handler, which shows what an
// event handler raised in a modal box. Every window procedure catches what its handlers raise
// and passes it here: no exception crosses a window procedure.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>

class TApplication {
 public:
  static HINSTANCE Instance();

  // The default handler: a stop icon, one OK button, the application's title, and the
  // message (UTF-8, as every text inside the program) as BoxText has it.
  static void HandleException(HWND owner, const std::exception& error);
  static void ShowException(HWND owner, const std::string& message);

  // Tests look at the box instead of waiting for a click on it.
  struct TBox {
    std::wstring Title;
    std::wstring Text;
    UINT Style;
  };
  using TBoxHook = std::function<void(const TBox&)>;
  static void SetBoxHook(TBoxHook hook);

  // The program's texts are UTF-8 inside, UTF-16 at the system's interface only.
  static std::wstring FromUtf8(std::string_view text);
  static std::string ToUtf8(std::wstring_view text);
};

// Runs a handler of a window procedure, passing what it raises to the default handler.
template <class F>
LRESULT Handled(HWND window, F&& handler) noexcept {
  try {
    return handler();
  } catch (const std::exception& error) {
    TApplication::HandleException(window, error);
  } catch (...) {
    TApplication::ShowException(window, "Unknown exception");
  }
  return 0;
}
