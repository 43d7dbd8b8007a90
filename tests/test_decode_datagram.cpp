#include <gtest/gtest.h>

#include <optional>

#include "DatagramFixtures.h"
#include "capture/DateTime.h"
#include "capture/DecodeDatagram.h"

namespace {

struct TExpected {
  std::string SourceIp;
  std::uint16_t SourcePort;
  std::string DestIp;
  std::uint16_t DestPort;
  std::uint8_t Drapeaux;
  std::string Data;
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
      {"payload_cut_at_zero", BuildDatagram(WithPayload(std::string("ab\0cd", 5))), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, "ab"}},
      {"payload_starting_with_zero", BuildDatagram(WithPayload(std::string("\0ab", 3))), 1, 65535,
       TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, ""}},
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
      {"length_ends_inside_tcp_header",
       [] {
         TDatagramShape s = WithPayload("hidden");
         s.TotalLength = 30;
         return BuildDatagram(s);
       }(),
       1, 65535, TExpected{"192.168.0.5", 1025, "10.0.0.1", 80, 6, ""}},
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

class DecodeDatagramTest : public testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeDatagramTest, YieldsTheExpectedRecord) {
  const TDecodeCase& c = GetParam();
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
  EXPECT_GE(trame->Date, before);
  EXPECT_LE(trame->Date, after);
}

INSTANTIATE_TEST_SUITE_P(Datagrams, DecodeDatagramTest, testing::ValuesIn(DecodeCases()),
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

// A record the window released is filled again: nothing of what it held before remains.
TEST(DecodeDatagram, AFilledRecordKeepsNothingOfItsPast) {
  TTrameTCP trame{12345.0,
                  {"255.255.255.255", 1},
                  {"10.10.10.10", 2},
                  TDrapeauxTCP(63),
                  std::string(500, 'x')};
  TDatagramShape shape = WithPayload("", 0x02);
  shape.Source = {1, 2, 3, 4};
  ASSERT_TRUE(DecodeDatagram(BuildDatagram(shape), 1, 65535, 1'796'616'631'250'000, trame));
  EXPECT_EQ(trame.Source, (TIpPort{"1.2.3.4", 1025}));
  EXPECT_EQ(trame.Dest, (TIpPort{"10.0.0.1", 80}));
  EXPECT_EQ(trame.Drapeaux, TDrapeauxTCP(16));
  EXPECT_EQ(trame.Data, "");
  EXPECT_NE(trame.Date, 12345.0);
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
