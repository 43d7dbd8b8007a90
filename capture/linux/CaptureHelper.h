#pragma once

// The capture helper: the small program that alone holds the right to capture on Linux, and
// the window's way of finding and running it.
#include <cerrno>
#include <memory>
#include <string>

#include "capture/CaptureLayer.h"

inline constexpr const char* kCaptureHelperName = "quorvel-capture";

// The helper beside the running program if there is one (a build tree), else the installed
// one; never looked up in PATH nor in the working directory. Empty when the running program's
// own path cannot be read, `missing` then telling why (an errno).
std::string CaptureHelperPath(int* missing = nullptr);

// A capture layer that runs the helper at `helper` for its capture; for an empty `helper`,
// one whose Open fails, telling that no helper was found for the reason `missing`.
std::unique_ptr<TCaptureLayer> MakeHelperCaptureLayer(std::string helper, int missing = ENOENT);
