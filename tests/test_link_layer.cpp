#include <gtest/gtest.h>

#include "helper/LinkLayer.h"
#include "testsupport/DatagramFixtures.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Join(TBytes header, const TBytes& datagram) {
  header.insert(header.end(), datagram.begin(), datagram.end());
  return header;
}

const TBytes kDatagram = BuildDatagram(TDatagramShape{});
const TBytes kMacs(12, 0xAA);

TBytes Ethernet(std::initializer_list<std::uint8_t> types_and_tags) {
  TBytes header = kMacs;
  header.insert(header.end(), types_and_tags);
  return header;
}

struct TLinkCase {
  const char* Name;
  TLinkType Type;
  TBytes Frame;
  std::optional<std::size_t> Offset;
};

const TBytes kDatagram6 = BuildDatagram6(TDatagram6Shape{});

TEST(LinkLayer, FindsTheIpDatagram) {
  TBytes version5 = kDatagram;
  version5[0] = 0x55;
  const TLinkCase cases[] = {
      {"ethernet", TLinkType::Ethernet, Join(Ethernet({0x08, 0x00}), kDatagram), 14},
      {"ethernet_vlan", TLinkType::Ethernet,
       Join(Ethernet({0x81, 0x00, 0x00, 0x64, 0x08, 0x00}), kDatagram), 18},
      {"ethernet_qinq", TLinkType::Ethernet,
       Join(Ethernet({0x88, 0xA8, 0x00, 0x0A, 0x81, 0x00, 0x00, 0x64, 0x08, 0x00}), kDatagram),
       22},
      {"ethernet_arp", TLinkType::Ethernet, Join(Ethernet({0x08, 0x06}), kDatagram), {}},
      {"ethernet_ipv6", TLinkType::Ethernet, Join(Ethernet({0x86, 0xDD}), kDatagram6), 14},
      {"ethernet_vlan_ipv6", TLinkType::Ethernet,
       Join(Ethernet({0x81, 0x00, 0x00, 0x64, 0x86, 0xDD}), kDatagram6), 18},
      {"ethernet_ipv6_type_ipv4_inside",
       TLinkType::Ethernet,
       Join(Ethernet({0x86, 0xDD}), kDatagram),
       {}},
      {"ethernet_ipv4_type_ipv6_inside",
       TLinkType::Ethernet,
       Join(Ethernet({0x08, 0x00}), kDatagram6),
       {}},
      {"ethernet_truncated_tag", TLinkType::Ethernet, Ethernet({0x81, 0x00, 0x00}), {}},
      {"ethernet_header_only", TLinkType::Ethernet, Ethernet({0x08, 0x00}), {}},
      {"ethernet_ipv6_header_only", TLinkType::Ethernet, Ethernet({0x86, 0xDD}), {}},
      {"ethernet_empty", TLinkType::Ethernet, {}, {}},
      {"cooked", TLinkType::LinuxCooked,
       Join({0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00}, kDatagram), 16},
      {"cooked_ipv6", TLinkType::LinuxCooked,
       Join({0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x86, 0xDD}, kDatagram6), 16},
      {"cooked2", TLinkType::LinuxCooked2,
       Join({0x08, 0x00, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0}, kDatagram), 20},
      {"cooked2_ipv6", TLinkType::LinuxCooked2,
       Join({0x86, 0xDD, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0}, kDatagram6), 20},
      {"raw", TLinkType::RawIp, kDatagram, 0},
      {"raw_ipv6", TLinkType::RawIp, kDatagram6, 0},
      {"raw_version_5", TLinkType::RawIp, version5, {}},
      {"raw_empty", TLinkType::RawIp, {}, {}},
      {"loopback_host_order", TLinkType::BsdLoopback, Join({2, 0, 0, 0}, kDatagram), 4},
      {"loopback_network_order", TLinkType::BsdLoopback, Join({0, 0, 0, 2}, kDatagram), 4},
      {"loopback_inet6_linux", TLinkType::BsdLoopback, Join({10, 0, 0, 0}, kDatagram6), 4},
      {"loopback_inet6_netbsd_openbsd", TLinkType::BsdLoopback, Join({0, 0, 0, 24}, kDatagram6),
       4},
      {"loopback_inet6_freebsd", TLinkType::BsdLoopback, Join({28, 0, 0, 0}, kDatagram6), 4},
      {"loopback_inet6_macos", TLinkType::BsdLoopback, Join({0, 0, 0, 30}, kDatagram6), 4},
      {"loopback_inet_family_ipv6_inside",
       TLinkType::BsdLoopback,
       Join({2, 0, 0, 0}, kDatagram6),
       {}},
      {"loopback_unknown_family", TLinkType::BsdLoopback, Join({11, 0, 0, 0}, kDatagram6), {}},
      {"loopback_both_ends_set", TLinkType::BsdLoopback, Join({2, 0, 0, 2}, kDatagram), {}},
      {"loopback_short", TLinkType::BsdLoopback, {2, 0}, {}},
  };
  for (const TLinkCase& c : cases) {
    EXPECT_EQ(IpDatagramOffset(c.Type, c.Frame), c.Offset) << c.Name;
  }
}

}  // namespace
