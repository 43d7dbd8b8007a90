#pragma once

// The Winsock entry points the capture calls: WSAStartup, socket, inet_addr and inet_pton,
// GetAdaptersAddresses, bind, WSAIoctl with SIO_RCVALL, recv, and for IPv6 WSARecvMsg with
// IPV6_PKTINFO, closesocket, WSACleanup and WSAGetLastError, with WSAEventSelect and its events
// so that a stop can wake a receive; gethostname, gethostbyname and inet_ntoa for the host's own
// addresses; and the capture's own pieces that its tests reach. Only the project root is an
// include directory, so this header is reached as "capture/windows/WinsockCapture.h" and never
// stands in for the system's <winsock2.h>.
#ifdef _WIN32
// In this order: each needs the one before.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <mstcpip.h>

#include <iphlpapi.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/CaptureTypes.h"

// What a capture reports when a Winsock call of `step` fails with `code` on a socket of
// `family`: the case named (an interface gone, an address gone...) with the system's own text,
// in English.
TCaptureError WinsockError(TCaptureStep step, int code, int family = AF_INET);

// The interface address a capture is asked for, as the layer reads the typed text: an IPv6
// address in any form inet_pton reads, optionally with a zone, the interface's index as Windows
// writes it ("fe80::1%12"); anything else is read by inet_addr, as the IPv4 capture always
// did, and what no interface holds fails at bind.
struct TTypedAddress {
  int Family = AF_INET;
  sockaddr_in Ipv4{};
  sockaddr_in6 Ipv6{};  // its scope is the zone, 0 without one
  bool Zoned = false;
};
TTypedAddress ReadTypedAddress(const std::string& text);

// The interface that holds the typed address, among those GetAdaptersAddresses listed, and the
// address of each IP version its sockets bind to there: the typed address for its own version
// (an IPv6 one without zone takes the scope listed with it); for the other, the interface's
// first address of that version, an IPv6 link-local one only when it has no other.
struct TInterfaceBinding {
  bool Found = false;
  std::optional<sockaddr_in> Ipv4;
  std::optional<sockaddr_in6> Ipv6;
};
TInterfaceBinding InterfaceBinding(const IP_ADAPTER_ADDRESSES* adapters,
                                   const TTypedAddress& typed);

// What a receive on the raw IPv6 socket leaves free in front of the bytes it receives: room for
// an IPv6 fixed header of the capture's own.
inline constexpr std::size_t kIpv6HeaderBytes = 40;

// The IPv6 datagram that one receive on the raw IPv6 socket gave, for the decoder; empty when
// it gave nothing the decoder could read. `room` holds kIpv6HeaderBytes free, then the
// `received` bytes; `source` and `destination` are the addresses the receive told (the
// message's name and its IPV6_PKTINFO), or null where it told none. A whole datagram is handed
// on as it is; a TCP segment without its IPv6 header gets one in front, in `room`.
std::span<const std::uint8_t> Ipv6Datagram(std::uint8_t* room, std::size_t received,
                                           const in6_addr* source, const in6_addr* destination);

#ifndef SIO_RCVALL
#define SIO_RCVALL _WSAIOW(IOC_VENDOR, 1)
#endif
#ifndef RCVALL_ON
#define RCVALL_ON 1
#endif
#endif
