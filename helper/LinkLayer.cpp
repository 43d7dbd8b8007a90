#include "helper/LinkLayer.h"

#include "core/BoundedReader.h"

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;

// What the link layer says the frame carries: the IP version its datagram must show, or 0
// when it leaves that to the datagram (raw IP).
using TVersion = unsigned;

bool IsVlanTag(std::uint16_t ether_type) {
  return ether_type == 0x8100 || ether_type == 0x88A8 || ether_type == 0x9100;
}

TVersion VersionOf(std::uint16_t ether_type) {
  return ether_type == kEtherTypeIpv4 ? 4 : ether_type == kEtherTypeIpv6 ? 6 : 0;
}

// `type_at` holds the EtherType that ends a header of `header_end` bytes; VLAN tags may follow.
std::optional<std::size_t> AfterEtherType(TBoundedReader& in, std::size_t type_at,
                                          std::size_t header_end, TVersion& version) {
  std::uint16_t ether_type = in.BeU16(type_at);
  while (!in.Overrun() && IsVlanTag(ether_type)) {
    ether_type = in.BeU16(header_end + 2);
    header_end += 4;
  }
  version = VersionOf(ether_type);
  if (in.Overrun() || version == 0) return std::nullopt;
  return header_end;
}

// The address family of a BSD loopback header: AF_INET is 2 everywhere; AF_INET6 is 10 on
// Linux, 24 on NetBSD and OpenBSD, 28 on FreeBSD and 30 on macOS.
TVersion FamilyVersion(std::uint32_t family) {
  switch (family) {
    case 2:
      return 4;
    case 10:
    case 24:
    case 28:
    case 30:
      return 6;
    default:
      return 0;
  }
}

}  // namespace

std::optional<std::size_t> IpDatagramOffset(TLinkType type, std::span<const std::uint8_t> frame) {
  TBoundedReader in(frame);
  std::optional<std::size_t> offset;
  TVersion version = 0;
  switch (type) {
    case TLinkType::Ethernet:
      offset = AfterEtherType(in, 12, 14, version);
      break;
    case TLinkType::LinuxCooked:
      offset = AfterEtherType(in, 14, 16, version);
      break;
    case TLinkType::LinuxCooked2:
      offset = AfterEtherType(in, 0, 20, version);
      break;
    case TLinkType::RawIp:
      offset = 0;
      break;
    case TLinkType::BsdLoopback: {
      // The family is in the host's order (DLT_NULL) or the network's (DLT_LOOP): a small
      // number is in the first byte or in the last, the other three being zero.
      const std::uint8_t b0 = in.U8(0), b1 = in.U8(1), b2 = in.U8(2), b3 = in.U8(3);
      if (!in.Overrun() && b1 == 0 && b2 == 0 && (b0 == 0) != (b3 == 0))
        version = FamilyVersion(b0 | b3);
      if (version != 0) offset = 4;
      break;
    }
  }
  if (!offset || !in.Holds(*offset, 1)) return std::nullopt;
  const TVersion found = in.U8(*offset) >> 4;
  if (found != 4 && found != 6) return std::nullopt;
  if (version != 0 && found != version) return std::nullopt;
  return offset;
}
