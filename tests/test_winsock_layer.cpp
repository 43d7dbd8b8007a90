// The Winsock capture layer on Windows (or under wine).
#include "capture/windows/WinsockCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/HostAddresses.h"
#include "capture/UnitThreadSniffer.h"
#include "core/DecodeDatagram.h"
#include "testsupport/DatagramFixtures.h"

namespace {

using namespace std::chrono_literals;

// An address no interface holds, of either version, fails at bind, quoted as typed.
TEST(WinsockLayer, BindToAnAddressNoInterfaceHolds) {
  for (const char* address : {"10.9.9.9", "fd00::5"}) {
    auto pile = std::make_shared<TPileTrameTCP>();
    auto control = TThreadSniffer::Create(pile, address, 1, 65535);
    ASSERT_TRUE(control->WaitEnded(10s));
    const std::string failure = control->Failure();
    if (failure.find("failed at open") != std::string::npos) {
      // Raw sockets are for administrators, and wine offers none of protocol 0.
      GTEST_SKIP() << "no raw socket here: " << failure;
    }
    EXPECT_EQ(failure, "Capture on '" + std::string(address) +
                           "' failed at bind: no interface holds this address (error 10049)");
  }
}

std::string Text(const in6_addr& address) {
  char text[INET6_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET6, &address, text, sizeof text);
  return text;
}

std::string Text(const std::optional<sockaddr_in6>& address) {
  if (!address) return "-";
  return Text(address->sin6_addr) + "%" + std::to_string(address->sin6_scope_id);
}

std::string Text(const std::optional<sockaddr_in>& address) {
  if (!address) return "-";
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  return text;
}

// The typed text: IPv6 in any form inet_pton reads, with an interface index for zone; anything
// else as inet_addr reads it, a text it cannot read giving an address no interface holds.
TEST(WinsockLayer, TheTypedAddress) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  struct TCase {
    const char* Typed;
    const char* Read;  // "v4 A" or "v6 A%ZONE", with "z" after a typed zone
  };
  const TCase cases[] = {
      {"192.168.0.5", "v4 192.168.0.5"},  {"10.1", "v4 10.0.0.1"},
      {"nonsense", "v4 255.255.255.255"}, {"::1", "v6 ::1%0"},
      {"FD00:0:0::0005", "v6 fd00::5%0"}, {"::ffff:10.0.0.1", "v6 ::ffff:10.0.0.1%0"},
      {"fe80::1%12", "v6 fe80::1%12 z"},  {"fe80::1%eth0", "v4 255.255.255.255"},
      {"fe80::1%", "v4 255.255.255.255"}, {"fe80::1%99999999999", "v4 255.255.255.255"},
  };
  for (const TCase& c : cases) {
    const TTypedAddress typed = ReadTypedAddress(c.Typed);
    std::string read;
    if (typed.Family == AF_INET6)
      read = "v6 " + Text(std::optional(typed.Ipv6)) + (typed.Zoned ? " z" : "");
    else
      read = "v4 " + Text(std::optional(typed.Ipv4));
    EXPECT_EQ(read, c.Read) << c.Typed;
  }
  ::WSACleanup();
}

// A list of interfaces as GetAdaptersAddresses gives it, made by hand.
class TAdapters {
 public:
  // An interface with its IPv6 index and its addresses ("fe80::1%7": with its scope).
  void Add(ULONG ipv6_index, std::vector<std::string> addresses) {
    auto& adapter = FAdapters.emplace_back(std::make_unique<IP_ADAPTER_ADDRESSES>());
    *adapter = {};
    adapter->IfIndex = ipv6_index;
    adapter->Ipv6IfIndex = ipv6_index;
    IP_ADAPTER_UNICAST_ADDRESS** next = &adapter->FirstUnicastAddress;
    for (const std::string& text : addresses) {
      auto& address = FAddresses.emplace_back(std::make_unique<sockaddr_in6>());
      auto& unicast = FUnicasts.emplace_back(std::make_unique<IP_ADAPTER_UNICAST_ADDRESS>());
      *address = {};
      *unicast = {};
      const std::size_t percent = text.find('%');
      if (text.find(':') == std::string::npos) {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(address.get());
        ipv4->sin_family = AF_INET;
        ::inet_pton(AF_INET, text.c_str(), &ipv4->sin_addr);
        unicast->Address.iSockaddrLength = sizeof(sockaddr_in);
      } else {
        address->sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, text.substr(0, percent).c_str(), &address->sin6_addr);
        if (percent != std::string::npos)
          address->sin6_scope_id = std::stoul(text.substr(percent + 1));
        unicast->Address.iSockaddrLength = sizeof(sockaddr_in6);
      }
      unicast->Address.lpSockaddr = reinterpret_cast<sockaddr*>(address.get());
      *next = unicast.get();
      next = &unicast->Next;
    }
    if (FAdapters.size() > 1) FAdapters[FAdapters.size() - 2]->Next = adapter.get();
  }
  const IP_ADAPTER_ADDRESSES* List() const {
    return FAdapters.empty() ? nullptr : FAdapters.front().get();
  }

 private:
  std::vector<std::unique_ptr<IP_ADAPTER_ADDRESSES>> FAdapters;
  std::vector<std::unique_ptr<IP_ADAPTER_UNICAST_ADDRESS>> FUnicasts;
  std::vector<std::unique_ptr<sockaddr_in6>> FAddresses;  // room for either version
};

// The interface that holds the typed address gives each socket an address of its version: the
// typed one for its own, another of the interface for the other, a link-local IPv6 one only
// when it has no other.
TEST(WinsockLayer, TheInterfaceOfTheTypedAddress) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  TAdapters adapters;
  adapters.Add(1, {"::1", "127.0.0.1"});
  adapters.Add(7, {"fe80::1%7", "192.0.2.2", "2001:db8::2", "192.0.2.3"});
  adapters.Add(9, {"fe80::1%9", "10.0.0.9"});
  adapters.Add(11, {"fd00::11"});
  adapters.Add(12, {"198.51.100.12"});
  struct TCase {
    const char* Typed;
    const char* Binding;  // "IPv4 IPv6%SCOPE", "-" for none; "" when no interface holds it
  };
  const TCase cases[] = {
      {"127.0.0.1", "127.0.0.1 ::1%0"},
      {"::1", "127.0.0.1 ::1%0"},
      {"192.0.2.3", "192.0.2.3 2001:db8::2%0"},
      {"2001:db8::2", "192.0.2.2 2001:db8::2%0"},
      {"fe80::1%7", "192.0.2.2 fe80::1%7"},
      {"fe80::1%9", "10.0.0.9 fe80::1%9"},
      {"fe80::1", "192.0.2.2 fe80::1%7"},  // the first that holds it
      {"10.0.0.9", "10.0.0.9 fe80::1%9"},
      {"fd00::11", "- fd00::11%0"},
      {"198.51.100.12", "198.51.100.12 -"},
      {"fe80::1%8", ""},
      {"fd00::5", ""},
      {"10.9.9.9", ""},
  };
  for (const TCase& c : cases) {
    const TInterfaceBinding binding = InterfaceBinding(adapters.List(), ReadTypedAddress(c.Typed));
    EXPECT_EQ(binding.Found ? Text(binding.Ipv4) + " " + Text(binding.Ipv6) : "", c.Binding)
        << c.Typed;
  }
  ::WSACleanup();
}

// What a receive on the IPv6 socket gave, as a datagram the decoder reads: a whole datagram
// as it is, a TCP segment alone with a fixed header of the receive's addresses in front.
TEST(WinsockLayer, AnIpv6ReceiveBecomesADatagram) {
  TDatagram6Shape shape = With6Payload("GET / HTTP/1.1");
  shape.SourcePort = 0x6123;  // its first byte reads as version 6
  const std::vector<std::uint8_t> whole = BuildDatagram6(shape);
  const std::vector<std::uint8_t> segment(whole.begin() + 40, whole.end());
  in6_addr source, destination, other;
  std::memcpy(&source, shape.Source.data(), 16);
  std::memcpy(&destination, shape.Dest.data(), 16);
  ::inet_pton(AF_INET6, "fd00::99", &other);
  const in6_addr unspecified{};
  // A whole datagram whose payload length the system left at 0.
  std::vector<std::uint8_t> unfilled = whole;
  unfilled[4] = unfilled[5] = 0;
  // A segment whose first bytes read as an IPv6 header that claims what was received.
  std::vector<std::uint8_t> lookalike = segment;
  lookalike[4] = 0;
  lookalike[5] = static_cast<std::uint8_t>(lookalike.size() - 40);

  struct TCase {
    const char* Name;
    const std::vector<std::uint8_t>* Received;
    const in6_addr* Source;
    const in6_addr* Destination;
    const char* Read;  // "as is", "with a header", or "nothing"
  };
  const TCase cases[] = {
      {"whole, addresses told", &whole, &source, &destination, "as is"},
      {"whole, none told", &whole, nullptr, nullptr, "as is"},
      {"whole, unspecified told", &whole, &unspecified, &unspecified, "as is"},
      {"whole, its length left at 0", &unfilled, &source, &destination, "as is"},
      {"segment, addresses told", &segment, &source, &destination, "with a header"},
      {"segment, destination untold", &segment, &source, nullptr, "nothing"},
      {"segment, none told", &segment, nullptr, nullptr, "nothing"},
      {"look-alike, other addresses told", &lookalike, &other, &destination, "with a header"},
      {"empty", &segment, &source, &destination, "nothing"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::size_t size = std::strcmp(c.Name, "empty") == 0 ? 0 : c.Received->size();
    std::vector<std::uint8_t> room(kIpv6HeaderBytes + c.Received->size(), 0xEE);
    std::copy(c.Received->begin(), c.Received->end(), room.begin() + kIpv6HeaderBytes);
    const std::span<const std::uint8_t> datagram =
        Ipv6Datagram(room.data(), size, c.Source, c.Destination);
    const std::string read = datagram.empty()                                    ? "nothing"
                             : datagram.data() == room.data() + kIpv6HeaderBytes ? "as is"
                                                                                 : "with a header";
    EXPECT_EQ(read, c.Read);
    if (datagram.empty()) continue;
    if (read == "with a header") {
      EXPECT_EQ(datagram.data(), room.data());
      EXPECT_EQ(datagram.size(), kIpv6HeaderBytes + size);
    }
    const auto record = DecodeDatagram(datagram, 1, 65535);
    ASSERT_TRUE(record);
    const bool made = read == "with a header";
    EXPECT_EQ(record->Source.Ip, Text(made ? *c.Source : source));
    EXPECT_EQ(record->Dest.Ip, Text(made ? *c.Destination : destination));
    EXPECT_EQ(record->Data, "GET / HTTP/1.1");
    EXPECT_EQ(record->Source.Port, 0x6123);
    EXPECT_EQ(record->Dest.Port, 80);
  }
}

// A failure names its case for the user, then gives the system's text, in English like the
// rest of the message (wine has no text for most of these: the layer's own words stand in).
TEST(WinsockLayer, FailureTextsNameTheCaseInEnglish) {
  struct TCase {
    TCaptureStep Step;
    int Code;
    const char* Start;  // the whole text when it ends in '|'
    bool MissingRights = false;
  };
  const TCase cases[] = {
      {TCaptureStep::Receive, WSAENETDOWN, "the interface went down: "},
      {TCaptureStep::Receive, WSAEADDRNOTAVAIL, "the address went away: "},
      {TCaptureStep::Receive, WSAENETRESET,
       "the system reset the capture's socket (an adapter reset, or a resume from sleep): "},
      {TCaptureStep::Receive, WSAECONNRESET, "the system reset the capture's socket"},
      {TCaptureStep::Bind, WSAEADDRNOTAVAIL, "no interface holds this address|"},
      {TCaptureStep::Open, WSAEACCES, "", true},
  };
  for (const TCase& c : cases) {
    const TCaptureError error = WinsockError(c.Step, c.Code);
    SCOPED_TRACE(std::to_string(c.Code) + ": " + error.Text);
    EXPECT_EQ(error.Step, c.Step);
    EXPECT_EQ(error.Code, c.Code);
    EXPECT_EQ(error.MissingRights, c.MissingRights);
    const std::string start = c.Start;
    if (!start.empty() && start.back() == '|') {
      EXPECT_EQ(error.Text + "|", start);
      continue;
    }
    ASSERT_EQ(error.Text.substr(0, start.size()), start);
    const std::string system = error.Text.substr(start.size());
    // The system's sentence, without its full stop or line end, never a generic stand-in.
    EXPECT_FALSE(system.empty());
    EXPECT_NE(system, "Winsock error");
    EXPECT_EQ(system.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(system.back(), '.');
    for (const char letter : system)
      EXPECT_TRUE(letter >= ' ' && letter <= '~') << "not English: " << system;
  }
}

// The field's first text comes from the same list as the address list: its IPv4 addresses,
// loopback's aside, in its order.
TEST(WinsockLayer, HostAddressesAreTheListsIpv4AddressesButLoopbacks) {
  std::vector<std::string> expected;
  for (const TInterfaceAddress& entry : InterfaceAddresses()) {
    if (std::count(entry.Address.begin(), entry.Address.end(), '.') == 3 &&
        !entry.Address.starts_with("127."))
      expected.push_back(entry.Address);
  }
  if (expected.empty()) expected.push_back("127.0.0.1");
  EXPECT_EQ(HostAddresses(), expected);
}

// Loopback is up on every host: its IPv4 address is listed with the adapter's name. Each
// address is one that Winsock reads back, an IPv6 link-local one with its interface's index.
TEST(WinsockLayer, InterfaceAddressesHoldLoopback) {
  const std::vector<TInterfaceAddress> listed = InterfaceAddresses();
  bool loopback = false;
  for (const TInterfaceAddress& entry : listed) {
    SCOPED_TRACE(entry.Address + " (" + entry.Interface + ")");
    EXPECT_FALSE(entry.Interface.empty());
    if (entry.Address == "127.0.0.1") loopback = true;
    const std::size_t zone = entry.Address.find('%');
    const std::string address = entry.Address.substr(0, zone);
    in6_addr parsed{};
    const bool v6 = ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
    EXPECT_TRUE(v6 || ::inet_pton(AF_INET, address.c_str(), &parsed) == 1);
    EXPECT_EQ(zone != std::string::npos, v6 && IN6_IS_ADDR_LINKLOCAL(&parsed));
    if (zone != std::string::npos) {
      const std::string index = entry.Address.substr(zone + 1);
      EXPECT_FALSE(index.empty());
      EXPECT_EQ(index.find_first_not_of("0123456789"), std::string::npos);
    }
  }
  EXPECT_TRUE(loopback);
}

TEST(WinsockLayer, WakeAndCloseAreHarmlessAtAnyTime) {
  auto layer = MakePlatformCaptureLayer();
  layer->Stop(StopMomentNow());
  layer->Close();
  layer->Open({"10.9.9.9", 1, 65535});
  layer->Stop(StopMomentNow());
  layer->Close();
  layer->Close();
}

}  // namespace
