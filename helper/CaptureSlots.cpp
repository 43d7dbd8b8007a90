// A capture holds a listening unix socket with an abstract name "quorvel-capture/UID/RANDOM"
// for as long as it runs; the kernel closes it when the helper ends, however it ends. Having
// bound its own, a helper counts, through the kernel's socket diagnostics, the listening
// sockets so named that its user owns, its own included, and gives up when there are more
// than the bound. Counting after taking keeps the bound whatever the timing: of any helpers
// that run together, the last one to count saw all the others, since each took its socket
// before it counted and still holds it. Helpers that start together may all give up; none
// runs beyond the bound.
//
// Why not a lock file in the user's runtime directory: the user owns that directory and may
// remove the file, and helpers started after that lock a new file beside the held locks of
// the old one. An abstract name belongs to no directory and goes only with its socket.
//
// Anyone may bind any abstract name, so another user may take names of this form: they do
// not count, since the kernel tells every socket's owner, and a name already taken only makes
// the helper draw another. Sockets that this user makes himself count against him alone.
//
// Names live in a network namespace, and a user in several at once may run the bound in each.
// Entering a namespace takes a right the user lacks, or a user namespace of his own, in whose
// network namespaces he may capture, rings included, without this helper.
#include "helper/CaptureSlots.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/tcp.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr char kNamePrefix[] = "quorvel-capture/";

// The bytes of `user`'s names as the kernel keeps them, with the NUL that makes them abstract.
std::string PrefixOf(uid_t user) {
  return std::string(1, '\0') + kNamePrefix + std::to_string(user) + "/";
}

std::string NameOf(uid_t user, std::uint64_t draw) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(draw));
  return PrefixOf(user) + hex;
}

std::uint64_t Draw() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == sizeof value) return value;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);  // early at boot: unpredictable enough
  return static_cast<std::uint64_t>(now.tv_nsec) << 20 ^ static_cast<std::uint64_t>(::getpid());
}

// Binds `fd` to a fresh name of `user`'s and listens: only listening sockets are counted,
// far fewer than all the unix sockets of a host.
int BindFreshName(int fd, uid_t user) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = NameOf(user, Draw());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
      return ::listen(fd, 0) == 0 ? 0 : errno;
    if (errno != EADDRINUSE) return errno;
  }
  return EADDRINUSE;
}

// Counts the listening sockets of this network namespace named for `user` and owned by him,
// `own` (an inode) among them; an errno when the kernel could not tell.
int CountCaptures(uid_t user, std::uint32_t own, int& count) {
  const int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag < 0) return errno;
  struct {
    nlmsghdr Header;
    unix_diag_req Request;
  } ask{};
  ask.Header.nlmsg_len = sizeof ask;
  ask.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  ask.Request.sdiag_family = AF_UNIX;
  ask.Request.udiag_states = 1u << TCP_LISTEN;
  ask.Request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_UID;
  if (::send(diag, &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask)) {
    const int code = errno;
    ::close(diag);
    return code;
  }
  const std::string prefix = PrefixOf(user);
  std::vector<char> buffer(1 << 16);
  bool seen_own = false;
  int code = 0;
  count = 0;
  for (bool done = false; !done && code == 0;) {
    iovec vector{buffer.data(), buffer.size()};
    sockaddr_nl sender{};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(diag, &message, 0);
    if (got < 0 && errno == EINTR) continue;
    // Only the kernel's word counts.
    if (got <= 0 || (message.msg_flags & MSG_TRUNC) || sender.nl_pid != 0) {
      code = got < 0 ? errno : EIO;
      break;
    }
    auto length = static_cast<std::uint32_t>(got);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, length);
         header = NLMSG_NEXT(header, length)) {
      if (header->nlmsg_type == NLMSG_DONE) {
        done = true;
        break;
      }
      if (header->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        code = error->error < 0 ? -error->error : EIO;
        break;
      }
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
          header->nlmsg_len < NLMSG_LENGTH(sizeof(unix_diag_msg)))
        continue;
      const auto* socket = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
      seen_own = seen_own || socket->udiag_ino == own;
      bool named = false;
      bool foreign = false;
      auto left = static_cast<unsigned>(header->nlmsg_len - NLMSG_LENGTH(sizeof *socket));
      for (auto* attribute = reinterpret_cast<rtattr*>(
               reinterpret_cast<char*>(NLMSG_DATA(header)) + NLMSG_ALIGN(sizeof *socket));
           RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        const auto* data = static_cast<const char*>(RTA_DATA(attribute));
        const std::size_t size = RTA_PAYLOAD(attribute);
        if (attribute->rta_type == UNIX_DIAG_NAME) {
          named = size >= prefix.size() && std::memcmp(data, prefix.data(), prefix.size()) == 0;
        } else if (attribute->rta_type == UNIX_DIAG_UID && size >= sizeof(std::uint32_t)) {
          std::uint32_t owner = 0;
          std::memcpy(&owner, data, sizeof owner);
          foreign = owner != user;
        }
      }
      // A kernel that does not tell the owner counts every socket so named.
      if (named && !foreign) ++count;
    }
  }
  ::close(diag);
  if (code == 0 && !seen_own) code = EIO;  // a count that misses this very helper is no count
  return code;
}

}  // namespace

TCaptureSlot TakeCaptureSlot(uid_t user) {
  // Kept open, never closed: the slot is the socket.
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  int code = fd < 0 ? errno : 0;
  struct stat self {};
  if (code == 0 && ::fstat(fd, &self) != 0) code = errno;
  if (code == 0) code = BindFreshName(fd, user);
  int count = 0;
  if (code == 0) code = CountCaptures(user, static_cast<std::uint32_t>(self.st_ino), count);
  if (code == 0 && count <= kMaxCapturesPerUser) return {};
  if (fd >= 0) ::close(fd);
  if (code != 0)
    return {code, std::string("cannot count this user's captures: ") + std::strerror(code)};
  return {EUSERS, "this user already runs " + std::to_string(kMaxCapturesPerUser) +
                      " captures, the most at once"};
}
