#include "ui/log/LogSave.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::size_t kWriteAtOnce = std::size_t{1} << 20;
constexpr unsigned kLinesBetweenClockReads = 256;

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

// The system's own words for an error.
std::string ReasonOf(int error) {
#ifdef _WIN32
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason(text ? text : L"", length);
  if (text) ::LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                             reason.back() == L'.' || reason.back() == L' '))
    reason.pop_back();
  if (reason.empty()) return "unknown error";
  const int size = ::WideCharToMultiByte(
      CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), narrow.data(),
                        size, nullptr, nullptr);
  return narrow;
#else
  return std::strerror(error);
#endif
}

int LastError() {
#ifdef _WIN32
  return static_cast<int>(::GetLastError());
#else
  return errno;
#endif
}

}  // namespace

TLogSave::TLogSave(const TLogText& text, const TCodePage& code_page, std::filesystem::path path,
                   std::string_view line_break)
    : FText(text),
      FCodePage(code_page),
      FPath(std::move(path)),
      FLineBreak(line_break),
      FLines(text.LineCount()) {
#ifdef _WIN32
  // Not emptied as it opens, but cut to what was written as it closes: a file emptied to
  // nothing is written out whole as it closes on some file systems (ext4), which would stall
  // the last slice for as long.
  const HANDLE file = ::CreateFileW(FPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(LastError());
  FFile = file;
  FRemovable = ::GetFileType(file) == FILE_TYPE_DISK;
#else
  // Not emptied as it opens, but cut to what was written as it closes: a file emptied to
  // nothing is written out whole as it closes on ext4, which would stall the last slice.
  FFile = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (FFile < 0) Fail(LastError());
  // Never remove what is not a plain file, such as a device chosen as the place to save.
  struct stat status {};
  FRemovable = ::fstat(FFile, &status) == 0 && S_ISREG(status.st_mode);
#endif
  FBuffer.reserve(kWriteAtOnce + 4096);
}

TLogSave::~TLogSave() {
  if (!FDone) Cancel();
}

bool TLogSave::Continue(std::chrono::nanoseconds budget) {
  if (FDone) return false;
  const auto until = TClock::now() + budget;
  for (unsigned done = 1; FNext < FLines; ++done) {
    FCodePage.AppendShownUtf8(FBuffer, FText.Line(FNext++, FScratch));
    FBuffer += FLineBreak;
    if (FBuffer.size() >= kWriteAtOnce) Flush();
    if (done % kLinesBetweenClockReads == 0 && TClock::now() >= until) break;
  }
  Flush();
  if (FNext < FLines) return true;
  Close();
  FDone = true;
  return false;
}

void TLogSave::Flush() {
  const char* data = FBuffer.data();
  std::size_t left = FBuffer.size();
  while (left > 0) {
#ifdef _WIN32
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
    if (!::WriteFile(static_cast<HANDLE>(FFile), data, count, &written, nullptr))
      Fail(LastError());
#else
    const ssize_t written = ::write(FFile, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) Fail(LastError());
#endif
    data += written;
    left -= static_cast<std::size_t>(written);
    FWritten += static_cast<std::uint64_t>(written);
  }
  FBuffer.clear();
}

void TLogSave::Close() {
#ifdef _WIN32
  if (!::SetEndOfFile(static_cast<HANDLE>(FFile))) Fail(LastError());
  const bool closed = ::CloseHandle(static_cast<HANDLE>(FFile)) != 0;
  FFile = nullptr;
#else
  if (FRemovable && ::ftruncate(FFile, static_cast<off_t>(FWritten)) != 0) Fail(LastError());
  // A file system may report a failed write only now.
  const bool closed = ::close(FFile) == 0;
  FFile = -1;
#endif
  if (!closed) Fail(LastError());
}

void TLogSave::Cancel() {
#ifdef _WIN32
  if (FFile) ::CloseHandle(static_cast<HANDLE>(FFile));
  FFile = nullptr;
  if (FRemovable) ::DeleteFileW(FPath.c_str());
#else
  if (FFile >= 0) ::close(FFile);
  FFile = -1;
  if (FRemovable) ::unlink(FPath.c_str());
#endif
  FRemovable = false;
  FDone = true;
}

void TLogSave::Fail(int error) {
  Cancel();
  throw ELogSaveError("Impossible d'enregistrer le journal dans '" + Utf8Of(FPath) +
                      "' : " + ReasonOf(error) + " (erreur " + std::to_string(error) + ")");
}

std::string TLogSave::Progress() const {
  const std::uint64_t percent = FLines == 0 ? 100 : FNext * 100 / FLines;
  return "Enregistrement : " + std::to_string(percent) + " %";
}

std::string DefaultLogFileName(std::chrono::system_clock::time_point now) {
  const std::time_t time = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &time);
#else
  localtime_r(&time, &local);
#endif
  char name[64];
  std::strftime(name, sizeof name, "quorvel-%Y%m%d-%H%M%S.txt", &local);
  return name;
}
