#include "core/SegmentFilter.h"

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kMinTcpHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

// IPv6 next-header values the walk goes past.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kDestinationOptions = 60;

bool InRange(std::uint16_t port, std::uint16_t start, std::uint16_t end) {
  return start <= port && port <= end;
}

bool TcpHeaderInRange(TBoundedReader& in, std::size_t t, std::uint16_t start, std::uint16_t end) {
  if (!in.Holds(t, kMinTcpHeader) || (in.U8(t + 12) >> 4) < 5) return false;
  return InRange(in.BeU16(t), start, end) || InRange(in.BeU16(t + 2), start, end);
}

}  // namespace

std::span<const std::uint8_t> Ipv4Extent(std::span<const std::uint8_t> received) {
  TBoundedReader header(received);
  const std::size_t total_length = header.BeU16(2);
  return total_length == 0 || total_length > received.size() ? received
                                                             : received.first(total_length);
}

std::span<const std::uint8_t> Ipv6Extent(std::span<const std::uint8_t> received) {
  TBoundedReader fixed(received);
  if (!fixed.Holds(0, kIpv6Header)) return received;
  // A payload length of 0 cannot be true of a datagram that carries a TCP segment or a header
  // leading to one (only "no next header" may be empty, and it is dropped anyway): the receive
  // offload hands over merged segments beyond 64 KiB (BIG TCP) that way, without a jumbo
  // option, their length being the socket buffer's alone. As for IPv4, what was received is
  // then all there is to go by, and every read stays within it; a jumbogram, whose payload
  // length also reads 0, is read the same way. Otherwise a datagram cut by the capture ends
  // where the capture ends, and bytes after the payload (padding) are not part of it.
  const std::size_t payload_length = fixed.BeU16(4);
  const std::size_t declared = kIpv6Header + payload_length;
  return payload_length == 0 || declared > received.size() ? received : received.first(declared);
}

// Every read, the walk's included, stays within `in`: a header that claims more than the
// datagram holds ends the walk.
std::optional<std::size_t> Ipv6TcpOffset(TBoundedReader& in) {
  if (!in.Holds(0, kIpv6Header)) return std::nullopt;
  std::uint8_t next = in.U8(6);
  std::size_t at = kIpv6Header;
  for (;;) {
    switch (next) {
      case kProtocolTcp:
        return at;
      case kHopByHop:
      case kRouting:
      case kDestinationOptions:
        // Each of these is at least eight bytes, its length counting eight-byte units beyond
        // the first.
        if (!in.Holds(at, 8)) return std::nullopt;
        next = in.U8(at);
        at += (std::size_t{in.U8(at + 1)} + 1) * 8;
        break;
      case kFragment:
        if (!in.Holds(at, 8)) return std::nullopt;
        // A later fragment starts with payload, not with a header; a first fragment is read
        // for what it holds.
        if ((in.BeU16(at + 2) & 0xFFF8u) != 0) return std::nullopt;
        next = in.U8(at);
        at += 8;
        break;
      case kAuthentication:
        // Its length counts four-byte units, beyond the first two.
        if (!in.Holds(at, 8)) return std::nullopt;
        next = in.U8(at);
        at += (std::size_t{in.U8(at + 1)} + 2) * 4;
        break;
      default:
        // Encrypted (ESP), no next header, or anything this program does not know: nothing
        // here can be read as TCP.
        return std::nullopt;
    }
  }
}

bool IsTcpSegmentInRange(std::span<const std::uint8_t> received, std::uint16_t start,
                         std::uint16_t end) {
  TBoundedReader ip(received);
  if (!ip.Holds(0, kMinIpHeader)) return false;
  if ((ip.U8(0) >> 4) == 6) {
    TBoundedReader in(Ipv6Extent(received));
    const std::optional<std::size_t> at = Ipv6TcpOffset(in);
    return at && TcpHeaderInRange(in, *at, start, end);
  }
  const std::size_t ihl = ip.U8(0) & 0x0Fu;
  // A later fragment starts with payload, not with a TCP header.
  if (ip.U8(9) != kProtocolTcp || ihl < 5 || (ip.BeU16(6) & 0x1FFFu) != 0) return false;
  TBoundedReader in(Ipv4Extent(received));
  return TcpHeaderInRange(in, ihl * 4, start, end);
}
