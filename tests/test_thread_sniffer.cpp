#include <gtest/gtest.h>

#include <thread>

#include "DatagramFixtures.h"
#include "FailingAllocation.h"
#include "ScriptedCaptureLayer.h"
#include "capture/UnitThreadSniffer.h"

namespace {

using namespace std::chrono_literals;
using TStep = TCaptureScript::TStep;

struct TCapture {
  std::shared_ptr<TCaptureScript> Script = std::make_shared<TCaptureScript>();
  std::shared_ptr<TPileTrameTCP> Pile = std::make_shared<TPileTrameTCP>();
  std::shared_ptr<TSnifferControl> Control;

  void Start(std::string ip = "10.9.9.9", std::uint16_t start = 1, std::uint16_t end = 65535) {
    Control = TThreadSniffer::Create(Pile, std::move(ip), start, end,
                                     std::make_unique<TScriptedCaptureLayer>(Script));
  }
  void End() {
    Control->Terminate();
    ASSERT_TRUE(Control->WaitEnded(5s));
  }
  // The queue's entries as text: a payload, or "*N*" for a marker of N drops.
  std::vector<std::string> Payloads() {
    std::vector<std::string> payloads;
    while (TPileItem item = Pile->Pop()) {
      if (item.Trame) {
        payloads.push_back(item.Trame->Data);
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

struct TFailureCase {
  TStep FailingStep;
  int Closes;  // close and clean-up, each
  const char* Failure;
};

TEST(ThreadSniffer, AFailedStepEndsTheCaptureAndIsKept) {
  const TFailureCase cases[] = {
      {TStep::Startup, 0,
       "Capture on '10.9.9.9' failed at start-up: no interface holds this "
       "address (error 99)"},
      {TStep::Open, 1,
       "Capture on '10.9.9.9' failed at open: no interface holds this address "
       "(error 99)"},
      {TStep::Bind, 1,
       "Capture on '10.9.9.9' failed at bind: no interface holds this address "
       "(error 99)"},
      {TStep::ReceiveAll, 1,
       "Capture on '10.9.9.9' failed at receive-all: no interface holds "
       "this address (error 99)"},
  };
  for (const TFailureCase& c : cases) {
    TCapture capture;
    capture.Script->FailingStep = c.FailingStep;
    capture.Start();
    ASSERT_TRUE(capture.Control->WaitEnded(5s));
    EXPECT_EQ(capture.Control->Failure(), c.Failure);
    EXPECT_EQ(capture.Script->Closes, c.Closes);
    EXPECT_EQ(capture.Script->Cleanups, c.Closes);
    EXPECT_EQ(capture.Script->ReceiveCalls, 0);
    EXPECT_TRUE(capture.Script->ClosedBeforeCleanup);
  }
}

TEST(ThreadSniffer, AFailedReceiveEndsTheCapture) {
  TCapture capture;
  capture.Script->Add(Segment("before"));
  capture.Script->AddFailure({1, "Operation not permitted", true});
  capture.Script->Add(Segment("never"));
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  // The platform names the rights it needs after this.
  EXPECT_TRUE(capture.Control->Failure().starts_with(
      "Capture on '10.9.9.9' failed at receive: Operation not permitted (error 1); "
      "capturing needs administrator rights ("))
      << capture.Control->Failure();
  EXPECT_EQ(capture.Payloads(), std::vector<std::string>{"before"});
  EXPECT_EQ(capture.Script->Closes, 1);
  EXPECT_EQ(capture.Script->Cleanups, 1);
}

TEST(ThreadSniffer, AnExceptionFromTheLayerIsKeptAsAFailure) {
  TCapture capture;
  capture.Script->AddAction([] { throw std::runtime_error("device vanished"); });
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Control->Failure(),
            "Capture on '10.9.9.9' failed at receive: device vanished");
  EXPECT_EQ(capture.Script->Closes, 1);
  EXPECT_EQ(capture.Script->Cleanups, 1);
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
  EXPECT_EQ(capture.Script->BoundIp, "10.0.0.1");
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
    EXPECT_EQ(capture.Script->ReceiveCalls, 1);
    EXPECT_TRUE(capture.Control->Failure().empty());
  }
}

TEST(ThreadSniffer, StopWakesAWaitingReceive) {
  TCapture capture;
  capture.Start();
  while (true) {
    std::lock_guard guard(capture.Script->Lock);
    if (capture.Script->ReceiveCalls > 0) break;
  }
  const auto before = std::chrono::steady_clock::now();
  capture.Control->Terminate();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(capture.Script->Wakes, 1);
  EXPECT_EQ(capture.Script->Closes, 1);
  EXPECT_EQ(capture.Script->Cleanups, 1);
  capture.Control->Terminate();  // harmless once ended
}

TEST(ThreadSniffer, AFailedFillOrPushCostsOnlyThatDatagram) {
  TCapture capture;
  std::vector<std::string> expected;
  const std::string payload(3000, 'p');
  for (int i = 0; i < 200; ++i) {
    const std::string text = payload + std::to_string(i % 10);
    if (i == 5) {
      // The payload text of this one cannot be built.
      capture.Script->AddAction([n = text.size()] { FailNextAllocationOfSize(n + 1); });
    } else if (i == 100) {
      // The queue cannot grow for this one: a new block of its deque is due.
      capture.Script->AddAction([] { FailNextAllocationOfSize(512); });
    }
    capture.Script->Add(Segment(text));
    if (i != 5) expected.push_back(text);
  }
  capture.Start();
  while (true) {
    {
      std::lock_guard guard(capture.Script->Lock);
      if (capture.Script->Receives.empty()) break;
    }
    std::this_thread::sleep_for(1ms);
  }
  capture.End();
  std::vector<std::string> got = capture.Payloads();
  EXPECT_TRUE(capture.Control->Failure().empty()) << capture.Control->Failure();
  // The failed push loses one of the records from 100 on; all others arrive in order.
  ASSERT_EQ(got.size(), expected.size() - 1);
  std::size_t lost = 0;
  while (lost < got.size() && got[lost] == expected[lost])
    ++lost;
  EXPECT_GE(lost, 99u);
  expected.erase(expected.begin() + static_cast<long>(lost));
  EXPECT_EQ(got, expected);
}

TEST(ThreadSniffer, AFailedRecordAllocationEndsTheCapture) {
  TCapture capture;
  capture.Script->AddAction([] { FailNextAllocationOfSize(sizeof(TTrameTCP)); });
  capture.Script->Add(Segment("x"));
  capture.Start();
  ASSERT_TRUE(capture.Control->WaitEnded(5s));
  EXPECT_EQ(capture.Control->Failure(),
            "Capture on '10.9.9.9' failed at receive: out of memory (error 12)");
  EXPECT_EQ(capture.Script->Closes, 1);
}

TEST(ThreadSniffer, DropMarkersKeepTheirPlace) {
  TCapture capture;
  capture.Script->Add(Segment("a"));
  capture.Script->AddDropped(7);
  capture.Script->Add(Segment("b"));
  capture.Script->AddDropped(3);
  capture.Start();
  while (capture.Pile->Count() < 4)
    std::this_thread::sleep_for(1ms);
  capture.End();
  EXPECT_EQ(capture.Payloads(), (std::vector<std::string>{"a", "*7*", "b", "*3*"}));
}

TEST(ThreadSniffer, NothingReachesTheQueueOnceDetached) {
  TCapture capture;
  capture.Script->Add(Segment("before"));
  capture.Start();
  while (capture.Pile->Count() < 1)
    std::this_thread::sleep_for(1ms);
  capture.Control->Detach();
  capture.Script->Add(Segment("after"));
  while (true) {
    std::lock_guard guard(capture.Script->Lock);
    if (capture.Script->Receives.empty() && capture.Script->ReceiveCalls >= 3) break;
  }
  capture.End();
  EXPECT_EQ(capture.Payloads(), std::vector<std::string>{"before"});
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
  // The thread lets go of the queue as it releases itself, just after it has ended.
  for (int i = 0; i < 1000 && !pile.expired(); ++i)
    std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(pile.expired());
}

}  // namespace
