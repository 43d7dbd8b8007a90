#pragma once

// The capture helper: the small program that alone holds the right to capture on Linux, and
// the window's way of finding and running it.
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"

inline constexpr const char* kCaptureHelperName = "quorvel-capture";
// Where an installed helper lies, seen from the folder of the installed window.
#ifdef QUORVEL_HELPER_FROM_BIN
inline constexpr const char* kCaptureHelperFromBin = QUORVEL_HELPER_FROM_BIN;
#else
inline constexpr const char* kCaptureHelperFromBin = "../libexec/quorvel/quorvel-capture";
#endif
// The group whose members may run an installed helper.
inline constexpr const char* kCaptureGroup = "quorvel";

// The helper beside the running program if there is one (a build tree), else the installed
// one; never looked up in PATH.
std::string CaptureHelperPath();

// A capture layer that runs the helper at `helper` for its capture.
std::unique_ptr<TCaptureLayer> MakeHelperCaptureLayer(std::string helper);

// The IPv4 addresses of the host's interfaces that are up, loopback excepted; 127.0.0.1 when
// there is none.
std::vector<std::string> HostInterfaceAddresses();
