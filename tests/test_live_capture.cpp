// Real captures through the platform's capture layer, inside network namespaces that each
// test creates for itself.
#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "capture/UnitThreadSniffer.h"
#include "capture/linux/CaptureHelper.h"
#include "testsupport/NetnsLab.h"
#include "testsupport/TcpExchange.h"
#include "testsupport/TcpPeers.h"

namespace {

using namespace std::chrono_literals;

class LiveCapture : public testing::Test {
 protected:
  void SetUp() override {
    if (auto reason = NetnsUnavailable()) GTEST_SKIP() << *reason;
  }

  std::shared_ptr<TPileTrameTCP> FPile = std::make_shared<TPileTrameTCP>();

  std::unique_ptr<TThreadSniffer> StartIn(const TNetns& ns, const std::string& ip,
                                           std::uint16_t start = 1, std::uint16_t end = 65535) {
    auto control = ns.Run([&] { return TThreadSniffer::Create(FPile, ip, start, end); });
    EXPECT_TRUE(control->WaitReceiving(20s)) << control->Failure();
    return control;
  }

  // Stops at once: what passed before the stop must be handed over all the same.
  std::vector<TTrameTCP> StopAndCollect(TThreadSniffer& control) {
    control.Terminate();
    EXPECT_TRUE(control.WaitEnded(5s));
    EXPECT_EQ(control.Failure(), "");
    std::vector<TTrameTCP> records;
    while (TPileItem item = FPile->Pop()) {
      EXPECT_TRUE(item.Trame) << "unexpected drop marker";
      if (item.Trame) records.push_back(*item.Trame);
    }
    return records;
  }
};

int Count(const std::vector<TTrameTCP>& records, const std::string& from,
          std::uint8_t flags_exactly, const std::string& data = "") {
  return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const TTrameTCP& t) {
    return t.Source.Ip == from && t.Drapeaux.Byte() == flags_exactly && t.Data == data;
  }));
}

constexpr std::uint8_t kACK = 2, kPSH = 4, kRST = 8, kSYN = 16, kFIN = 32;

void ExpectWholeExchangeOnce(const std::vector<TTrameTCP>& records, const std::string& client,
                             const std::string& server) {
  EXPECT_EQ(Count(records, client, kSYN), 1);
  EXPECT_EQ(Count(records, server, kSYN | kACK), 1);
  EXPECT_EQ(Count(records, client, kACK | kPSH, "GET /index\r\n"), 1);
  EXPECT_EQ(Count(records, server, kACK | kPSH, "200 OK\r\n"), 1);
  EXPECT_EQ(Count(records, client, kFIN | kACK), 1);
  const auto resets = std::count_if(records.begin(), records.end(), [&](const TTrameTCP& t) {
    return t.Source.Ip == server && t.Drapeaux.Contains(TDrapeauTCP::RST);
  });
  EXPECT_EQ(resets, 1);
  for (const TTrameTCP& t : records) {
    EXPECT_TRUE(t.Source.Port == kServerPort || t.Dest.Port == kServerPort);
  }
}

TEST_F(LiveCapture, VethExchangeSeenOnceInEachDirection) {
  TVethLab lab;
  auto control = StartIn(lab.A, TVethLab::kAddressA);
  EXPECT_EQ(Exchange(lab.A, lab.B, TVethLab::kAddressB), "200 OK\r\n");
  const auto records = StopAndCollect(*control);
  ExpectWholeExchangeOnce(records, TVethLab::kAddressA, TVethLab::kAddressB);
}

// Loopback holds 127.0.0.1 and ::1: either picks it, and it shows both families, each
// segment once.
TEST_F(LiveCapture, LoopbackShowsBothFamiliesWhicheverAddressPicksIt) {
  for (const char* typed : {"127.0.0.1", "::1"}) {
    TNetns ns("lo");
    auto control = StartIn(ns, typed);
    EXPECT_EQ(Exchange(ns, ns, "127.0.0.1"), "200 OK\r\n");
    EXPECT_EQ(Exchange(ns, ns, "::1"), "200 OK\r\n");
    const auto records = StopAndCollect(*control);
    for (const char* ip : {"127.0.0.1", "::1"}) {
      EXPECT_EQ(Count(records, ip, kSYN), 1) << typed << " shows " << ip;
      EXPECT_EQ(Count(records, ip, kSYN | kACK), 1) << typed << " shows " << ip;
      EXPECT_EQ(Count(records, ip, kACK | kPSH, "GET /index\r\n"), 1) << typed << " shows " << ip;
      EXPECT_EQ(Count(records, ip, kACK | kPSH, "200 OK\r\n"), 1) << typed << " shows " << ip;
    }
  }
}

// An interface without IPv4: its IPv6 address picks it.
TEST_F(LiveCapture, AnIpv6OnlyInterface) {
  TVethLab lab(false, true);
  auto control = StartIn(lab.A, TVethLab::kAddress6A);
  EXPECT_EQ(Exchange(lab.A, lab.B, TVethLab::kAddress6B), "200 OK\r\n");
  const auto records = StopAndCollect(*control);
  ExpectWholeExchangeOnce(records, TVethLab::kAddress6A, TVethLab::kAddress6B);
}

TEST_F(LiveCapture, OnePortRangeKeepsBothDirections) {
  TVethLab lab;
  auto control = StartIn(lab.A, TVethLab::kAddressA, kServerPort, kServerPort);
  EXPECT_EQ(Exchange(lab.A, lab.B, TVethLab::kAddressB), "200 OK\r\n");
  const auto records = StopAndCollect(*control);
  ExpectWholeExchangeOnce(records, TVethLab::kAddressA, TVethLab::kAddressB);
}

TEST_F(LiveCapture, RangeOutsideTheExchangeKeepsNothing) {
  TVethLab lab;
  auto control = StartIn(lab.A, TVethLab::kAddressA, 1, 10);
  EXPECT_EQ(Exchange(lab.A, lab.B, TVethLab::kAddressB), "200 OK\r\n");
  EXPECT_TRUE(StopAndCollect(*control).empty());
}

// The address picks the interface that holds it in this namespace, a link-local one by its
// zone when one is given; the window quotes the address as typed.
TEST_F(LiveCapture, TheAddressPicksTheInterface) {
  TVethLab lab;
  ASSERT_TRUE(
      lab.A.Exec(std::string("ip -6 addr add fe80::a/64 dev ") + TVethLab::kDeviceA + " nodad"));
  const unsigned index = lab.A.Run([] { return ::if_nametoindex(TVethLab::kDeviceA); });
  ASSERT_NE(index, 0u);
  const std::string no_interface = "no interface holds this address (error 99)";
  const struct {
    std::string Typed;
    std::string Failure;  // at bind; empty when the capture starts
  } cases[] = {
      {TVethLab::kAddressA, ""},
      {TVethLab::kAddress6A, ""},
      {"FD00:0::1", ""},
      {"fe80::a", ""},
      {"fe80::a%qv-a", ""},
      {"fe80::a%" + std::to_string(index), ""},
      {"fe80::a%lo", no_interface},
      {"fe80::a%" + std::to_string(index + 100), no_interface},
      {"::5", no_interface},
      {TVethLab::kAddress6B, no_interface},  // the other namespace's
      {"10.9.9.9", no_interface},
      {"fd00::zz", "not an IPv6 address (error 22)"},
  };
  for (const auto& c : cases) {
    auto control = lab.A.Run([&] { return TThreadSniffer::Create(FPile, c.Typed, 1, 65535); });
    if (c.Failure.empty()) {
      ASSERT_TRUE(control->WaitReceiving(5s)) << c.Typed << ": " << control->Failure();
      control->Terminate();
      EXPECT_TRUE(control->WaitEnded(5s)) << c.Typed;
      EXPECT_EQ(control->Failure(), "") << c.Typed;
    } else {
      ASSERT_TRUE(control->WaitEnded(5s)) << c.Typed;
      EXPECT_EQ(control->Failure(), "Capture on '" + c.Typed + "' failed at bind: " + c.Failure);
    }
  }
}

TEST_F(LiveCapture, StopOnAQuietInterfaceEndsPromptly) {
  TVethLab lab;
  auto control = StartIn(lab.A, TVethLab::kAddressA);
  std::this_thread::sleep_for(200ms);
  const auto before = std::chrono::steady_clock::now();
  control->Terminate();
  ASSERT_TRUE(control->WaitEnded(2s));
  const auto took = std::chrono::steady_clock::now() - before;
  RecordProperty("stop_ms", static_cast<int>(took / 1ms));
  EXPECT_EQ(control->Failure(), "");
}

TEST_F(LiveCapture, StopThenStartRecordsNothingTwice) {
  TVethLab lab;
  const int listener = lab.B.Run([&] { return ListenOn(TVethLab::kAddressB, kServerPort); });
  std::atomic<bool> sending{true};
  std::thread sink([listener] {
    const int connection = ::accept(listener, nullptr, nullptr);
    while (!ReceiveText(connection).empty()) {
    }
    ::close(connection);
  });
  const int client = lab.A.Run([&] { return ConnectTo(TVethLab::kAddressB, kServerPort); });
  const int yes = 1;
  ::setsockopt(client, IPPROTO_TCP, 1 /* TCP_NODELAY */, &yes, sizeof yes);
  std::thread sender([&] {
    for (int i = 0; sending; ++i) {
      SendText(client, "n" + std::to_string(i) + ";");
      std::this_thread::sleep_for(200us);
    }
    ::shutdown(client, SHUT_WR);
  });
  std::vector<std::unique_ptr<TThreadSniffer>> captures;
  for (int round = 0; round < 5; ++round) {
    if (!captures.empty()) captures.back()->Terminate();
    captures.push_back(StartIn(lab.A, TVethLab::kAddressA, kServerPort, kServerPort));
    std::this_thread::sleep_for(50ms);
  }
  sending = false;
  sender.join();
  sink.join();
  const auto records = StopAndCollect(*captures.back());
  for (auto& c : captures)
    EXPECT_TRUE(c->WaitEnded(2s));
  std::set<std::string> seen;
  int data_segments = 0;
  for (const TTrameTCP& t : records) {
    if (t.Data.empty() || t.Source.Ip != TVethLab::kAddressA) continue;
    ++data_segments;
    EXPECT_TRUE(seen.insert(t.Data).second) << "recorded twice: " << t.Data;
  }
  EXPECT_GT(data_segments, 100);
  ::close(client);
  ::close(listener);
}

std::string Beside(const std::string& name) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  return self.substr(0, self.rfind('/') + 1) + name;
}

pid_t HelperOf(pid_t parent) {
  for (int i = 0; i < 500; ++i) {
    for (const pid_t child : ChildrenOf(parent))
      if (CommandName(child) == kCaptureHelperName) return child;
    std::this_thread::sleep_for(2ms);
  }
  return -1;
}

struct THelperCase {
  const char* Name;
  std::string Helper;
  std::string Ip;
  const char* Failure;
};

// A helper that cannot be run, refuses its arguments or writes what it never would: each ends
// the capture with a failure that says so. None of these needs the right to capture.
TEST(CaptureHelper, FailuresAreClear) {
  char directory[] = "/tmp/quorvel-helper-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string not_executable = std::string(directory) + "/quorvel-capture";
  std::ofstream(not_executable) << "#!/bin/sh\n";
  const THelperCase cases[] = {
      {"missing", "/nonexistent/quorvel-capture", "10.0.0.1",
       "Capture on '10.0.0.1' failed at open: No such file or directory (error 2)"},
      {"not executable", not_executable, "10.0.0.1",
       "Capture on '10.0.0.1' failed at open: Permission denied (error 13); capturing needs "
       "administrator rights (root or CAP_NET_RAW, which members of the group quorvel have)"},
      {"writes garbage", "/bin/echo", "10.0.0.1",
       "Capture on '10.0.0.1' failed at open: the capture helper sent a malformed stream: no "
       "greeting (error 71)"},
      {"refuses its arguments", Beside(kCaptureHelperName), std::string(300, '1'), nullptr},
  };
  for (const THelperCase& c : cases) {
    auto pile = std::make_shared<TPileTrameTCP>();
    auto control = TThreadSniffer::Create(pile, c.Ip, 1, 65535, MakeHelperCaptureLayer(c.Helper));
    ASSERT_TRUE(control->WaitEnded(5s)) << c.Name;
    if (c.Failure) {
      EXPECT_EQ(control->Failure(), c.Failure) << c.Name;
    } else {
      EXPECT_NE(control->Failure().find("failed at open: address longer than 255 characters "
                                        "(error 22)"),
                std::string::npos)
          << control->Failure();
    }
  }
  std::filesystem::remove_all(directory);
}

// A hand-over that breaks off after a stop, whatever the helper does, says so after what came
// before the stop; a helper that no longer reads its input ends the capture, never the window.
TEST(CaptureHelper, AHandOverCutShortIsSaid) {
  for (const char* mode : {"hangs", "vanishes", "garbles", "deaf"}) {
    auto pile = std::make_shared<TPileTrameTCP>();
    auto control = TThreadSniffer::Create(pile, mode, 1, 65535,
                                          MakeHelperCaptureLayer(Beside("fake_capture_helper")));
    ASSERT_TRUE(control->WaitReceiving(5s)) << mode << ": " << control->Failure();
    for (int i = 0; i < 5000 && pile->Count() == 0; ++i)
      std::this_thread::sleep_for(1ms);
    control->Terminate();
    ASSERT_TRUE(control->WaitEnded(5s)) << mode;
    std::vector<std::string> entries;
    while (TPileItem item = pile->Pop())
      entries.push_back(item.Trame ? item.Trame->Data : item.Notice ? *item.Notice : "drop");
    EXPECT_EQ(entries, (std::vector<std::string>{"before", kHandOverCut})) << mode;
    EXPECT_EQ(control->Failure(), "") << mode;
  }
}

// Without the program's own path, the window cannot tell where its helper lies: it runs none,
// least of all one of the working directory, and says so.
TEST_F(LiveCapture, NoHelperIsRunWithoutTheProgramsOwnPath) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0 || ::chdir("/") != 0)
      ::_exit(2);
    const auto layer = MakePlatformCaptureLayer();
    const bool opened = layer->Open({"127.0.0.1", 1, 65535});
    const TCaptureError error = layer->LastError();
    std::fprintf(stderr, "%s\n", error.Text.c_str());
    ::_exit(!opened && error.Step == TCaptureStep::Open &&
                    error.Text.starts_with("cannot find the capture helper: ")
                ? 0
                : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
}

TEST_F(LiveCapture, AKilledHelperIsAFailure) {
  TVethLab lab;
  auto control = StartIn(lab.A, TVethLab::kAddressA);
  const pid_t helper = HelperOf(::getpid());
  ASSERT_GT(helper, 0);
  ::kill(helper, SIGKILL);
  ASSERT_TRUE(control->WaitEnded(5s));
  EXPECT_EQ(control->Failure(),
            "Capture on '10.199.0.1' failed at receive: the capture helper ended unexpectedly "
            "(killed by signal 9) (error 32)");
}

// The window killed outright: its helper sees its input close, and its parent go.
TEST_F(LiveCapture, TheHelperNeverOutlivesItsWindow) {
  TVethLab lab;
  const pid_t window = ::fork();
  if (window == 0) {
    lab.A.Run([] {
      const std::string probe = Beside("capture_probe");
      ::execl(probe.c_str(), probe.c_str(), TVethLab::kAddressA, "60000", nullptr);
      return 0;
    });
    ::_exit(127);
  }
  const pid_t helper = HelperOf(window);
  ASSERT_GT(helper, 0);
  ::kill(window, SIGKILL);
  ::waitpid(window, nullptr, 0);
  // Gone, or a zombie left to whoever reaps orphans here.
  const auto ended = [helper] {
    std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
    std::string pid, name, state;
    return !(stat >> pid >> name >> state) || state == "Z";
  };
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = ended();
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(gone);
}

}  // namespace
