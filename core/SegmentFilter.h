#pragma once

// Which received datagrams carry a TCP segment of the port range: what the decoder keeps, and
// all that the capture helper hands on.
#include <cstdint>
#include <optional>
#include <span>

#include "core/BoundedReader.h"

// The bytes of an IPv4 datagram (header first, at least 20 bytes) that are its own: up to its
// total length, or all that was received when that length reads 0 (segmentation offload) or
// claims more than arrived (a datagram the capture cut short).
std::span<const std::uint8_t> Ipv4Extent(std::span<const std::uint8_t> received);

// The bytes of an IPv6 datagram (fixed header first) that are its own: up to its payload
// length, or all that was received when that length cannot be true.
std::span<const std::uint8_t> Ipv6Extent(std::span<const std::uint8_t> received);

// Where the TCP header of the IPv6 datagram `in` (its Ipv6Extent) starts, past its extension
// headers in whatever order and number they come; nothing when no TCP header can follow.
std::optional<std::size_t> Ipv6TcpOffset(TBoundedReader& in);

// True when `received` (IP header first; IPv6 when its version reads 6, IPv4 otherwise) is a
// TCP segment, not a later fragment, with a port of start..end at either end and a header the
// decoder can read: exactly the datagrams DecodeDatagram turns into records.
bool IsTcpSegmentInRange(std::span<const std::uint8_t> received, std::uint16_t start,
                         std::uint16_t end);
