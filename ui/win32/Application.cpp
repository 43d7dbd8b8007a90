#include "ui/win32/Application.h"

#include "ui/DefaultHandler.h"
#include "ui/Layout.h"

namespace {

TApplication::TBoxHook& BoxHook() {
  static TApplication::TBoxHook hook;
  return hook;
}

}  // namespace

HINSTANCE TApplication::Instance() {
  return ::GetModuleHandleW(nullptr);
}

void TApplication::HandleException(HWND owner, const std::exception& error) {
  try {
    ShowException(owner, MessageOf(error));
  } catch (...) {
    // Nothing may leave a window procedure; a box that cannot be built is not shown.
  }
}

void TApplication::ShowException(HWND owner, const std::string& message) {
  const std::wstring wide = FromUtf8(message);
  const std::u16string text = BoxText(std::u16string(wide.begin(), wide.end()));
  const TBox box{FromUtf8(kApplicationTitle), std::wstring(text.begin(), text.end()),
                 MB_ICONSTOP | MB_OK};
  if (BoxHook())
    BoxHook()(box);
  else
    ::MessageBoxW(owner, box.Text.c_str(), box.Title.c_str(), box.Style);
}

void TApplication::SetBoxHook(TBoxHook hook) {
  BoxHook() = std::move(hook);
}

std::wstring TApplication::FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return wide;
}

std::string TApplication::ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}
