// The IPv6 text a record holds: RFC 5952's form, checked on a table of the rules' edges and
// against the C library's own conversion on many addresses rich in zero groups.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <random>

#include "core/AddressText.h"

namespace {

using TAddress = std::array<std::uint8_t, 16>;

TAddress Parse(const char* text) {
  TAddress address{};
  EXPECT_EQ(::inet_pton(AF_INET6, text, address.data()), 1) << text;
  return address;
}

std::string Text(const TAddress& address) {
  TIpText text;
  AssignIpv6Text(text, address.data());
  return std::string(text.View());
}

TEST(AddressText, Rfc5952Form) {
  const struct {
    const char* Written;
    const char* Shown;
  } cases[] = {
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"1:2:3:4:5:6:7:0", "1:2:3:4:5:6:7:0"},
      {"0:1:2:3:4:5:6:7", "0:1:2:3:4:5:6:7"},
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},        // the longest run
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first of two equal runs
      {"0:0:1:0:0:1:0:0", "::1:0:0:1:0:0"},
      {"2001:DB8:ABCD:EF::F00", "2001:db8:abcd:ef::f00"},  // lower case
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
      {"::ffff:c000:280", "::ffff:192.0.2.128"},
      {"::ffff:0:0", "::ffff:0.0.0.0"},
      {"::ffff:255.255.255.255", "::ffff:255.255.255.255"},
      {"::1.2.3.4", "::102:304"},  // IPv4-compatible addresses are long gone: plain groups
      {"ffff::ffff:1.2.3.4", "ffff::ffff:102:304"},
      {"fe80::a00:27ff:fe4e:66a1", "fe80::a00:27ff:fe4e:66a1"},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"1000:100:10:1:abc:def0:9:0", "1000:100:10:1:abc:def0:9:0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(Parse(c.Written)), c.Shown) << c.Written;
  }
}

// glibc writes RFC 5952's form too, but for addresses whose first six groups are zero, which
// it shows with a dotted IPv4 tail: those are the table's.
TEST(AddressText, AgreesWithTheCLibrary) {
  std::mt19937 random(5952);
  const std::uint16_t groups[] = {0, 0, 0, 1, 0xffff, 0xabc, 0x10, 0xfe80};
  for (int round = 0; round < 200'000; ++round) {
    TAddress address{};
    for (int i = 0; i < 8; ++i) {
      const std::uint16_t group = groups[random() % std::size(groups)];
      address[2 * i] = static_cast<std::uint8_t>(group >> 8);
      address[2 * i + 1] = static_cast<std::uint8_t>(group);
    }
    if (std::all_of(address.begin(), address.begin() + 12, [](auto b) { return b == 0; }))
      continue;
    char expected[INET6_ADDRSTRLEN];
    ASSERT_NE(::inet_ntop(AF_INET6, address.data(), expected, sizeof expected), nullptr);
    ASSERT_EQ(Text(address), expected);
  }
}

}  // namespace
