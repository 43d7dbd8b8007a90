#pragma once

// The platform's capture layer, watched: a live test waits until a capture's set-up has passed,
// and so until it captures, instead of guessing how long that takes.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "ui/MainController.h"

struct TSetUps {
  std::mutex Lock;
  std::condition_variable Changed;
  int Passed = 0;

  // Waits until `count` set-ups in all have passed.
  bool Await(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(Lock);
    return Changed.wait_for(lock, timeout, [&] { return Passed >= count; });
  }
};

class TObservedLayer final : public TCaptureLayer {
 public:
  TObservedLayer(std::unique_ptr<TCaptureLayer> layer, std::shared_ptr<TSetUps> set_ups)
      : FLayer(std::move(layer)), FSetUps(std::move(set_ups)) {}

  bool Open(const TCaptureTarget& target) override {
    if (!FLayer->Open(target)) return false;
    {
      std::lock_guard guard(FSetUps->Lock);
      ++FSetUps->Passed;
    }
    FSetUps->Changed.notify_all();
    return true;
  }
  bool Receive(std::vector<TReceived>& batch) override { return FLayer->Receive(batch); }
  THandOver ReceiveCaptured(std::vector<TReceived>& batch) override {
    return FLayer->ReceiveCaptured(batch);
  }
  void Close() override { FLayer->Close(); }
  TCaptureError LastError() override { return FLayer->LastError(); }
  void Stop(std::int64_t unix_microseconds) override { FLayer->Stop(unix_microseconds); }

 private:
  std::unique_ptr<TCaptureLayer> FLayer;
  std::shared_ptr<TSetUps> FSetUps;
};

// The platform's services, each capture's set-up counted in `set_ups`.
inline TCaptureServices ObservedServices(std::shared_ptr<TSetUps> set_ups) {
  TCaptureServices services;
  services.MakeLayer = [set_ups] {
    return std::make_unique<TObservedLayer>(MakePlatformCaptureLayer(), set_ups);
  };
  return services;
}
