#include "ui/win32/SaveDialog.h"

#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include "ui/log/LogSave.h"
#include "ui/log/LogTexts.h"
#include "ui/win32/Application.h"

std::wstring ProposedSaveFile() {
  const auto known = [](REFKNOWNFOLDERID id) {
    wchar_t* folder = nullptr;
    const bool found = SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &folder));
    std::filesystem::path path(found && folder ? folder : L"");
    ::CoTaskMemFree(folder);
    return path;
  };
  return ProposedLogPath(known(FOLDERID_Documents), known(FOLDERID_Profile),
                         std::chrono::system_clock::now())
      .wstring();
}

std::wstring AskSaveFile(HWND owner, const std::wstring& proposed) {
  wchar_t file[MAX_PATH * 4] = L"";
  const std::size_t slash = proposed.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : proposed.substr(0, slash);
  proposed.copy(file, std::min<std::size_t>(proposed.size() - (slash + 1), std::size(file) - 1),
                slash + 1);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  const std::wstring filter =
      TApplication::FromUtf8(TLogTexts::kTextFiles) + std::wstring(L" (*.txt)\0*.txt\0", 15) +
      TApplication::FromUtf8(TLogTexts::kAllFiles) + std::wstring(L" (*.*)\0*.*\0", 11);
  const std::wstring title = TApplication::FromUtf8(TLogTexts::kSaveTitle);
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file;
  dialog.nMaxFile = static_cast<DWORD>(std::size(file));
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = L"txt";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
  // The dialog's library is loaded only when asked for: it brings the print spooler's, which
  // looks for a printing service on the network as it loads (under wine, at least).
  static const auto ask = reinterpret_cast<BOOL(WINAPI*)(OPENFILENAMEW*)>(
      reinterpret_cast<void (*)()>(::GetProcAddress(
          ::LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
          "GetSaveFileNameW")));
  if (!ask) throw std::runtime_error("the system's save dialog is not there");
  return ask(&dialog) ? std::wstring(file) : std::wstring();
}
