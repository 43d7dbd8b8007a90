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

// Why a process could not give up what it must: an errno and the call the system refused.
struct TPrivilegeFault {
  int Code = 0;
  const char* Call = "";
  explicit operator bool() const { return Code != 0; }
};

// Keeps CAP_NET_RAW alone, effective and permitted. A set-user-ID-root program first becomes
// its real user again, in all its user and group ids. When CAP_NET_RAW is not at hand, keeps
// nothing (the capture will then be refused by the system, which says why). A fault means
// that the process still runs as another user than its real one, or holds more than
// CAP_NET_RAW: it must end without capturing anything.
TPrivilegeFault KeepOnlyRawCapture();
