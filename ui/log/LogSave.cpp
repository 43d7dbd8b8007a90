#include "ui/log/LogSave.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

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
  Open();
  FBuffer.reserve(kWriteAtOnce + 4096);
}

// Finds what the save replaces, refuses what is not a regular file before anything is opened
// (opening a FIFO waits for a reader, and would freeze the window), then creates the new file
// beside it.
void TLogSave::Open() {
  FTarget = FPath;
#ifdef _WIN32
  DWORD attributes = ::GetFileAttributesW(FTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A link: replaced, it would no longer lead to the log; the file it leads to is replaced
    // instead. Opened with no access to name that file, which waits for nothing.
    const HANDLE link =
        ::CreateFileW(FTarget.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) Fail(LastError());
    std::wstring resolved(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(link, resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    const int error = LastError();
    ::CloseHandle(link);
    if (length == 0 || length >= resolved.size())
      Fail(length == 0 ? error : ERROR_BUFFER_OVERFLOW);
    resolved.resize(length);
    FTarget = resolved;
    attributes = ::GetFileAttributesW(FTarget.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES && LastError() != ERROR_FILE_NOT_FOUND)
    Fail(LastError());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    Fail(ERROR_DIRECTORY, "Is a folder, not a regular file");
#else
  // A symbolic link is followed to the file it finally leads to, and that file is replaced:
  // the rename would otherwise put a regular file in the link's place, cutting it from what
  // it led to. A link that leads nowhere gets its file made.
  struct stat status {};
  bool exists = true;
  for (int links = 0;; ++links) {
    if (::lstat(FTarget.c_str(), &status) != 0) {
      if (errno != ENOENT) Fail(LastError());
      exists = false;
      break;
    }
    if (!S_ISLNK(status.st_mode)) break;
    if (links == 40) Fail(ELOOP);
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(FTarget, error);
    if (error) Fail(error.value());
    FTarget = next.is_absolute() ? next : FTarget.parent_path() / next;
  }
  if (exists && S_ISDIR(status.st_mode)) Fail(EISDIR);
  if (exists && !S_ISREG(status.st_mode))
    Fail(EINVAL,
         std::string("Not a regular file but ") + (S_ISFIFO(status.st_mode)   ? "a FIFO"
                                                   : S_ISSOCK(status.st_mode) ? "a socket"
                                                                              : "a device"));
  // A file this process may not write is not replaced either.
  if (exists && ::access(FTarget.c_str(), W_OK) != 0) Fail(LastError());
#endif
  // A hidden name beside it: a rename within one folder is atomic, and never crosses file
  // systems. The chosen name cut short enough that the new one's is not too long.
  auto name = FTarget.filename().native();
  name.resize(std::min<std::size_t>(name.size(), 200));
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char tail[24];
    std::snprintf(
        tail, sizeof tail, ".%06x.tmp",
        static_cast<unsigned>(entropy() ^ TClock::now().time_since_epoch().count()) & 0xFFFFFFu);
    std::filesystem::path temporary = FTarget;
    temporary.replace_filename(".");
    temporary += name;
    temporary += tail;
#ifdef _WIN32
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int error = LastError();
    if (file == INVALID_HANDLE_VALUE &&
        (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100)
      continue;
    if (file == INVALID_HANDLE_VALUE) Fail(error);
    FFile = file;
    FTemporary = temporary;
    return;
#else
    FFile = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (FFile < 0 && errno == EEXIST && attempt < 100) continue;
    if (FFile < 0) Fail(LastError());
    FTemporary = temporary;
    if (exists) {
      // The owner and the mode of the file replaced, as far as this process may give them.
      [[maybe_unused]] const int owned = ::fchown(FFile, status.st_uid, status.st_gid);
      [[maybe_unused]] const int moded = ::fchmod(FFile, status.st_mode & 0777);
    }
    return;
#endif
  }
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
  const bool closed = ::CloseHandle(static_cast<HANDLE>(FFile)) != 0;
  FFile = nullptr;
  if (!closed) Fail(LastError());
  // ReplaceFileW keeps the replaced file's attributes and access rights; it needs a file there.
  const bool replaced =
      ::GetFileAttributesW(FTarget.c_str()) != INVALID_FILE_ATTRIBUTES
          ? ::ReplaceFileW(FTarget.c_str(), FTemporary.c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
          : ::MoveFileExW(FTemporary.c_str(), FTarget.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  // A file system may report a failed write only now.
  const bool closed = ::close(FFile) == 0;
  FFile = -1;
  if (!closed) Fail(LastError());
  const bool replaced = ::rename(FTemporary.c_str(), FTarget.c_str()) == 0;
#endif
  if (!replaced) Fail(LastError());
  FTemporary.clear();
}

void TLogSave::Cancel() {
#ifdef _WIN32
  if (FFile) ::CloseHandle(static_cast<HANDLE>(FFile));
  FFile = nullptr;
  if (!FTemporary.empty()) ::DeleteFileW(FTemporary.c_str());
#else
  if (FFile >= 0) ::close(FFile);
  FFile = -1;
  if (!FTemporary.empty()) ::unlink(FTemporary.c_str());
#endif
  FTemporary.clear();
  FDone = true;
}

void TLogSave::Fail(int error, const std::string& reason) {
  Cancel();
  throw ELogSaveError("Impossible d'enregistrer le journal dans '" + Utf8Of(FPath) +
                      "' : " + (reason.empty() ? ReasonOf(error) : reason) + " (erreur " +
                      std::to_string(error) + ")");
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

std::filesystem::path ProposedLogPath(const std::filesystem::path& documents,
                                      const std::filesystem::path& home,
                                      std::chrono::system_clock::time_point now) {
  const std::string name = DefaultLogFileName(now);
  for (const std::filesystem::path& folder : {documents, home}) {
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_directory(folder, error)) return folder / name;
  }
  return name;
}
