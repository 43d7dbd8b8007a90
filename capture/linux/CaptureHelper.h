#pragma once

// The capture helper: the small program that alone holds the right to capture on Linux, and
// the window's way of finding and running it.
#include <memory>
#include <string>

#include "capture/CaptureLayer.h"

inline constexpr const char* kCaptureHelperName = "quorvel-capture";

// The helper beside the running program if there is one (a build tree), else the installed
// one; never looked up in PATH.
std::string CaptureHelperPath();

// A capture layer that runs the helper at `helper` for its capture.
std::unique_ptr<TCaptureLayer> MakeHelperCaptureLayer(std::string helper);
