// The host's addresses as the window lists them, read inside a network namespace that the test
// sets up with addresses of its own.
#include <gtest/gtest.h>

#include <algorithm>

#include "capture/HostAddresses.h"
#include "testsupport/NetnsLab.h"

namespace {

TEST(HostAddresses, EveryAddressOfTheInterfacesThatAreUp) {
  if (auto reason = NetnsUnavailable()) GTEST_SKIP() << *reason;
  TNetns ns("addresses");
  // A veth pair whose one end, eth1, stays down. No address made from a link's hardware
  // address: the test names each one.
  for (const char* command :
       {"ip link add eth0 type veth peer name eth1", "ip link set eth0 addrgenmode none",
        "ip link set eth1 addrgenmode none", "ip addr add 192.0.2.2/24 dev eth0",
        "ip addr add 2001:db8::2/64 dev eth0 nodad", "ip addr add fe80::1/64 dev eth0 nodad",
        "ip link set eth0 up", "ip addr add 198.51.100.1/24 dev eth1"})
    ASSERT_TRUE(ns.Exec(command)) << command;

  std::vector<std::string> listed;
  for (const TInterfaceAddress& address : ns.Run([] { return InterfaceAddresses(); }))
    listed.push_back(address.Interface + " " + address.Address);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"eth0 192.0.2.2", "eth0 2001:db8::2",
                                              "eth0 fe80::1%eth0", "lo 127.0.0.1", "lo ::1"}));

  // The field's first text: the IPv4 addresses that are up, loopback aside.
  EXPECT_EQ(ns.Run([] { return HostAddresses(); }), std::vector<std::string>{"192.0.2.2"});
}

}  // namespace
