#include "capture/UnitThreadSniffer.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

namespace {

constexpr std::size_t kReceiveBuffer = 65536;

const char* StepName(int step) {
  static const char* const kNames[] = {"start-up", "open", "bind", "receive-all", "receive"};
  return kNames[step];
}

}  // namespace

void TSnifferControl::Terminate() {
  std::lock_guard guard(FLock);
  if (FThread) FThread->Terminate();
}

bool TSnifferControl::Receiving() const {
  std::lock_guard guard(FLock);
  return FReceiving && !FEnded;
}

bool TSnifferControl::Ended() const {
  std::lock_guard guard(FLock);
  return FEnded;
}

std::string TSnifferControl::Failure() const {
  std::lock_guard guard(FLock);
  return FFailure;
}

bool TSnifferControl::WaitEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  return FEndedSignal.wait_for(lock, timeout, [this] { return FEnded; });
}

std::shared_ptr<TSnifferControl> TThreadSniffer::Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                        std::string FIp, std::uint16_t FPortStart,
                                                        std::uint16_t FPortEnd) {
  return Create(std::move(FPile), std::move(FIp), FPortStart, FPortEnd,
                MakePlatformCaptureLayer());
}

std::shared_ptr<TSnifferControl> TThreadSniffer::Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                        std::string FIp, std::uint16_t FPortStart,
                                                        std::uint16_t FPortEnd,
                                                        std::unique_ptr<TCaptureLayer> FLayer) {
  if (!FLayer) FLayer = MakePlatformCaptureLayer();
  auto control = std::make_shared<TSnifferControl>();
  // The thread owns itself from here on; the control is all the caller keeps.
  new TThreadSniffer(std::move(FPile), std::move(FIp), FPortStart, FPortEnd, std::move(FLayer),
                     control);
  return control;
}

TThreadSniffer::TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip,
                               std::uint16_t port_start, std::uint16_t port_end,
                               std::unique_ptr<TCaptureLayer> layer,
                               std::shared_ptr<TSnifferControl> control)
    : FIp(std::move(ip)),
      FPortStart(port_start),
      FPortEnd(port_end),
      FPile(std::move(pile)),
      FLayer(std::move(layer)),
      FControl(std::move(control)),
      FBuffer(kReceiveBuffer) {
  {
    std::lock_guard guard(FControl->FLock);
    FControl->FThread = this;
  }
  FreeOnTerminate = true;
  try {
    Resume();
  } catch (...) {
    std::lock_guard guard(FControl->FLock);
    FControl->FThread = nullptr;
    FControl->FEnded = true;
    throw;
  }
}

void TThreadSniffer::Execute() {
  TStep step = TStep::Startup;
  if (!FLayer->Startup()) return Fail(step, FLayer->LastError());
  try {
    if (step = TStep::Open; !FLayer->Open()) {
      Fail(step, FLayer->LastError());
    } else if (step = TStep::Bind; !FLayer->Bind(FIp)) {
      Fail(step, FLayer->LastError());
    } else if (step = TStep::ReceiveAll; !FLayer->ReceiveAll(FPortStart, FPortEnd)) {
      Fail(step, FLayer->LastError());
    } else {
      step = TStep::Receive;
      {
        std::lock_guard guard(FControl->FLock);
        FControl->FReceiving = true;
      }
      ReceiveLoop();
    }
  } catch (const std::bad_alloc&) {
    Fail(step, {ENOMEM, "out of memory"});
  } catch (const std::exception& e) {
    Fail(step, {0, e.what()});
  }
  FLayer->Close();
  FControl->FDropped.store(FLayer->Dropped(), std::memory_order_relaxed);
  FLayer->Cleanup();
}

void TThreadSniffer::ReceiveLoop() {
  while (!Terminated()) {
    const int received = FLayer->Receive(FBuffer);
    if (received < 0) return Fail(TStep::Receive, FLayer->LastError());
    const auto size = std::min(static_cast<std::size_t>(received), FBuffer.size());
    std::unique_ptr<TTrameTCP> trame =
        DecodeDatagram(std::span(FBuffer.data(), size), FPortStart, FPortEnd);
    if (trame) {
      try {
        FPile->Push(std::move(trame));
      } catch (const std::exception&) {
        // Only this datagram is lost; the record went with the exception.
      }
    }
    FControl->FDropped.store(FLayer->Dropped(), std::memory_order_relaxed);
  }
}

void TThreadSniffer::Fail(TStep step, const TCaptureError& error) {
  // What fails while a stop is under way is part of stopping, not news for the user.
  if (step == TStep::Receive && Terminated()) return;
  std::string message =
      "Capture on " + FIp + " failed at " + StepName(static_cast<int>(step)) + ": " + error.Text;
  if (error.Code != 0) message += " (error " + std::to_string(error.Code) + ")";
  if (error.MissingRights)
    message += "; capturing needs administrator rights (root or CAP_NET_RAW)";
  std::lock_guard guard(FControl->FLock);
  FControl->FFailure = std::move(message);
}

void TThreadSniffer::TerminatedSet() {
  FLayer->Wake();
}

void TThreadSniffer::DoTerminate() {
  {
    std::lock_guard guard(FControl->FLock);
    FControl->FThread = nullptr;
    FControl->FEnded = true;
  }
  FControl->FEndedSignal.notify_all();
}
