#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <string_view>

// The address the user typed, which picks the interface to capture.
struct TCaptureAddress {
  int Family = AF_INET;  // AF_INET or AF_INET6
  in_addr Ipv4{};
  in6_addr Ipv6{};
  // An IPv6 address's zone, as typed after '%': an interface's name, or its index when it is
  // all digits; empty when none was given.
  std::string Zone;
};

// Reads `text`. Without ':' it is IPv4, read as inet_addr reads it: any text goes, one that is
// no address giving 255.255.255.255, which no interface holds. With ':' it is IPv6, in any
// form inet_pton accepts, optionally followed by '%' and a zone; nothing when it is not.
std::optional<TCaptureAddress> ParseCaptureAddress(std::string_view text);

// The device that holds `address` (of an alias label such as "eth0:1", the device), or
// nothing. With a zone, only the interface it names may hold it; without, the first interface
// in the system's order that holds it is taken, which matters for a link-local address only:
// the same one may be on several links.
std::optional<std::string> DeviceHolding(const TCaptureAddress& address);
