#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <thread>

#include "capture/UnitThreadSniffer.h"
#include "testsupport/DatagramFixtures.h"
#include "testsupport/FailingAllocation.h"
#include "testsupport/ScriptedCaptureLayer.h"

namespace {

using namespace std::chrono_literals;
struct TCapture {
  std::shared_ptr<TCaptureScript> Script = std::make_shared<TCaptureScript>();
  std::shared_ptr<TPileTrameTCP> Pile = std::make_shared<TPileTrameTCP>();
  std::unique_ptr<TThreadSniffer> Control;

  void Start(std::string ip = "10.9.9.9", std::uint16_t start = 1, std::uint16_t end = 65535,
             std::shared_ptr<TTramePool> pool = nullptr) {
    Control = TThreadSniffer::Create(Pile, std::move(ip), start, end,
                                     std::make_unique<TScriptedCaptureLayer>(Script), pool);
  }
  int Closes() {
    return Script->Read([](TCaptureScript& s) { return s.Closes; });
  }
  // Waits until the capture has taken every scripted receive.
  void AwaitScriptTaken() {
    while (!Script->Read([](TCaptureScript& s) { return s.Receives.empty(); }))
      std::this_thread::sleep_for(1ms);
  }
  void End() {
    Control->Terminate();
    ASSERT_TRUE(Control->WaitEnded(5s));
  }
  // The queue's entries as text: a payload, "*N*" for a marker of N drops, "[TEXT]" for a
  // notice.
  std::vector<std::string> Payloads() {
    std::vector<std::string> payloads;
    while (TPileItem item = Pile->Pop()) {
      if (item.Trame) {
        payloads.push_back(item.Trame->Data);
      } else if (item.Notice) {
        payloads.push_back("[" + *item.Notice + "]");
      } else {
        payloads.emplace_back("*");
        payloads.back() += std::to_string(item.Dropped) + '*';
      }
    }
    return payloads;
  }
};

std::vector<std::uint8_t> Segment(const std::string& payload, std::uint16_t port = 80) {
  TDatagramShape shape = WithPayload(payload);
  shape.DestPort = port;
  return BuildDatagram(shape);
}

// A failed step ends the capture, named in its failure; the layer is closed once whatever
// step failed, and nothing is received.
TEST(ThreadSniffer, AFailedStepEndsTheCaptureAndIsKept) {
  const std::pair<TCaptureStep, const char*> cases[] = {
      {TCaptureStep::Startup, "start-up"},
      {TCaptureStep::Open, "open"},
      {TCaptureStep::Bind, "bind"},
      {TCaptureStep::ReceiveAll, "receive-all"},
  };
  for (const auto& [step, name] : cases) {
    TCapture capture;
    capture.Script->FailingStep = step;
    capture.Start();
    ASSERT_TRUE(capture.Control->WaitEnded(5s));
    EXPECT_EQ(capture.Control->Failure(), std::string("Capture on '10.9.9.9' failed at ") + name +
                                              ": no interface holds this address (error 99)");
    EXPECT_EQ(capture.Closes(), 1);
    EXPECT_EQ(capture.Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }), 0);
  }
}

TEST(ThreadSniffer, AFailedReceiveEndsTheCapture) {
  TCapture capture;
  capture.Script->Add(Segment("before"));
  capture.Script->AddFailure({TCaptureStep::Receive, 1, "Operation not permitted", true});
  capture.Script->Add(Segment("never"));
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  // The platform names the rights it needs after this.
  EXPECT_TRUE(capture.Control->Failure().starts_with(
      "Capture on '10.9.9.9' failed at receive: Operation not permitted (error 1); "
      "capturing needs administrator rights ("))
      << capture.Control->Failure();
  EXPECT_EQ(capture.Payloads(), std::vector<std::string>{"before"});
  EXPECT_EQ(capture.Closes(), 1);
}

// Whatever a layer raises, in its set-up or while it receives, is a failure the window can
// show: it has a text.
TEST(ThreadSniffer, AnExceptionFromTheLayerIsKeptAsAFailure) {
  struct TThrowingLayer final : TCaptureLayer {
    bool Open(const TCaptureTarget&) override { throw std::runtime_error(""); }
    bool Receive(std::vector<TReceived>&) override { return false; }
    THandOver ReceiveCaptured(std::vector<TReceived>&) override { return THandOver::Complete; }
    void Close() override {}
    TCaptureError LastError() override { return {}; }
    void Stop(std::int64_t) override {}
  };
  const auto pile = std::make_shared<TPileTrameTCP>();
  const auto set_up =
      TThreadSniffer::Create(pile, "10.9.9.9", 1, 65535, std::make_unique<TThrowingLayer>());
  ASSERT_TRUE(set_up->WaitEnded(5s));
  EXPECT_EQ(set_up->Failure(), "Capture on '10.9.9.9' failed at open: unknown failure");

  TCapture capture;
  capture.Script->AddAction([] { throw std::runtime_error("device vanished"); });
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Control->Failure(),
            "Capture on '10.9.9.9' failed at receive: device vanished");
  EXPECT_EQ(capture.Closes(), 1);
}

TEST(ThreadSniffer, RecordsArePushedInArrivalOrder) {
  TCapture capture;
  std::vector<std::string> sent;
  for (int i = 0; i < 500; ++i) {
    sent.push_back("segment " + std::to_string(i));
    capture.Script->Add(Segment(sent.back(), i % 2 ? 80 : 443));
    if (i % 50 == 0)
      capture.Script->Add(BuildDatagram([] {
        TDatagramShape udp;
        udp.Protocol = 17;
        return udp;
      }()));
  }
  capture.Start("10.0.0.1", 80, 443);
  while (capture.Pile->Count() < 500)
    std::this_thread::sleep_for(1ms);
  capture.End();
  EXPECT_EQ(capture.Payloads(), sent);
  const TCaptureTarget target = capture.Script->Read([](TCaptureScript& s) { return s.Target; });
  EXPECT_EQ(target.Ip, "10.0.0.1");
  EXPECT_EQ(target.PortStart, 80);
  EXPECT_EQ(target.PortEnd, 443);
  EXPECT_TRUE(capture.Control->Failure().empty());
}

// What the system captured before the stop is handed over, whether the stop came while a
// receive waited or while it held a datagram; nothing is received after that.
TEST(ThreadSniffer, AStopHandsOverWhatWasAlreadyCaptured) {
  for (const bool datagram_in_hand : {false, true}) {
    TCapture capture;
    capture.Start();
    {
      std::lock_guard guard(capture.Script->Lock);
      capture.Script->Receives.push_back(
          {datagram_in_hand ? Segment("in hand") : std::vector<std::uint8_t>{}, false,
           [&capture] { capture.Control->Terminate(); }});
      capture.Script->Receives.push_back({Segment("already captured"), false, {}});
      capture.Script->Changed.notify_all();
    }
    ASSERT_TRUE(capture.Control->WaitEnded(5s));
    std::vector<std::string> expected{"already captured"};
    if (datagram_in_hand) expected.insert(expected.begin(), "in hand");
    EXPECT_EQ(capture.Payloads(), expected);
    EXPECT_EQ(capture.Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }), 1);
    EXPECT_TRUE(capture.Control->Failure().empty());
  }
}

// The capture thread cuts the capture at the stop's moment, which it gives the layer: a
// datagram the system stamped then or later, and all after it, are not part of it. A layer's
// hand-over cut short before that is said at its end.
TEST(ThreadSniffer, TheStopsMomentCutsTheCapture) {
  const std::string cut = std::string("[") + kHandOverCut + "]";
  const struct {
    THandOver End;
    bool Late;  // a datagram stamped after the stop comes
    std::vector<std::string> Expected;
  } cases[] = {
      {THandOver::CutShort, true, {"before", "unstamped"}},  // the cut makes it whole
      {THandOver::Complete, false, {"before", "unstamped", "last"}},
      {THandOver::CutShort, false, {"before", "unstamped", "last", cut}},
  };
  for (const auto& c : cases) {
    TCapture capture;
    capture.Script->HandOverEnd = c.End;
    capture.Start();
    const std::int64_t before = StopMomentNow();
    {
      std::lock_guard guard(capture.Script->Lock);
      auto& receives = capture.Script->Receives;
      receives.push_back({{}, false, [&capture] { capture.Control->Terminate(); }});
      receives.push_back({Segment("before"), false, {}, 0, {}, before - 1});
      receives.push_back({Segment("unstamped"), false, {}});
      if (c.Late)
        receives.push_back({Segment("late"), false, {}, 0, {}, StopMomentNow() + 1'000'000});
      receives.push_back({Segment("last"), false, {}});
      capture.Script->Changed.notify_all();
    }
    ASSERT_TRUE(capture.Control->WaitEnded(5s));
    const std::int64_t stop_at = capture.Script->Read([](TCaptureScript& s) { return s.StopAt; });
    EXPECT_GE(stop_at, before);
    EXPECT_EQ(capture.Payloads(), c.Expected) << static_cast<int>(c.End) << c.Late;
  }
}

TEST(ThreadSniffer, StopWakesAWaitingReceive) {
  TCapture capture;
  capture.Start();
  while (capture.Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }) == 0)
    std::this_thread::sleep_for(1ms);
  capture.Control->Terminate();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Script->Read([](TCaptureScript& s) { return s.Stops; }), 1);
  EXPECT_EQ(capture.Closes(), 1);
  capture.Control->Terminate();  // harmless once ended
}

TEST(ThreadSniffer, AFailedFillOrPushIsCountedAtItsPlace) {
  TCapture capture;
  std::vector<std::string> expected;
  const std::string payload(3000, 'p');
  // What this C++ library allocates for a payload's text, and for each new block of a queue
  // that grows.
  const std::string first = payload + "0";
  const std::size_t text_size =
      AllocationSizesDuring([&] { std::string().assign(first.data(), first.size()); }).back();
  const std::vector<std::size_t> growth = AllocationSizesDuring([] {
    std::deque<TPileItem> items;
    for (int i = 0; i < 2000; ++i)
      items.emplace_back();
  });
  const std::size_t block_size = growth.back();
  ASSERT_GT(std::count(growth.begin(), growth.end(), block_size), 4);
  for (int i = 0; i < 200; ++i) {
    const std::string text = payload + std::to_string(i % 10);
    if (i == 5) {
      // The payload text of this one cannot be built.
      capture.Script->AddAction([text_size] { FailNextAllocationOfSize(text_size); });
    } else if (i == 100) {
      // The queue cannot grow for the first one that needs a new block from here on.
      capture.Script->AddAction([block_size] { FailNextAllocationOfSize(block_size); });
    }
    capture.Script->Add(Segment(text));
    expected.push_back(i == 5 ? "*1*" : text);
  }
  capture.Start();
  capture.AwaitScriptTaken();
  capture.End();
  std::vector<std::string> got = capture.Payloads();
  EXPECT_TRUE(capture.Control->Failure().empty()) << capture.Control->Failure();
  // The failed push loses one of the records from 100 on, counted where it stood; all others
  // arrive in order.
  ASSERT_EQ(got.size(), expected.size());
  std::size_t lost = 0;
  while (lost < got.size() && got[lost] == expected[lost])
    ++lost;
  ASSERT_GE(lost, 100u);
  ASSERT_LT(lost, got.size());
  expected[lost] = "*1*";
  EXPECT_EQ(got, expected);
}

// Every failure has a text, also when there is no memory left to put it together.
TEST(ThreadSniffer, AFailureWithoutMemoryForItsTextStillHasOne) {
  TCapture capture;
  const std::runtime_error vanished(std::string(5000, 'v'));  // copied without allocating
  capture.Script->AddAction([vanished] {
    FailAllocationsOfAtLeast(4096);
    throw vanished;
  });
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Control->Failure(), "Capture failed, and no memory was left to tell why");
  EXPECT_EQ(capture.Closes(), 1);
}

TEST(ThreadSniffer, AFailedRecordAllocationEndsTheCapture) {
  TCapture capture;
  capture.Script->AddAction([] { FailNextAllocationOfSize(sizeof(TTrameTCP)); });
  capture.Script->Add(Segment("x"));
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Control->Failure(),
            "Capture on '10.9.9.9' failed at receive: out of memory (error 12)");
  EXPECT_EQ(capture.Closes(), 1);
}

// Drop markers and notices stand where the layer reported them; drops on either side of a
// notice are counted apart.
TEST(ThreadSniffer, DropMarkersAndNoticesKeepTheirPlace) {
  TCapture capture;
  capture.Script->AddNotice("IPv6 is not captured on this interface: it has no IPv6 address");
  capture.Script->Add(Segment("a"));
  capture.Script->AddDropped(7);
  capture.Script->Add(Segment("b"));
  capture.Script->AddDropped(3);
  capture.Script->AddNotice("n");
  capture.Script->AddDropped(4);
  capture.Start();
  while (capture.Pile->Count() < 7)
    std::this_thread::sleep_for(1ms);
  capture.End();
  EXPECT_EQ(
      capture.Payloads(),
      (std::vector<std::string>{"[IPv6 is not captured on this interface: it has no IPv6 address]",
                                "a", "*7*", "b", "*3*", "[n]", "*4*"}));
}

TEST(ThreadSniffer, NothingReachesTheQueueOnceLetGo) {
  TCapture capture;
  capture.Script->Add(Segment("before"));
  capture.Start();
  while (capture.Pile->Count() < 1)
    std::this_thread::sleep_for(1ms);
  capture.Control->LetGo();
  capture.Script->Add(Segment("after"));
  while (capture.Script->Read([](TCaptureScript& s) { return s.ReceiveCalls; }) < 3)
    std::this_thread::sleep_for(1ms);
  capture.End();
  EXPECT_EQ(capture.Payloads(), std::vector<std::string>{"before"});
}

// Terminate tells the layer of the stop (its Stop, which records the stop's moment) before the
// capture thread can see the request: the hand-over never begins on a layer not yet stopped.
TEST(ThreadSniffer, TheStopIsToldBeforeItIsSeen) {
  struct TSpinningLayer final : TCaptureLayer {
    bool Open(const TCaptureTarget&) override { return true; }
    bool Receive(std::vector<TReceived>& batch) override {
      batch.clear();
      return true;
    }
    THandOver ReceiveCaptured(std::vector<TReceived>&) override {
      if (!FHandOver.exchange(true)) FStoppedFirst = FStopped.load();
      return THandOver::Complete;
    }
    void Close() override {}
    TCaptureError LastError() override { return {}; }
    void Stop(std::int64_t) override {
      std::this_thread::sleep_for(1ms);  // widens the window a wrong order would leave open
      FStopped = true;
    }
    std::atomic<bool> FStopped{false}, FHandOver{false}, FStoppedFirst{false};
  };
  for (int i = 0; i < 20; ++i) {
    auto layer = std::make_unique<TSpinningLayer>();
    TSpinningLayer& seen = *layer;
    auto capture = TThreadSniffer::Create(std::make_shared<TPileTrameTCP>(), "10.9.9.9", 1, 65535,
                                          std::move(layer));
    ASSERT_TRUE(capture->WaitReceiving(5s));
    capture->Terminate();
    ASSERT_TRUE(capture->WaitEnded(5s));
    EXPECT_TRUE(seen.FStoppedFirst) << "the request was seen before the stop was told";
  }
}

TEST(ThreadSniffer, TheQueueOutlivesItsOwner) {
  TCapture capture;
  capture.Start();
  std::weak_ptr<TPileTrameTCP> pile = capture.Pile;
  capture.Pile.reset();  // the window is gone; the capture still holds the queue
  EXPECT_FALSE(pile.expired());
  capture.Script->Add(Segment("late"));
  while (pile.lock()->Count() < 1)
    std::this_thread::sleep_for(1ms);
  capture.End();
  capture.Control.reset();  // joins the thread, which lets go of the queue
  EXPECT_TRUE(pile.expired());
}

}  // namespace
