#pragma once

// How many captures one user may run at once. Each capture pins its packet ring, memory that
// no limit of the user's counts, so the helper bounds how many run at once instead.
#include <sys/types.h>

#include <string>

constexpr int kMaxCapturesPerUser = 4;

struct TCaptureSlot {
  int Code = 0;      // an errno: 0 when the slot is held
  std::string Text;  // why not
};

// Takes one of the `user`'s slots in the current network namespace, held until the process
// ends. Call it once the process runs as that user.
TCaptureSlot TakeCaptureSlot(uid_t user);
