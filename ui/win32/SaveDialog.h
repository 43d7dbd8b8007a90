#pragma once

// The system's save dialog for the log, and where it starts.
#include <windows.h>

#include <string>

// "quorvel-YYYYMMDD-HHMMSS.txt" in the user's documents folder, else the profile folder.
std::wstring ProposedSaveFile();

// The file chosen in the system's save dialog, starting at `proposed`; empty when none was.
std::wstring AskSaveFile(HWND owner, const std::wstring& proposed);
