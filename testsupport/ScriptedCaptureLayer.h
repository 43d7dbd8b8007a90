#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"

// What the scripted layer does on each call, shared with the test that wrote the script and
// readable after the capture thread has released the layer. Read its counters under its lock.
struct TCaptureScript {
  // One receive: a datagram, a drop report, a notice, a failure, or an action run on the
  // capture thread first.
  struct TReceive {
    std::vector<std::uint8_t> Datagram;
    bool Fails = false;
    std::function<void()> Before;
    std::uint64_t Dropped = 0;
    std::string Notice = {};
  };

  std::optional<TCaptureStep> FailingStep;  // a set-up step
  TCaptureError Error{TCaptureStep::Receive, 99, "no interface holds this address", false};

  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TReceive> Receives;  // once empty, a receive waits for more or for a wake
  bool Woken = false;
  TCaptureTarget Target;  // of the last Open
  int Opens = 0, Receiving = 0, ReceiveCalls = 0, Closes = 0, Stops = 0, Destroyed = 0;

  // Reads the script under its lock.
  template <class F>
  auto Read(F&& read) {
    std::lock_guard guard(Lock);
    return read(*this);
  }

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
  void AddNotice(std::string notice) {
    std::lock_guard guard(Lock);
    Receives.push_back({{}, false, {}, 0, std::move(notice)});
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
  ~TScriptedCaptureLayer() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Destroyed;
  }

  bool Open(const TCaptureTarget& target) override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Opens;
    FScript->Target = target;
    if (FScript->FailingStep) {
      FError = FScript->Error;
      FError.Step = *FScript->FailingStep;
      return false;
    }
    ++FScript->Receiving;
    return true;
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
    if (next.Fails) return Failed();
    FCurrent = std::move(next.Datagram);
    FNotice = std::move(next.Notice);
    batch.push_back({FCurrent, 0, next.Dropped, FNotice});
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
    FNotice = std::move(next.Notice);
    batch.push_back({FCurrent, 0, next.Dropped, FNotice});
    return true;
  }

  void Close() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Closes;
  }
  TCaptureError LastError() override { return FError; }
  void Stop() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Stops;
    FScript->Woken = true;
    FScript->Changed.notify_all();
  }

 private:
  bool Failed() {
    std::lock_guard guard(FScript->Lock);
    FError = FScript->Error;
    FError.Step = TCaptureStep::Receive;
    return false;
  }

  std::shared_ptr<TCaptureScript> FScript;
  TCaptureError FError;
  std::vector<std::uint8_t> FCurrent;
  std::string FNotice;
  int FCaptured = -1;  // scripted receives still to hand over after the stop
};
