#pragma once

// What the platform tells of the host: its addresses, and whether the program runs as root.
#include <string>
#include <vector>

// The host's own addresses, in the system's order: the IPv4 addresses of the interfaces that
// are up, loopback excepted, or 127.0.0.1 when there is none.
std::vector<std::string> HostAddresses();

// One address of one of the host's interfaces, in UTF-8: the address as text, an IPv6
// link-local one with its zone ("fe80::1%eth0" on Linux, where the zone is the interface's
// name; "fe80::1%12" on Windows, where it is the interface's index), and the interface's name
// (on Windows the adapter's friendly name).
struct TInterfaceAddress {
  std::string Address;
  std::string Interface;

  bool operator==(const TInterfaceAddress&) const = default;
};

// Every IPv4 and IPv6 address of the host's interfaces that are up, loopback included, in the
// system's order, read afresh at each call.
std::vector<TInterfaceAddress> InterfaceAddresses();

// True when the program runs as root (on Linux, its effective user is 0): dropping its
// capabilities then does not contain it. Always false on Windows.
bool RunsAsRoot();
