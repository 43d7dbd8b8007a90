// The Winsock capture layer on Windows (or under wine).
#include "capture/WinSock2.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/UnitThreadSniffer.h"
#include "capture/WinSock2.h"

namespace {

using namespace std::chrono_literals;

TEST(WinsockLayer, BindToAnAddressNoInterfaceHolds) {
  auto pile = std::make_shared<TPileTrameTCP>();
  auto control = TThreadSniffer::Create(pile, "10.9.9.9", 1, 65535);
  ASSERT_TRUE(control->WaitEnded(10s));
  const std::string failure = control->Failure();
  if (failure.find("failed at open") != std::string::npos) {
    // Raw sockets are for administrators, and wine offers none of protocol 0.
    GTEST_SKIP() << "no raw socket here: " << failure;
  }
  EXPECT_EQ(failure,
            "Capture on '10.9.9.9' failed at bind: no interface holds this address (error 10049)");
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

TEST(WinsockLayer, HostAddressesAreDottedQuads) {
  for (const std::string& address : HostAddresses())
    EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
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
  layer->Stop();
  layer->Close();
  layer->Open({"10.9.9.9", 1, 65535});
  layer->Stop();
  layer->Close();
  layer->Close();
}

}  // namespace
