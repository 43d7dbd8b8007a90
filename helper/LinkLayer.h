#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The link-layer framings a Linux capture device may report.
enum class TLinkType {
  Ethernet,      // with any number of 802.1Q / 802.1ad tags
  LinuxCooked,   // 16-byte SLL header
  LinuxCooked2,  // 20-byte SLL2 header
  RawIp,         // the IP header comes first
  BsdLoopback,   // 4-byte address family, host or network order
};

// Where the IP datagram (IPv4 or IPv6) starts in `frame`, or nothing when the frame carries
// neither, or a datagram whose version is not the one the link layer announces.
std::optional<std::size_t> IpDatagramOffset(TLinkType type, std::span<const std::uint8_t> frame);
