// The Winsock capture layer on Windows (or under wine).
#include <gtest/gtest.h>

#include <algorithm>

#include "capture/UnitThreadSniffer.h"

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

TEST(WinsockLayer, HostAddressesAreDottedQuads) {
  for (const std::string& address : HostAddresses())
    EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
}

TEST(WinsockLayer, WakeAndCloseAreHarmlessAtAnyTime) {
  auto layer = MakePlatformCaptureLayer();
  layer->Wake();
  layer->Close();
  layer->Open({"10.9.9.9", 1, 65535});
  layer->Wake();
  layer->Close();
  layer->Close();
}

}  // namespace
