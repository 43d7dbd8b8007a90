#include "capture/Privileges.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool SetCapabilities(std::uint64_t effective, std::uint64_t permitted) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  for (int i = 0; i < 2; ++i) {
    data[i].effective = static_cast<std::uint32_t>(effective >> (32 * i));
    data[i].permitted = static_cast<std::uint32_t>(permitted >> (32 * i));
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

void ClearAmbient() {
#ifdef PR_CAP_AMBIENT
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
#endif
}

}  // namespace

bool DropAllCapabilities() {
  ClearAmbient();
  return SetCapabilities(0, 0);
}

bool KeepOnlyRawCapture() {
  const uid_t real = ::getuid();
  if (::geteuid() != real) {
    // Set-user-ID root: only CAP_NET_RAW survives becoming the real user again.
    ::prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0);
    const gid_t group = ::getgid();
    if (::setresgid(group, group, group) != 0 || ::setresuid(real, real, real) != 0) return false;
    ::prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
  }
  ClearAmbient();
  constexpr std::uint64_t kRaw = std::uint64_t{1} << CAP_NET_RAW;
  if (SetCapabilities(kRaw, kRaw)) return true;
  SetCapabilities(0, 0);
  return false;
}
