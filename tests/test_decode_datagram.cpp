#include <gtest/gtest.h>

#include <optional>

#include "core/DateTime.h"
#include "core/DecodeDatagram.h"
#include "core/SegmentFilter.h"
#include "testsupport/DatagramFixtures.h"

namespace {

struct TExpected {
  std::string SourceIp;
  std::uint16_t SourcePort;
  std::string DestIp;
  std::uint16_t DestPort;
  std::uint8_t Drapeaux;
  std::string Data;
  int AfterZero = -1;  // bytes of payload after the zero byte that cut Data; -1: none
};

struct TDecodeCase {
  const char* Name;
  std::vector<std::uint8_t> Received;
  std::uint16_t PortStart;
  std::uint16_t PortEnd;
  std::optional<TExpected> Expected;
};

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

std::vector<std::uint8_t> Shaped(void (*edit)(TDatagramShape&)) {
  TDatagramShape shape;
  edit(shape);
  return BuildDatagram(shape);
}

std::vector<std::uint8_t> PaddedWith(TDatagramShape shape, std::size_t count, char filler) {
  std::vector<std::uint8_t> bytes = BuildDatagram(shape);
  bytes.insert(bytes.end(), count, static_cast<std::uint8_t>(filler));
  return bytes;
}

// A datagram carrying "hidden" whose total length reads `length`.
std::vector<std::uint8_t> WithTotalLength(int length) {
  TDatagramShape shape = WithPayload("hidden");
  shape.TotalLength = length;
  return BuildDatagram(shape);
}

const TDatagramShape syn_datagram{};
const TDatagramShape ip_options_datagram = [] {
  TDatagramShape s = WithPayload("GET /");
  s.Ihl = 6;
  return s;
}();
const TDatagramShape tcp_options_datagram = [] {
  TDatagramShape s = WithPayload("hello");
  s.DataOffset = 8;
  return s;
}();

std::vector<TDecodeCase> DecodeCases() {
  const std::vector<std::uint8_t> syn = BuildDatagram(syn_datagram);
  return {
      {"syn_datagram", syn, 1, 65535, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 16, ""}},
      {"udp_datagram", Shaped([](TDatagramShape& s) { s.Protocol = 17; }), 1, 65535, {}},
      {"icmp_datagram", Shaped([](TDatagramShape& s) { s.Protocol = 1; }), 1, 65535, {}},
      {"port_zero_to_zero",
       Shaped([](TDatagramShape& s) { s.SourcePort = s.DestPort = 0; }),
       1,
       65535,
       {}},
      {"port_zero_to_80", Shaped([](TDatagramShape& s) { s.SourcePort = 0; }), 1, 65535,
       TExpected{"192.168.0.5", 0, "10.0.0.1", 80, 16, ""}},
      {"start_above_end", syn, 100, 50, {}},
      {"range_matches_dest", syn, 80, 80, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 16, ""}},
      {"range_matches_source", Shaped([](TDatagramShape& s) {
         s.Source = {10, 0, 0, 1};
         s.Dest = {192, 168, 0, 5};
         s.SourcePort = 80;
         s.DestPort = 1025;
         s.Flags = 0x12;
       }),
       80, 80, TExpected{"10.0.0.1", 80, "192.168.0.5", 1025, 2 | 16, ""}},
      {"range_matches_neither", syn, 443, 443, {}},
      {"high_ports_unsigned", Shaped([](TDatagramShape& s) { s.SourcePort = 65535; }), 65000,
       65535, TExpected{"192.168.0.5", 65535, "10.0.0.1", 80, 16, ""}},
      {"all_flags", Shaped([](TDatagramShape& s) { s.Flags = 0x3F; }), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 63, ""}},
      {"reserved_flags_only", Shaped([](TDatagramShape& s) { s.Flags = 0xC0; }), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 0, ""}},
      {"fin_and_urg", Shaped([](TDatagramShape& s) { s.Flags = 0x21; }), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 1 | 32, ""}},
      {"extreme_addresses", Shaped([](TDatagramShape& s) {
         s.Source = {0, 0, 0, 0};
         s.Dest = {255, 255, 255, 255};
       }),
       1, 65535, TExpected{"0.0.0.0", 1025, "255.255.255.255", 80, 16, ""}},
      {"ip_options_datagram", BuildDatagram(ip_options_datagram), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 2 | 4, "GET /"}},
      {"tcp_options_datagram", BuildDatagram(tcp_options_datagram), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 2 | 4, "hello"}},
      {"payload_with_crlf", BuildDatagram(WithPayload("abc\r\n")), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "abc\r\n"}},
      {"payload_cut_at_zero", BuildDatagram(WithPayload(std::string("ab\0cd\0e", 7))), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "ab", 4}},
      {"payload_starting_with_zero", BuildDatagram(WithPayload(std::string("\0ab", 3))), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "", 2}},
      {"payload_ending_in_zero", BuildDatagram(WithPayload(std::string("abc\0", 4))), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "abc", 0}},
      // Bytes after the datagram's total length do not follow the zero byte.
      {"zero_before_padding", PaddedWith(WithPayload(std::string("x\0y", 3)), 6, 'P'), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "x", 1}},
      {"payload_high_bytes", BuildDatagram(WithPayload("\xE9t\xE9\x80\xFF")), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "\xE9t\xE9\x80\xFF"}},
      {"padded_ethernet_frame", PaddedWith(WithPayload("ok"), 4, 'P'), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "ok"}},
      {"segmentation_offload_zero_length",
       [] {
         TDatagramShape s = WithPayload("whole burst");
         s.TotalLength = 0;
         return BuildDatagram(s);
       }(),
       1, 65535, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "whole burst"}},
      {"length_beyond_received", Truncated(BuildDatagram(WithPayload("abcdef")), 43), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "abc"}},
      // Its ports and flags would be read from bytes after the datagram.
      {"length_ends_inside_tcp_header", WithTotalLength(30), 1, 65535, std::nullopt},
      {"length_ends_inside_ip_header", WithTotalLength(12), 1, 65535, std::nullopt},
      {"length_ends_with_tcp_header", WithTotalLength(40), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, ""}},
      {"payload_offset_beyond_received",
       Truncated(BuildDatagram([] {
                   TDatagramShape s;
                   s.DataOffset = 15;
                   return s;
                 }()),
                 50),
       1, 65535, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 16, ""}},
      {"empty_receive", {}, 1, 65535, {}},
      {"short_ip_header", Truncated(syn, 19), 1, 65535, {}},
      {"ihl_below_five", Shaped([](TDatagramShape& s) { s.Ihl = 4; }), 1, 65535, {}},
      {"ihl_zero", Shaped([](TDatagramShape& s) { s.Ihl = 0; }), 1, 65535, {}},
      {"later_fragment",
       Shaped([](TDatagramShape& s) { s.FragmentField = 0x00B9; }),
       1,
       65535,
       {}},
      {"first_fragment_more_to_come", Shaped([](TDatagramShape& s) { s.FragmentField = 0x2000; }),
       1, 65535, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 16, ""}},
      {"truncated_tcp_header", Truncated(syn, 39), 1, 65535, {}},
      {"options_past_received",
       Truncated(BuildDatagram([] {
                   TDatagramShape s;
                   s.Ihl = 15;
                   return s;
                 }()),
                 70),
       1,
       65535,
       {}},
      {"data_offset_below_five",
       Shaped([](TDatagramShape& s) { s.DataOffset = 4; }),
       1,
       65535,
       {}},
  };
}

std::vector<std::uint8_t> Shaped6(void (*edit)(TDatagram6Shape&)) {
  TDatagram6Shape shape;
  edit(shape);
  return BuildDatagram6(shape);
}

std::vector<std::uint8_t> WithExtensions(std::vector<TExtensionHeader> extensions,
                                         std::uint8_t upper_layer = kNextTcp) {
  TDatagram6Shape shape = With6Payload("ext");
  shape.Extensions = std::move(extensions);
  shape.UpperLayer = upper_layer;
  return BuildDatagram6(shape);
}

// Every kind of extension header the walk passes, in an order no sender would use.
const std::vector<TExtensionHeader> kChain = {
    Extension(kNextHopByHop, 8),        Extension(kNextDestinationOptions, 16),
    Extension(kNextRouting, 24),        FragmentHeader(0, true),
    Extension(kNextAuthentication, 24), Extension(kNextDestinationOptions, 8),
    Extension(kNextHopByHop, 16)};
constexpr std::size_t kChainSize = 8 + 16 + 24 + 8 + 24 + 8 + 16;

const TExpected kSyn6{"fd00::2", 1025, "fd00::1", 80, 16, ""};
const TExpected kExt6{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "ext"};

std::vector<TDecodeCase> Decode6Cases() {
  const std::vector<std::uint8_t> syn = BuildDatagram6(TDatagram6Shape{});
  return {
      {"v6_syn", syn, 1, 65535, kSyn6},
      {"v6_payload_and_tcp_options", Shaped6([](TDatagram6Shape& s) {
         s = With6Payload("GET /");
         s.DataOffset = 8;
       }),
       1, 65535, TExpected{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "GET /"}},
      {"v6_hop_by_hop", WithExtensions({Extension(kNextHopByHop, 8)}), 1, 65535, kExt6},
      {"v6_routing", WithExtensions({Extension(kNextRouting, 24)}), 1, 65535, kExt6},
      {"v6_destination_options", WithExtensions({Extension(kNextDestinationOptions, 16)}), 1,
       65535, kExt6},
      {"v6_authentication", WithExtensions({Extension(kNextAuthentication, 12)}), 1, 65535, kExt6},
      {"v6_first_fragment", WithExtensions({FragmentHeader(0, true)}), 1, 65535, kExt6},
      {"v6_later_fragment", WithExtensions({FragmentHeader(185, false)}), 1, 65535, {}},
      {"v6_later_fragment_more_to_come", WithExtensions({FragmentHeader(1, true)}), 1, 65535, {}},
      {"v6_chain_of_every_kind", WithExtensions(kChain), 1, 65535, kExt6},
      {"v6_later_fragment_deep_in_chain",
       WithExtensions(
           {Extension(kNextHopByHop, 8), Extension(kNextRouting, 24), FragmentHeader(3, true)}),
       1,
       65535,
       {}},
      {"v6_udp", Shaped6([](TDatagram6Shape& s) { s.UpperLayer = kNextUdp; }), 1, 65535, {}},
      {"v6_udp_behind_hop_by_hop",
       WithExtensions({Extension(kNextHopByHop, 8)}, kNextUdp),
       1,
       65535,
       {}},
      {"v6_out_of_range_behind_hop_by_hop",
       WithExtensions({Extension(kNextHopByHop, 8)}),
       1,
       79,
       {}},
      {"v6_esp", WithExtensions({}, kNextEsp), 1, 65535, {}},
      {"v6_esp_after_options",
       WithExtensions({Extension(kNextHopByHop, 8)}, kNextEsp),
       1,
       65535,
       {}},
      {"v6_no_next_header",
       WithExtensions({Extension(kNextDestinationOptions, 8)}, kNextNone),
       1,
       65535,
       {}},
      {"v6_unknown_next_header", WithExtensions({Extension(kNextHopByHop, 8)}, 253), 1, 65535, {}},
      {"v6_header_length_past_end",
       WithExtensions({Extension(kNextHopByHop, 8, 255)}),
       1,
       65535,
       {}},
      {"v6_authentication_length_past_end",
       WithExtensions({Extension(kNextAuthentication, 12, 200)}),
       1,
       65535,
       {}},
      {"v6_extension_past_payload_length",
       Shaped6([](TDatagram6Shape& s) {
         s.Extensions = {Extension(kNextDestinationOptions, 16)};
         s.PayloadLength = 8;
       }),
       1,
       65535,
       {}},
      {"v6_payload_length_inside_tcp_header",
       Shaped6([](TDatagram6Shape& s) { s.PayloadLength = 19; }),
       1,
       65535,
       {}},
      // The options header is whole, the TCP header lies wholly after the payload length.
      {"v6_payload_length_ends_before_tcp_header", Shaped6([](TDatagram6Shape& s) {
         s.Extensions = {Extension(kNextHopByHop, 8)};
         s.PayloadLength = 8;
       }),
       1, 65535, std::nullopt},
      {"v6_payload_length_ends_payload", Shaped6([](TDatagram6Shape& s) {
         s = With6Payload("abcdef");
         s.PayloadLength = 23;
       }),
       1, 65535, TExpected{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "abc"}},
      {"v6_padding_after_payload", Shaped6([](TDatagram6Shape& s) {
         s = With6Payload("ok");
         s.Padding = 6;
       }),
       1, 65535, TExpected{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "ok"}},
      {"v6_payload_length_beyond_received", Truncated(BuildDatagram6(With6Payload("abcdef")), 63),
       1, 65535, TExpected{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "abc"}},
      {"v6_offload_zero_payload_length", Shaped6([](TDatagram6Shape& s) {
         s = With6Payload("whole burst");
         s.Extensions = {Extension(kNextHopByHop, 8)};
         s.PayloadLength = 0;
       }),
       1, 65535, TExpected{"fd00::2", 1025, "fd00::1", 80, 2 | 4, "whole burst"}},
      {"v6_ipv4_mapped", Shaped6([](TDatagram6Shape& s) {
         s.Source = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1};
         s.Dest = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
       }),
       1, 65535, TExpected{"::ffff:192.0.2.1", 1025, "2001:db8::1:0:0:1", 80, 16, ""}},
      {"v6_longest_addresses", Shaped6([](TDatagram6Shape& s) {
         s.Source.fill(0xff);
         s.Dest.fill(0);
       }),
       1, 65535, TExpected{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 1025, "::", 80, 16, ""}},
      {"v6_range_matches_source", Shaped6([](TDatagram6Shape& s) {
         std::swap(s.Source, s.Dest);
         s.SourcePort = 80;
         s.DestPort = 1025;
         s.Flags = 0x12;
       }),
       80, 80, TExpected{"fd00::1", 80, "fd00::2", 1025, 2 | 16, ""}},
      {"v6_range_matches_neither", syn, 443, 443, {}},
      {"v6_start_above_end", syn, 100, 50, {}},
      {"v6_all_flags", Shaped6([](TDatagram6Shape& s) { s.Flags = 0x3F; }), 1, 65535,
       TExpected{"fd00::2", 1025, "fd00::1", 80, 63, ""}},
      {"v6_data_offset_below_five",
       Shaped6([](TDatagram6Shape& s) { s.DataOffset = 4; }),
       1,
       65535,
       {}},
      {"v6_short_fixed_header", Truncated(syn, 39), 1, 65535, {}},
      {"v6_truncated_tcp_header", Truncated(syn, 59), 1, 65535, {}},
  };
}

class DecodeDatagramTest : public testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeDatagramTest, YieldsTheExpectedRecord) {
  const TDecodeCase& c = GetParam();
  // What the capture helper hands on is what the decoder keeps.
  EXPECT_EQ(IsTcpSegmentInRange(c.Received, c.PortStart, c.PortEnd), c.Expected.has_value());
  const double before = LocalNow();
  const auto trame = DecodeDatagram(c.Received, c.PortStart, c.PortEnd);
  const double after = LocalNow();
  if (!c.Expected) {
    EXPECT_EQ(trame, nullptr);
    return;
  }
  ASSERT_NE(trame, nullptr);
  const TExpected& e = *c.Expected;
  EXPECT_EQ(trame->Source, (TIpPort{e.SourceIp, e.SourcePort}));
  EXPECT_EQ(trame->Dest, (TIpPort{e.DestIp, e.DestPort}));
  EXPECT_EQ(trame->Drapeaux.Byte(), e.Drapeaux);
  EXPECT_EQ(trame->Data, e.Data);
  EXPECT_EQ(trame->ZeroCut, e.AfterZero < 0 ? TZeroCut() : TZeroCut::At(e.AfterZero));
  EXPECT_GE(trame->Date, before);
  EXPECT_LE(trame->Date, after);
}

INSTANTIATE_TEST_SUITE_P(Datagrams, DecodeDatagramTest, testing::ValuesIn(DecodeCases()),
                         [](const auto& info) { return std::string(info.param.Name); });
INSTANTIATE_TEST_SUITE_P(Ipv6Datagrams, DecodeDatagramTest, testing::ValuesIn(Decode6Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DecodeDatagram, ReadsOnlyTheReceivedBytes) {
  // Each prefix of a datagram, copied to a buffer of exactly its size, so that the sanitizer
  // sees any read past the end.
  const std::vector<std::uint8_t> whole = BuildDatagram(ip_options_datagram);
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + static_cast<long>(size));
    const auto trame = DecodeDatagram(prefix, 1, 65535);
    EXPECT_EQ(trame != nullptr, size >= 44) << "prefix of " << size << " bytes";
    if (trame) {
      EXPECT_EQ(trame->Data, std::string("GET /").substr(0, size - 44));
    }
  }
}

// The same for IPv6 through every kind of extension header: a prefix cut in any header is
// dropped, one cut in the payload keeps what it holds.
TEST(DecodeDatagram, ReadsOnlyTheReceivedBytesOfAnIpv6Chain) {
  const std::vector<std::uint8_t> whole = WithExtensions(kChain);
  const std::size_t payload_at = 40 + kChainSize + 20;
  ASSERT_EQ(whole.size(), payload_at + 3);
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + static_cast<long>(size));
    const auto trame = DecodeDatagram(prefix, 1, 65535);
    EXPECT_EQ(trame != nullptr, size >= payload_at) << "prefix of " << size << " bytes";
    if (trame) {
      EXPECT_EQ(trame->Data, std::string("ext").substr(0, size - payload_at));
    }
  }
}

// A record the window released is filled again: nothing of what it held before remains.
TEST(DecodeDatagram, AFilledRecordKeepsNothingOfItsPast) {
  TTrameTCP trame;
  trame.Date = 12345.0;
  trame.Source = {"255.255.255.255", 1};
  trame.Dest = {"10.10.10.10", 2};
  trame.Drapeaux = TDrapeauxTCP(63);
  trame.Data = std::string(500, 'x');
  trame.ZeroCut = TZeroCut::At(9);
  TDatagramShape shape = WithPayload("", 0x02);
  shape.Source = {1, 2, 3, 4};
  ASSERT_EQ(DecodeDatagram(BuildDatagram(shape), 1, 65535, 1'796'616'631'250'000, trame),
            TDecodeResult::Filled);
  EXPECT_EQ(trame.Source, (TIpPort{"1.2.3.4", 1025}));
  EXPECT_EQ(trame.Dest, (TIpPort{"10.0.0.1", 80}));
  EXPECT_EQ(trame.Drapeaux, TDrapeauxTCP(16));
  EXPECT_EQ(trame.Data, "");
  EXPECT_FALSE(trame.ZeroCut.Met());
  EXPECT_NE(trame.Date, 12345.0);
  // From the longest IPv6 text to a short IPv4 one, and back to a short IPv6 one.
  TDatagram6Shape longest;
  longest.Source.fill(0xab);
  ASSERT_EQ(DecodeDatagram(BuildDatagram6(longest), 1, 65535, 0, trame), TDecodeResult::Filled);
  EXPECT_EQ(trame.Source.Ip, "abab:abab:abab:abab:abab:abab:abab:abab");
  ASSERT_EQ(DecodeDatagram(BuildDatagram(shape), 1, 65535, 0, trame), TDecodeResult::Filled);
  EXPECT_EQ(trame.Source, (TIpPort{"1.2.3.4", 1025}));
  ASSERT_EQ(DecodeDatagram(BuildDatagram6(TDatagram6Shape{}), 1, 65535, 0, trame),
            TDecodeResult::Filled);
  EXPECT_EQ(trame.Source, (TIpPort{"fd00::2", 1025}));
}

std::string DottedDecimal(const std::array<std::uint8_t, 4>& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

// Every byte value, at every place of an address, reads in decimal without leading zeros.
TEST(DecodeDatagram, AddressesReadAsDottedDecimal) {
  for (unsigned place = 0; place < 4; ++place) {
    for (unsigned value = 0; value < 256; ++value) {
      TDatagramShape shape;
      shape.Source = {255, 255, 255, 255};
      shape.Source[place] = static_cast<std::uint8_t>(value);
      shape.Dest = {0, 0, 0, 0};
      shape.Dest[place] = static_cast<std::uint8_t>(value);
      const auto trame = DecodeDatagram(BuildDatagram(shape), 1, 65535);
      ASSERT_NE(trame, nullptr);
      EXPECT_EQ(trame->Source.Ip, DottedDecimal(shape.Source));
      EXPECT_EQ(trame->Dest.Ip, DottedDecimal(shape.Dest));
    }
  }
}

}  // namespace
