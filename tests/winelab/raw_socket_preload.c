// Preloaded into the capture lab's wine server, which makes every socket of its Windows
// programs and sets their receive buffers. A Windows raw socket of protocol 0 (IPPROTO_IP) is
// what a receive-all capture opens; Linux refuses raw sockets of protocol 0, so the lab makes
// it a raw TCP socket, which Linux gives root: it receives the TCP datagrams addressed to its
// address, with their IPv4 header (for IPv6, the TCP segment alone).
//
// Windows grants a raw socket the receive buffer it asks for (SO_RCVBUF); Linux silently caps
// it at net.core.rmem_max, which would make the lab lose what Windows keeps. The server runs
// as root: a raw socket gets the size asked, as on Windows (Linux doubles it for its own
// bookkeeping, as it does for any buffer).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

int socket(int domain, int type, int protocol) {
  static int (*next)(int, int, int);
  if (!next) next = (int (*)(int, int, int))dlsym(RTLD_NEXT, "socket");
  const int kind = type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
  if ((domain == AF_INET || domain == AF_INET6) && kind == SOCK_RAW && protocol == 0)
    protocol = IPPROTO_TCP;
  return next(domain, type, protocol);
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t size) {
  static int (*next)(int, int, int, const void*, socklen_t);
  if (!next) next = (int (*)(int, int, int, const void*, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
  int kind = 0;
  socklen_t kind_size = sizeof kind;
  if (level == SOL_SOCKET && name == SO_RCVBUF &&
      getsockopt(fd, SOL_SOCKET, SO_TYPE, &kind, &kind_size) == 0 && kind == SOCK_RAW)
    name = SO_RCVBUFFORCE;
  return next(fd, level, name, value, size);
}
