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
    std::int64_t UnixMicroseconds = 0;  // the system's time stamp; 0 for none
  };

  std::optional<TCaptureStep> FailingStep;  // a set-up step
  TCaptureError Error{TCaptureStep::Receive, 99, "no interface holds this address", false};

  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TReceive> Receives;  // once empty, a receive waits for more or for a wake
  bool Woken = false;
  TCaptureTarget Target;    // of the last Open
  std::int64_t StopAt = 0;  // the moment the last Stop was given
  // What the hand-over ends with once it has handed over what was scripted.
  THandOver HandOverEnd = THandOver::Complete;
  int Opens = 0, Receiving = 0, ReceiveCalls = 0, Closes = 0, Stops = 0, Destroyed = 0;

  // Reads the script under its lock.
  template <class F>
  auto Read(F&& read) {
    std::lock_guard guard(Lock);
    return read(*this);
  }

  void Add(std::vector<std::uint8_t> datagram, std::int64_t unix_microseconds = 0) {
    std::lock_guard guard(Lock);
    Receives.push_back({std::move(datagram), false, {}, 0, {}, unix_microseconds});
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
    Hand(std::move(next), batch);
    return true;
  }

  // What was scripted when the stop came counts as already captured.
  THandOver ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    std::unique_lock lock(FScript->Lock);
    if (FCaptured < 0) FCaptured = static_cast<int>(FScript->Receives.size());
    if (FCaptured == 0 || FScript->Receives.empty()) return FScript->HandOverEnd;
    --FCaptured;
    TCaptureScript::TReceive next = std::move(FScript->Receives.front());
    FScript->Receives.pop_front();
    if (next.Fails) return THandOver::Complete;
    Hand(std::move(next), batch);
    return THandOver::More;
  }

  void Close() override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Closes;
  }
  TCaptureError LastError() override { return FError; }
  void Stop(std::int64_t unix_microseconds) override {
    std::lock_guard guard(FScript->Lock);
    ++FScript->Stops;
    FScript->StopAt = unix_microseconds;
    FScript->Woken = true;
    FScript->Changed.notify_all();
  }

 private:
  void Hand(TCaptureScript::TReceive next, std::vector<TReceived>& batch) {
    FCurrent = std::move(next.Datagram);
    FNotice = std::move(next.Notice);
    batch.push_back({FCurrent, next.UnixMicroseconds, next.Dropped, FNotice});
  }

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
