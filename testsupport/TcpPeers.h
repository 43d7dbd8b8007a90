#pragma once

// Plain TCP sockets for tests that need real traffic, over IPv4 or IPv6.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

inline sockaddr_in SocketAddress(const std::string& ip, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
  return address;
}

// An address of either family, from its text: IPv6 when it holds ':'.
struct TSocketAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;

  explicit TSocketAddress(const std::string& ip, std::uint16_t port) {
    if (ip.find(':') == std::string::npos) {
      const sockaddr_in in = SocketAddress(ip, port);
      std::memcpy(&Storage, &in, sizeof in);
      Length = sizeof in;
      return;
    }
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    ::inet_pton(AF_INET6, ip.c_str(), &in6.sin6_addr);
    std::memcpy(&Storage, &in6, sizeof in6);
    Length = sizeof in6;
  }
  int Family() const { return Storage.ss_family; }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

inline int ListenOn(const std::string& ip, std::uint16_t port) {
  const TSocketAddress address(ip, port);
  const int fd = ::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(fd, address.Get(), address.Length) != 0 || ::listen(fd, 16) != 0)
    throw std::runtime_error("cannot listen on " + ip);
  return fd;
}

inline int ConnectTo(const std::string& ip, std::uint16_t port) {
  const TSocketAddress address(ip, port);
  const int fd = ::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, address.Get(), address.Length) != 0)
    throw std::runtime_error("cannot connect to " + ip);
  return fd;
}

inline void SendText(int fd, const std::string& text) {
  if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("short send");
}

inline std::string ReceiveText(int fd) {
  char buffer[4096];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Closes with a reset instead of a FIN.
inline void Reset(int fd) {
  const linger now{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  ::close(fd);
}
