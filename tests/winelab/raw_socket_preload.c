// Preloaded into the capture lab's wine server, which makes every socket of its Windows
// programs. A Windows raw socket of protocol 0 (IPPROTO_IP) is what a receive-all capture
// opens; Linux refuses raw sockets of protocol 0, so the lab makes it a raw TCP socket, which
// Linux gives root: it receives the TCP datagrams addressed to its address, with their IPv4
// header (for IPv6, the TCP segment alone).
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
