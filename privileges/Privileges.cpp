#include "privileges/Privileges.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

// Every user id and every group id of the process are its real ones.
bool OnlyRealIds(uid_t user, gid_t group) {
  uid_t uids[3];
  gid_t gids[3];
  if (::getresuid(&uids[0], &uids[1], &uids[2]) != 0 ||
      ::getresgid(&gids[0], &gids[1], &gids[2]) != 0)
    return false;
  for (int i = 0; i < 3; ++i)
    if (uids[i] != user || gids[i] != group) return false;
  return true;
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

TPrivilegeFault KeepOnlyRawCapture() {
  const uid_t user = ::getuid();
  const gid_t group = ::getgid();
  if (!OnlyRealIds(user, group)) {
    // Set-user-ID root: only CAP_NET_RAW survives becoming the real user again.
    if (::prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return {errno, "PR_SET_KEEPCAPS"};
    if (::setresgid(group, group, group) != 0) return {errno, "setresgid"};
    if (::setresuid(user, user, user) != 0) return {errno, "setresuid"};
    ::prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
    if (!OnlyRealIds(user, group)) return {EPERM, "setresuid"};
  }
  ClearAmbient();
  constexpr std::uint64_t kRaw = std::uint64_t{1} << CAP_NET_RAW;
  if (!SetCapabilities(kRaw, kRaw)) SetCapabilities(0, 0);  // not at hand: keep nothing
  // What counts is what is held now, whatever the calls said.
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return {errno, "capget"};
  for (int i = 0; i < 2; ++i) {
    const auto raw = static_cast<std::uint32_t>(kRaw >> (32 * i));
    if ((data[i].effective | data[i].permitted) & ~raw || data[i].inheritable != 0)
      return {EPERM, "capset"};
  }
  return {};
}
