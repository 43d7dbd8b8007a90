// The helper's set-up apart from the capture itself: how it reads the address it is given,
// and what its kernel filter lets through, run by libpcap's own filter machine on frames of
// both families.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <cstring>

#include "helper/CaptureAddress.h"
#include "helper/CaptureFilter.h"
#include "testsupport/DatagramFixtures.h"

namespace {

TEST(CaptureAddress, ReadsBothFamilies) {
  const struct {
    const char* Text;
    bool Read;
    int Family;
    const char* Zone;
  } cases[] = {
      {"10.199.0.1", true, AF_INET, ""},
      {"", true, AF_INET, ""},               // as inet_addr reads it: held by no interface
      {"10.0.0.1%eth0", true, AF_INET, ""},  // no ':', so IPv4
      {"fd00::1", true, AF_INET6, ""},
      {"FD00:0:0:0:0:0:0:1", true, AF_INET6, ""},
      {"::ffff:10.0.0.1", true, AF_INET6, ""},
      {"::", true, AF_INET6, ""},
      {"fe80::1%eth0", true, AF_INET6, "eth0"},
      {"fe80::1%2", true, AF_INET6, "2"},
      {"fe80::1%4294967295", true, AF_INET6, "4294967295"},
      {"fe80::1%4294967296", false, 0, ""},
      {"fe80::1%", false, 0, ""},
      {"fe80::1%a/b", false, 0, ""},
      {"fe80::1%a b", false, 0, ""},
      {"fe80::1%a%b", false, 0, ""},
      {"fe80::1%sixteen-letters-", false, 0, ""},
      {"fe80::1%fifteen-letters", true, AF_INET6, "fifteen-letters"},
      {"fd00::zz", false, 0, ""},
      {"fd00:::1", false, 0, ""},
      {"1:2:3:4:5:6:7:8:9", false, 0, ""},
      {":", false, 0, ""},
      {"0000:0000:0000:0000:0000:0000:0000:0000:0000", false, 0, ""},
  };
  for (const auto& c : cases) {
    const auto address = ParseCaptureAddress(c.Text);
    ASSERT_EQ(address.has_value(), c.Read) << c.Text;
    if (!address) continue;
    EXPECT_EQ(address->Family, c.Family) << c.Text;
    EXPECT_EQ(address->Zone, c.Zone) << c.Text;
  }
  EXPECT_EQ(ParseCaptureAddress("10.199.0.1")->Ipv4.s_addr, ::inet_addr("10.199.0.1"));
  EXPECT_EQ(ParseCaptureAddress("nonsense")->Ipv4.s_addr, INADDR_NONE);
  in6_addr expected{};
  ::inet_pton(AF_INET6, "fe80::1", &expected);
  EXPECT_EQ(std::memcmp(&ParseCaptureAddress("fe80::1%9")->Ipv6, &expected, 16), 0);
}

using TBytes = std::vector<std::uint8_t>;

TBytes EthernetFrame(std::uint16_t ether_type, const TBytes& datagram) {
  TBytes frame(12, 0xAA);
  frame.push_back(static_cast<std::uint8_t>(ether_type >> 8));
  frame.push_back(static_cast<std::uint8_t>(ether_type));
  frame.insert(frame.end(), datagram.begin(), datagram.end());
  return frame;
}

TBytes Ipv4(void (*edit)(TDatagramShape&)) {
  TDatagramShape shape;
  edit(shape);
  return BuildDatagram(shape);
}

TBytes Ipv6(void (*edit)(TDatagram6Shape&)) {
  TDatagram6Shape shape;
  edit(shape);
  return BuildDatagram6(shape);
}

// With the range 80..80: segments to or from port 80 pass; for IPv6, so does anything behind
// an extension header the decoder walks, whatever it holds.
TEST(CaptureFilter, PassesWhatTheDecoderMayKeep) {
  const struct {
    const char* Name;
    std::uint16_t EtherType;
    TBytes Datagram;
    bool Passes;
  } cases[] = {
      {"v4_to_80", 0x0800, Ipv4([](TDatagramShape&) {}), true},
      {"v4_from_80", 0x0800, Ipv4([](TDatagramShape& s) { std::swap(s.SourcePort, s.DestPort); }),
       true},
      {"v4_other_ports", 0x0800, Ipv4([](TDatagramShape& s) { s.DestPort = 81; }), false},
      {"v4_udp", 0x0800, Ipv4([](TDatagramShape& s) { s.Protocol = 17; }), false},
      {"v4_later_fragment", 0x0800, Ipv4([](TDatagramShape& s) { s.FragmentField = 0x00B9; }),
       false},
      {"v4_options", 0x0800, Ipv4([](TDatagramShape& s) { s.Ihl = 7; }), true},
      {"v6_to_80", 0x86DD, Ipv6([](TDatagram6Shape&) {}), true},
      {"v6_from_80", 0x86DD, Ipv6([](TDatagram6Shape& s) { std::swap(s.SourcePort, s.DestPort); }),
       true},
      {"v6_other_ports", 0x86DD, Ipv6([](TDatagram6Shape& s) { s.DestPort = 81; }), false},
      {"v6_udp_to_80", 0x86DD, Ipv6([](TDatagram6Shape& s) { s.UpperLayer = kNextUdp; }), false},
      {"v6_esp", 0x86DD, Ipv6([](TDatagram6Shape& s) { s.UpperLayer = kNextEsp; }), false},
      {"v6_no_next_header", 0x86DD, Ipv6([](TDatagram6Shape& s) { s.UpperLayer = kNextNone; }),
       false},
      {"v6_hop_by_hop", 0x86DD, Ipv6([](TDatagram6Shape& s) {
         s.Extensions = {Extension(kNextHopByHop, 8)};
         s.DestPort = 81;
       }),
       true},
      {"v6_routing", 0x86DD,
       Ipv6([](TDatagram6Shape& s) { s.Extensions = {Extension(kNextRouting, 24)}; }), true},
      {"v6_fragment", 0x86DD,
       Ipv6([](TDatagram6Shape& s) { s.Extensions = {FragmentHeader(0, true)}; }), true},
      {"v6_authentication", 0x86DD,
       Ipv6([](TDatagram6Shape& s) { s.Extensions = {Extension(kNextAuthentication, 12)}; }),
       true},
      {"v6_destination_options", 0x86DD,
       Ipv6([](TDatagram6Shape& s) { s.Extensions = {Extension(kNextDestinationOptions, 8)}; }),
       true},
      {"arp", 0x0806, Ipv4([](TDatagramShape&) {}), false},
  };
  pcap_t* dead = ::pcap_open_dead(DLT_EN10MB, 65535);
  ASSERT_NE(dead, nullptr);
  bpf_program program{};
  ASSERT_EQ(::pcap_compile(dead, &program, CaptureFilter(80, 80).c_str(), 1, PCAP_NETMASK_UNKNOWN),
            0)
      << ::pcap_geterr(dead);
  for (const auto& c : cases) {
    const TBytes frame = EthernetFrame(c.EtherType, c.Datagram);
    pcap_pkthdr header{};
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
    EXPECT_EQ(::pcap_offline_filter(&program, &header, frame.data()) != 0, c.Passes) << c.Name;
  }
  ::pcap_freecode(&program);
  ::pcap_close(dead);
}

// A reversed range passes no TCP at all, of either family.
TEST(CaptureFilter, AReversedRangePassesNothing) {
  pcap_t* dead = ::pcap_open_dead(DLT_RAW, 65535);
  bpf_program program{};
  ASSERT_EQ(
      ::pcap_compile(dead, &program, CaptureFilter(100, 50).c_str(), 1, PCAP_NETMASK_UNKNOWN), 0);
  for (const TBytes& datagram : {BuildDatagram({}), BuildDatagram6({})}) {
    pcap_pkthdr header{};
    header.caplen = header.len = static_cast<bpf_u_int32>(datagram.size());
    EXPECT_EQ(::pcap_offline_filter(&program, &header, datagram.data()), 0);
  }
  ::pcap_freecode(&program);
  ::pcap_close(dead);
}

}  // namespace
