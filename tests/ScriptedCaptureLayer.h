#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"

// What the scripted layer does on each call, shared with the test that wrote the script and
// readable after the capture thread has released the layer.
struct TCaptureScript {
  enum class TStep { None, Startup, Open, Bind, ReceiveAll };

  // One receive: a datagram, a drop report, a failure, or an action run on the capture
  // thread first.
  struct TReceive {
    std::vector<std::uint8_t> Datagram;
    bool Fails = false;
    std::function<void()> Before;
    std::uint64_t Dropped = 0;
  };

  TStep FailingStep = TStep::None;
  TCaptureError Error{99, "no interface holds this address", false};
  std::vector<std::string> HostAddresses{"10.0.0.1"};

  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TReceive> Receives;  // once empty, a receive waits for more or for a wake
  bool Woken = false;
  std::string BoundIp;
  std::uint16_t PortStart = 0, PortEnd = 0;
  int Startups = 0, Opens = 0, Binds = 0, ReceiveAlls = 0, ReceiveCalls = 0, Closes = 0,
      Cleanups = 0, Wakes = 0;
  bool ClosedBeforeCleanup = true;

  void Add(std::vector<std::uint8_t> datagram) {
    std::lock_guard guard(Lock);
    Receives.push_back({std::move(datagram), false, {}});
    Changed.notify_all();
  }
  void AddAction(std::function<void()> before) {
    std::lock_guard guard(Lock);
    Receives.push_back({{}, false, std::move(before)});
    Changed.notify_all();
  }
  void AddDropped(std::uint64_t count) {
    std::lock_guard guard(Lock);
    Receives.push_back({{}, false, {}, count});
    Changed.notify_all();
  }
  void AddFailure(TCaptureError error) {
    std::lock_guard guard(Lock);
    Error = std::move(error);
    Receives.push_back({{}, true, {}});
    Changed.notify_all();
  }
};

class TScriptedCaptureLayer final : public TCaptureLayer {
 public:
  explicit TScriptedCaptureLayer(std::shared_ptr<TCaptureScript> script)
      : FScript(std::move(script)) {}

  bool Startup() override { return Step(FScript->Startups, TCaptureScript::TStep::Startup); }
  bool Open() override { return Step(FScript->Opens, TCaptureScript::TStep::Open); }
  bool Bind(const std::string& ip) override {
    {
      std::lock_guard guard(FScript->Lock);
      FScript->BoundIp = ip;
    }
    return Step(FScript->Binds, TCaptureScript::TStep::Bind);
  }
  bool ReceiveAll(std::uint16_t port_start, std::uint16_t port_end) override {
    {
      std::lock_guard guard(FScript->Lock);
      FScript->PortStart = port_start;
      FScript->PortEnd = port_end;
    }
    return Step(FScript->ReceiveAlls, TCaptureScript::TStep::ReceiveAll);
  }

  // One scripted receive at a time; a wake ends the wait.
  bool Receive(std::vector<TReceived>& batch) override {
    batch.clear();
    TCaptureScript::TReceive next;
    {
      std::unique_lock lock(FScript->Lock);
      ++FScript->ReceiveCalls;
      FScript->Changed.wait(lock, [&] { return FScript->Woken || !FScript->Receives.empty(); });
      if (FScript->Receives.empty()) return true;  // woken
      next = std::move(FScript->Receives.front());
      FScript->Receives.pop_front();
    }
    if (next.Before) next.Before();
    if (next.Fails) return false;
    FCurrent = std::move(next.Datagram);
    batch.push_back({FCurrent, 0, next.Dropped});
    return true;
  }

  // What was scripted when the stop came counts as already captured.
  bool ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    std::unique_lock lock(FScript->Lock);
    if (FCaptured < 0) FCaptured = static_cast<int>(FScript->Receives.size());
    if (FCaptured == 0 || FScript->Receives.empty()) return false;
    --FCaptured;
    TCaptureScript::TReceive next = std::move(FScript->Receives.front());
    FScript->Receives.pop_front();
    if (next.Fails) return false;
    FCurrent = std::move(next.Datagram);
    batch.push_back({FCurrent, 0, next.Dropped});
    return true;
  }

  void Close() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Closes;
  }
  void Cleanup() override {
    std::lock_guard guard(FScript->Lock);
    if (FScript->Closes == 0) FScript->ClosedBeforeCleanup = false;
    ++FScript->Cleanups;
  }
  TCaptureError LastError() override {
    std::lock_guard guard(FScript->Lock);
    return FScript->Error;
  }
  void Wake() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Wakes;
    FScript->Woken = true;
    FScript->Changed.notify_all();
  }
  std::vector<std::string> HostAddresses() override {
    std::lock_guard guard(FScript->Lock);
    return FScript->HostAddresses;
  }

 private:
  bool Step(int& counter, TCaptureScript::TStep step) {
    std::lock_guard guard(FScript->Lock);
    ++counter;
    return FScript->FailingStep != step;
  }

  std::shared_ptr<TCaptureScript> FScript;
  std::vector<std::uint8_t> FCurrent;
  int FCaptured = -1;  // scripted receives still to hand over after the stop
};
