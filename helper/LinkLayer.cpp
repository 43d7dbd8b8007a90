#include "helper/LinkLayer.h"

#include "capture/BoundedReader.h"

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;

bool IsVlanTag(std::uint16_t ether_type) {
  return ether_type == 0x8100 || ether_type == 0x88A8 || ether_type == 0x9100;
}

// `type_at` holds the EtherType that ends a header of `header_end` bytes; VLAN tags may follow.
std::optional<std::size_t> AfterEtherType(TBoundedReader& in, std::size_t type_at,
                                          std::size_t header_end) {
  std::uint16_t ether_type = in.BeU16(type_at);
  while (!in.Overrun() && IsVlanTag(ether_type)) {
    ether_type = in.BeU16(header_end + 2);
    header_end += 4;
  }
  if (in.Overrun() || ether_type != kEtherTypeIpv4) return std::nullopt;
  return header_end;
}

}  // namespace

std::optional<std::size_t> IpDatagramOffset(TLinkType type, std::span<const std::uint8_t> frame) {
  TBoundedReader in(frame);
  std::optional<std::size_t> offset;
  switch (type) {
    case TLinkType::Ethernet:
      offset = AfterEtherType(in, 12, 14);
      break;
    case TLinkType::LinuxCooked:
      offset = AfterEtherType(in, 14, 16);
      break;
    case TLinkType::LinuxCooked2:
      offset = AfterEtherType(in, 0, 20);
      break;
    case TLinkType::RawIp:
      offset = 0;
      break;
    case TLinkType::BsdLoopback: {
      // AF_INET is 2 everywhere; the family is in the host's order (DLT_NULL) or the
      // network's (DLT_LOOP), so accept it either way round.
      const std::uint8_t b0 = in.U8(0), b1 = in.U8(1), b2 = in.U8(2), b3 = in.U8(3);
      const bool inet =
          (b0 == 2 && b1 == 0 && b2 == 0 && b3 == 0) || (b0 == 0 && b1 == 0 && b2 == 0 && b3 == 2);
      if (!in.Overrun() && inet) offset = 4;
      break;
    }
  }
  if (!offset || !in.Holds(*offset, 1) || (in.U8(*offset) >> 4) != 4) return std::nullopt;
  return offset;
}
