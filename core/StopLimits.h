#pragma once

// The time limits of a stop, all derived from one: kHandOverLimit, how long a stopped capture
// may take, from the click, to hand over what the system had captured before it and to release
// everything. The window, its capture layers and the capture helper each size their part from
// it, so that no part cuts another that is still within its time.
#include <chrono>
#include <cstdint>

#include "core/DateTime.h"

inline constexpr std::chrono::milliseconds kHandOverLimit{2000};

// The window waits this long for a stopped capture before it lets it go: the whole limit, and
// a little for the capture's thread to be scheduled.
inline constexpr std::chrono::milliseconds kStopWait = kHandOverLimit + kHandOverLimit / 8;

// While a stopped capture hands over, the window drains this often: its last lines show as
// they come, and a Start right after a Stop waits no longer than the hand-over.
inline constexpr std::chrono::milliseconds kStopDrainPace = kHandOverLimit / 200;

// The Winsock layer's hand-over, counted from the stop. Receive-all is off and the bytes its
// sockets could hold bound the work: this only keeps a starved thread within the window's wait.
inline constexpr std::chrono::milliseconds kSocketHandOver = kHandOverLimit;

// How long the Linux layer waits for the helper to exit, once its stream has ended or its pipes
// are closed, before it kills it.
inline constexpr std::chrono::milliseconds kHelperExitGrace = kHandOverLimit / 4;

// The Linux layer's slack for its own scheduling within the limit.
inline constexpr std::chrono::milliseconds kHelperSlack = kHandOverLimit / 20;

// The helper needs a few tens of milliseconds to hand over its ring. One that takes longer than
// this is not answering and is ended, in time for the capture to end within the limit.
inline constexpr std::chrono::milliseconds kHelperHandOver =
    kHandOverLimit - kHelperExitGrace - kHelperSlack;

// A helper that no longer reads its input is gone: the window takes only what its stream
// already holds, for no longer than this.
inline constexpr std::chrono::milliseconds kGoneHelperHandOver = kHelperSlack;

// The helper's side: after a stop, how long the window may go without taking anything of what
// is left before the helper gives up. Short enough that a helper asked to end while nobody
// reads it leaves promiscuous mode within a second; while the window reads, all is handed over.
inline constexpr std::chrono::milliseconds kHelperIdleHandOver = kHandOverLimit / 4;
static_assert(kHelperIdleHandOver < kHelperHandOver,
              "the window waits for a helper that is still handing over");

// The set-up's bound on Linux. A stop wakes a set-up at once, so this bounds only a helper that
// never answers; set-up may take a while on a busy host.
inline constexpr std::chrono::milliseconds kSetupLimit = kHandOverLimit * 15;

// The moment of a stop as the capture counts it: microseconds since 1970, on the clock the
// system stamps datagrams with.
inline std::int64_t StopMomentNow() {
  return UnixMicrosecondsNow();
}
