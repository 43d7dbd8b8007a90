#pragma once

// Saving the log to a file: the lines it holds when the save begins, as the view shows them
// (control characters as their visible symbols), in UTF-8, each ended by the platform's line
// break. It goes a slice at a time, so that a view runs it on a timer and goes on answering
// input and appending lines while millions of lines are written; appends do not move the
// lines it writes.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ui/log/CodePage.h"
#include "ui/log/LogText.h"

// A save that failed, saying where and why; the file chosen is as it was, and no other is left.
class ELogSaveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The log goes into a new file of its own beside the chosen one, which takes the chosen one's
// place only once the whole log is in it: a cancel, a failure or a crash never harms a file
// that was there. Anything there but a regular file (a folder, a FIFO, a device) is refused,
// without opening it.
class TLogSave {
 public:
  // Creates the new file; raises ELogSaveError when that fails or `path` is refused.
  TLogSave(const TLogText& text, const TCodePage& code_page, std::filesystem::path path,
           std::string_view line_break);
  // A save not done by then is cancelled.
  ~TLogSave();
  TLogSave(const TLogSave&) = delete;
  TLogSave& operator=(const TLogSave&) = delete;

  // Writes for about `budget`; true while more is due. A failure raises ELogSaveError, with
  // the new file removed.
  bool Continue(std::chrono::nanoseconds budget);
  // Stops, and removes the new file.
  void Cancel();
  bool Done() const { return FDone; }

  const std::filesystem::path& Path() const { return FPath; }
  std::uint64_t Lines() const { return FLines; }
  std::uint64_t Written() const { return FNext; }
  // "Enregistrement : 42 %", in UTF-8.
  std::string Progress() const;

 private:
  void Open();
  void Flush();
  [[noreturn]] void Fail(int error, const std::string& reason = {});
  void Close();

  const TLogText& FText;
  const TCodePage& FCodePage;
  const std::filesystem::path FPath;
  const std::string FLineBreak;
  const std::uint64_t FLines;  // the lines there when it began
  std::uint64_t FNext = 0;
  std::uint64_t FWritten = 0;  // bytes
  std::string FBuffer;
  std::string FScratch;
  bool FDone = false;
  std::filesystem::path FTarget;     // the file replaced: the chosen one, its links followed
  std::filesystem::path FTemporary;  // the new file, while it is ours to remove
#ifdef _WIN32
  void* FFile = nullptr;
#else
  int FFile = -1;
#endif
};

// The name a save proposes: "quorvel-YYYYMMDD-HHMMSS.txt", in local time.
std::string DefaultLogFileName(std::chrono::system_clock::time_point now);

// Where a save proposes to write: that name in the user's documents folder if it exists, else
// in the home folder, else alone.
std::filesystem::path ProposedLogPath(const std::filesystem::path& documents,
                                      const std::filesystem::path& home,
                                      std::chrono::system_clock::time_point now);
