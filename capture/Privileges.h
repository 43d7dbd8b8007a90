#pragma once

// Linux capabilities, without libcap: what the window gives up at once, and what the capture
// helper keeps only as long as it must.
#include <cstdint>
#include <string>

// Clears every capability of the process's threads: effective, permitted, inheritable and
// ambient. The bounding set stays, so that a program this one runs may still be granted
// capabilities of its own. Call it before any other thread exists. False when the system
// refused.
bool DropAllCapabilities();

// Keeps CAP_NET_RAW alone, effective and permitted. A set-user-ID-root program first becomes
// its real user again. False when CAP_NET_RAW is not at hand (the capture will then be
// refused by the system, which says why).
bool KeepOnlyRawCapture();
