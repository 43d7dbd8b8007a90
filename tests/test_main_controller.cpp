// The window's behaviour without a toolkit, over a scripted capture layer: Start and Stop, the
// drain and its slices, the hand-over of a stopped or failed capture, drop markers, a full
// view, close.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <thread>

#include "testsupport/ControllerFront.h"
#include "testsupport/DatagramFixtures.h"
#include "testsupport/ScriptedServices.h"
#ifdef __linux__
#include "capture/linux/CaptureHelper.h"
#endif
#include "ui/DefaultHandler.h"
#include "ui/MainController.h"
#include "ui/PortConversion.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using TNext = TNextDrain;

// The controller over a scripted capture layer.
struct TScriptedFront : TFront {
  std::shared_ptr<TCaptureScript> Script;
  explicit TScriptedFront(
      std::shared_ptr<TCaptureScript> script = std::make_shared<TCaptureScript>())
      : TFront(ScriptedServices(script)), Script(std::move(script)) {}
  void AwaitReceiving() {
    for (int i = 0; i < 5000; ++i) {
      if (Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }) > 0) return;
      std::this_thread::sleep_for(1ms);
    }
    FAIL() << "the capture never received";
  }
  TCaptureTarget Target() {
    return Script->Read([](TCaptureScript& s) { return s.Target; });
  }
  int Count(int TCaptureScript::*counter) {
    return Script->Read([counter](TCaptureScript& s) { return s.*counter; });
  }
};

std::vector<std::uint8_t> Segment(const std::string& payload) {
  return BuildDatagram(WithPayload(payload));
}

TEST(MainController, StartAndStopFollowTheButton) {
  TScriptedFront front;
  front.Click();
  EXPECT_TRUE(front.Controller.Running());
  EXPECT_TRUE(front.ShownRunning);
  front.AwaitReceiving();
  EXPECT_EQ(front.Target().Ip, "10.0.0.1");
  EXPECT_EQ(front.Target().PortStart, 1);
  EXPECT_EQ(front.Target().PortEnd, 65535);
  front.Click();
  EXPECT_FALSE(front.Controller.Running());
  EXPECT_FALSE(front.ShownRunning);
  front.Settle();
  EXPECT_EQ(front.Count(&TCaptureScript::Closes), 1);
  EXPECT_TRUE(front.Errors.empty());
}

// The address as the log writes it, or with blanks around it, reaches the capture bare.
TEST(MainController, TheAddressTextIsTrimmedAndUnbracketed) {
  const std::pair<std::string, std::string> cases[] = {
      {" \t10.0.0.1 \t", "10.0.0.1"},        {"[::1]", "::1"},
      {" [fe80::1%eth0]\t", "fe80::1%eth0"}, {"[[::1]]", "[::1]"},
      {"[10.0.0.1]", "[10.0.0.1]"},          {"[::1", "[::1"},
  };
  for (const auto& [typed, captured] : cases) {
    SCOPED_TRACE(typed);
    TScriptedFront front;
    front.Texts.Ip = typed;
    front.Click();
    front.AwaitReceiving();
    EXPECT_EQ(front.Target().Ip, captured);
    front.Click();
    front.Settle();
  }
}

struct TPortCase {
  std::string Start, End;
  std::string Error;  // empty: the capture starts with these ports
  int PortStart, PortEnd;
};

TEST(MainController, PortTextsAreConvertedBeforeAnythingStarts) {
  const TPortCase cases[] = {
      {"80", "80", "", 80, 80},
      {"$50", "0x1BB", "", 80, 443},
      {"  +21", "22", "", 21, 22},
      {"90", "80", "'90' is greater than '80'", 0, 0},
      {"$5A", "80", "'$5A' is greater than '80'", 0, 0},
      {"", "80", "'' is not a valid integer value", 0, 0},
      {"x", "y", "'x' is not a valid integer value", 0, 0},
      {"80 ", "81", "'80 ' is not a valid integer value", 0, 0},
      {"70000", "80", "'70000' is not a valid port number", 0, 0},
      {"1", "-1", "'-1' is not a valid port number", 0, 0},
      {"8\0"
       "0"s,
       "1",
       "'8\0"
       "0' is not a valid integer value"s,
       0, 0},
  };
  for (const TPortCase& c : cases) {
    TScriptedFront front;
    front.Texts = {"10.0.0.1", false, c.Start, c.End};
    if (c.Error.empty()) {
      front.Click();
      front.AwaitReceiving();
      EXPECT_EQ(front.Target().PortStart, c.PortStart) << c.Start;
      EXPECT_EQ(front.Target().PortEnd, c.PortEnd) << c.Start;
      continue;
    }
    try {
      front.Click();
      ADD_FAILURE() << "started with '" << c.Start << "'";
    } catch (const EConvertError& error) {
      EXPECT_EQ(MessageOf(error), c.Error);
    }
    EXPECT_FALSE(front.Controller.Running());
    EXPECT_EQ(front.Count(&TCaptureScript::Opens), 0);
  }
}

// What typing does in a port field: digits and backspace type, Ctrl+A, Ctrl+C and Ctrl+X act,
// anything else, Ctrl+V included, is kept out.
TEST(MainController, PortFieldKeys) {
  const std::pair<char32_t, TPortKey> cases[] = {
      {U'0', TPortKey::Type},      {U'9', TPortKey::Type},     {8, TPortKey::Type},
      {0x01, TPortKey::SelectAll}, {0x03, TPortKey::Copy},     {0x18, TPortKey::Cut},
      {0x16, TPortKey::Discard},   {U'a', TPortKey::Discard},  {U'-', TPortKey::Discard},
      {U' ', TPortKey::Discard},   {U'\t', TPortKey::Discard}, {0x0663, TPortKey::Discard},
  };
  for (const auto& [typed, action] : cases)
    EXPECT_EQ(PortKeyOf(typed), action) << static_cast<std::uint32_t>(typed);
}

// Stop hands over what was captured before it, at once; the next Start shows none of it.
TEST(MainController, StopDeliversEverythingCapturedBeforeIt) {
  TScriptedFront front;
  front.Click();
  front.AwaitReceiving();
  for (const char* payload : {"x1", "x2", "x3"})
    front.Script->Add(Segment(payload));
  front.Click();
  front.Settle();
  EXPECT_EQ(front.Lines, (std::vector<std::string>{"x1", "x2", "x3"}));
  front.Click();
  front.Script->Add(Segment("y1"));
  while (front.Controller.Pile()->Count() == 0)
    std::this_thread::sleep_for(1ms);
  front.Tick();
  EXPECT_EQ(front.Lines, (std::vector<std::string>{"x1", "x2", "x3", "y1"}));
}

// A Start while the last capture still hands over waits for it, so that its lines come first.
TEST(MainController, StartRightAfterStopKeepsTheOrder) {
  TScriptedFront front;
  front.Click();
  front.AwaitReceiving();
  front.Script->Add(Segment("old"));
  front.Click();
  front.Click();
  EXPECT_EQ(front.Lines, std::vector<std::string>{"old"});
  front.Queue("new");
  front.Tick();
  EXPECT_EQ(front.Lines, (std::vector<std::string>{"old", "new"}));
}

// A stopped capture that will not end is let go after its wait, and the log says so after the
// last line it handed over.
TEST(MainController, AStopCutShortIsSaid) {
  TScriptedFront front;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  front.Click();
  front.AwaitReceiving();
  front.Script->Add(Segment("before"));
  front.Script->AddAction([released] { released.wait_for(10s); });
  front.Script->Add(Segment("held"));
  while (front.Count(&TCaptureScript::ReceiveCalls) < 2)  // held in the action
    std::this_thread::sleep_for(1ms);
  front.Click();
  front.Settle();
  EXPECT_EQ(front.Count(&TCaptureScript::Destroyed), 0);  // still held: it has not ended
  release.set_value();
  // Once it ends, a drain joins it; what it handed over after its wait never shows.
  for (int i = 0; i < 5000 && front.Count(&TCaptureScript::Destroyed) == 0; ++i) {
    std::this_thread::sleep_for(1ms);
    front.Tick();
  }
  EXPECT_EQ(front.Count(&TCaptureScript::Destroyed), 1);
  EXPECT_EQ(
      front.Lines,
      (std::vector<std::string>{
          "before",
          "*** the stopped capture did not end in time: what it still held is not shown ***"}));
  EXPECT_TRUE(front.Errors.empty());
}

TEST(MainController, AFailedCaptureShowsAllItCapturedBeforeItsError) {
  TScriptedFront front;
  front.Script->Add(Segment("a"));
  front.Script->Add(Segment("b"));
  front.Script->AddFailure({TCaptureStep::Receive, 5, "The interface disappeared", false});
  front.Click();
  while (front.Errors.empty() && front.Lines.size() < 3) {
    std::this_thread::sleep_for(1ms);
    front.Tick();
  }
  EXPECT_EQ(front.Lines, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(front.Errors,
            std::vector<std::string>{"Capture on '10.0.0.1' failed at receive: The interface "
                                     "disappeared (error 5)"});
  EXPECT_FALSE(front.Controller.Running());
  front.Tick();
  EXPECT_EQ(front.Errors.size(), 1u);
}

TEST(MainController, AFailedSetUpQuotesTheAddress) {
  TScriptedFront front;
  front.Texts.Ip = "";
  front.Script->FailingStep = TCaptureStep::Bind;
  front.Click();
  while (front.Errors.empty()) {
    std::this_thread::sleep_for(1ms);
    front.Tick();
  }
  EXPECT_EQ(front.Errors[0],
            "Capture on '' failed at bind: no interface holds this address (error 99)");
  EXPECT_FALSE(front.Controller.Running());
}

// Drop markers stand where the loss was, and a capture's notices where it told them.
TEST(MainController, DropMarkersAndNoticesStandInStreamOrder) {
  TScriptedFront front;
  front.Script->AddNotice("IPv6 is not captured on this interface: it has no IPv6 address");
  front.Script->Add(Segment("before"));
  front.Script->AddDropped(5);
  front.Script->Add(Segment("after"));
  front.Click();
  while (front.Lines.size() < 4) {
    std::this_thread::sleep_for(1ms);
    front.Tick();
  }
  EXPECT_EQ(front.Lines,
            (std::vector<std::string>{
                "*** IPv6 is not captured on this interface: it has no IPv6 address ***", "before",
                "*** 5 datagrams dropped: the capture could not keep up ***", "after"}));
}

// However much is queued, a slice returns before all is drained, and the slices keep the
// order.
TEST(MainController, TheDrainWorksInSlices) {
  TScriptedFront front;
  constexpr int kRecords = 400'000;
  for (int i = 0; i < kRecords; ++i)
    front.Queue(std::to_string(i));
  EXPECT_EQ(front.Tick(), TNext::Now);
  EXPECT_LT(front.Lines.size(), static_cast<std::size_t>(kRecords));
  front.Settle();
  ASSERT_EQ(front.Lines.size(), static_cast<std::size_t>(kRecords));
  for (int i = 0; i < kRecords; i += 9973)
    EXPECT_EQ(front.Lines[static_cast<std::size_t>(i)], std::to_string(i));
}

TEST(MainController, AFullViewStopsOnceAndLetsGoOfTheRest) {
  TScriptedFront front;
  front.Room = 400;
  front.Click();
  for (int i = 0; i < 100; ++i)
    front.Queue(std::string(30, static_cast<char>('a' + i % 26)));
  front.Tick();
  EXPECT_EQ(front.Lines.size(), 12u);  // 12 lines of 31 characters fit in 400
  EXPECT_EQ(front.Errors, std::vector<std::string>{"RichEdit line insertion error"});
  EXPECT_FALSE(front.Controller.Running());
  EXPECT_EQ(front.Controller.Pile()->Count(), 0);
  front.Tick();
  EXPECT_EQ(front.Errors.size(), 1u);
}

TEST(MainController, CloseEndsEveryCaptureWithinItsWait) {
  TScriptedFront front;
  front.Click();
  front.AwaitReceiving();  // waiting on a quiet interface
  std::weak_ptr<TPileTrameTCP> pile = front.Controller.Pile();
  front.Controller.FormDestroy();
  EXPECT_EQ(front.Count(&TCaptureScript::Closes), 1);
}

// Closing the window waits for a capture that ends after the window's wait: no capture thread
// outlives the window.
TEST(MainController, CloseJoinsACaptureThatEndsLate) {
  const auto script = std::make_shared<TCaptureScript>();
  auto front = std::make_unique<TScriptedFront>(script);
  front->Click();
  front->AwaitReceiving();
  // A layer that takes longer than the window waits for it.
  script->AddAction([] { std::this_thread::sleep_for(TMainController::kStopWait + 500ms); });
  while (!script->Read([](TCaptureScript& s) { return s.Receives.empty(); }))
    std::this_thread::sleep_for(1ms);
  front.reset();
  EXPECT_EQ(script->Read([](TCaptureScript& s) { return s.Destroyed; }), 1);
}

#ifdef __linux__
// A window held up while a helper floods it holds no more than its queue's bound, and shows
// what it had to drop where it dropped it.
TEST(MainController, AHeldUpWindowStaysWithinItsBound) {
  const std::string fake =
      std::filesystem::read_symlink("/proc/self/exe").parent_path() / "fake_capture_helper";
  TCaptureServices services;
  services.MakeLayer = [fake] { return MakeHelperCaptureLayer(fake); };
  constexpr std::size_t kBound = 1 << 20;
  TFront front(services, kBound);
  front.Options.ShowFlags = true;
  front.Click();
  ASSERT_TRUE(front.Controller.Running());
  // Held up: no drain, while the helper writes far more than the bound.
  const std::size_t most = kBound / QueuedBytes(TTrameTCP{}) + 1;
  for (int i = 0; i < 200; ++i) {
    std::this_thread::sleep_for(5ms);
    ASSERT_LE(static_cast<std::size_t>(front.Controller.Pile()->Count()), most);
  }
  front.Tick();
  front.Click();
  front.Settle();
  EXPECT_TRUE(front.Errors.empty()) << front.Errors[0];
  const auto marker = std::find_if(front.Lines.begin(), front.Lines.end(), [](const auto& line) {
    return line.starts_with("*** ") && line.ends_with(
                                           " datagrams dropped: the capture could not "
                                           "keep up ***");
  });
  ASSERT_NE(marker, front.Lines.end());
  EXPECT_GT(marker - front.Lines.begin(), 1000);  // after what the queue held
}
#endif

// The list reads the interfaces at each opening, IPv4 first, in the system's order within each
// family; choosing an entry gives the address alone, whatever the interface's name holds.
TEST(MainController, TheAddressList) {
  auto interfaces = std::make_shared<std::vector<TInterfaceAddress>>(
      std::vector<TInterfaceAddress>{{"::1", "lo"},
                                     {"127.0.0.1", "lo"},
                                     {"fe80::1%eth0", "eth0"},
                                     {"192.0.2.2", "eth0"},
                                     {"2001:db8::2", "eth0"}});
  TCaptureServices services = ScriptedServices(std::make_shared<TCaptureScript>());
  services.InterfaceAddresses = [interfaces] { return *interfaces; };
  TFront front(services);
  EXPECT_EQ(front.Controller.EditIpDropDown(),
            (std::vector<std::string>{"127.0.0.1 (lo)", "192.0.2.2 (eth0)", "::1 (lo)",
                                      "fe80::1%eth0 (eth0)", "2001:db8::2 (eth0)"}));
  EXPECT_EQ(front.Controller.EditIpSelect(1), "192.0.2.2");
  EXPECT_EQ(front.Controller.EditIpSelect(3), "fe80::1%eth0");
  EXPECT_EQ(front.Controller.EditIpSelect(5), std::nullopt);

  *interfaces = {{"fe80::5%12", "vEthernet (Default Switch)"}, {"10.1.2.3", "Ethernet 2"}};
  EXPECT_EQ(front.Controller.EditIpDropDown(),
            (std::vector<std::string>{"10.1.2.3 (Ethernet 2)",
                                      "fe80::5%12 (vEthernet (Default Switch))"}));
  EXPECT_EQ(front.Controller.EditIpSelect(1), "fe80::5%12");
  EXPECT_EQ(front.Controller.EditIpSelect(2), std::nullopt);

  interfaces->clear();
  EXPECT_TRUE(front.Controller.EditIpDropDown().empty());
  EXPECT_EQ(front.Controller.EditIpSelect(0), std::nullopt);
}

// A window run as root opens its log with one line that says so, before any capture's.
TEST(MainController, AWindowRunAsRootSaysSoFirst) {
  for (const bool root : {true, false}) {
    TCaptureServices services = ScriptedServices(std::make_shared<TCaptureScript>());
    services.RunsAsRoot = [root] { return root; };
    TFront front(services);
    EXPECT_EQ(front.Controller.FormCreate(), "10.0.0.1");
    front.Click();
    front.Queue("x1");
    front.Tick();
    front.Click();
    front.Settle();
    std::vector<std::string> expected{"x1"};
    if (root)
      expected.insert(expected.begin(),
                      "*** Quorvel runs as root: members of the group quorvel capture without "
                      "it ***");
    EXPECT_EQ(front.Lines, expected) << root;
    EXPECT_TRUE(front.Errors.empty());
  }
}

TEST(MainController, LocalIpIsTheLastOfTheHostsList) {
  const auto script = std::make_shared<TCaptureScript>();
  TFront two(ScriptedServices(script, {"10.0.0.1", "192.168.1.7"}));
  EXPECT_EQ(two.Controller.FormCreate(), "192.168.1.7");
  EXPECT_FALSE(two.ShownRunning);
  TFront none(ScriptedServices(script, {}));
  EXPECT_EQ(none.Controller.FormCreate(), "");
}

}  // namespace
