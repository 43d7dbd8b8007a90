#include "capture/UnitThreadSniffer.h"

#include <cerrno>
#include <new>
#include <utility>

namespace {

#ifdef _WIN32
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (run Quorvel as an administrator)";
#else
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (root or CAP_NET_RAW, which members of the group "
    "quorvel have)";
#endif

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

void TSnifferControl::Detach() {
  std::lock_guard guard(FLock);  // waits for a hand-over in progress
  FDetached = true;
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
      FControl(std::move(control)) {
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
  FLayer->Prepare({FIp, FPortStart, FPortEnd});
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
  FLayer->Cleanup();
}

void TThreadSniffer::ReceiveLoop() {
  std::vector<TReceived> batch;
  while (!Terminated()) {
    if (!FLayer->Receive(batch)) return Fail(TStep::Receive, FLayer->LastError());
    Hand(batch);
  }
  // What the system captured before the stop still belongs to this capture.
  while (FLayer->ReceiveCaptured(batch))
    Hand(batch);
}

void TThreadSniffer::Hand(const std::vector<TReceived>& batch) {
  FItems.clear();
  if (FReusable.size() < batch.size()) FPile->TakeReleased(FReusable, batch.size());
  try {
    for (const TReceived& received : batch) {
      if (received.Dropped != 0) FItems.push_back({nullptr, received.Dropped});
      if (received.Datagram.empty()) continue;
      // A failed allocation of the record itself ends the capture, after what came before it
      // has been handed over; a failure while it is filled or kept costs only this datagram.
      std::unique_ptr<TTrameTCP>* reuse = FReusable.empty() ? nullptr : &FReusable.back();
      // A released record was last touched on the window's thread: ask for its memory (its
      // first and last bytes: two cache lines) a few records ahead, so that filling it does
      // not wait for another core's cache.
      constexpr std::size_t kAhead = 6;
      if (FReusable.size() > kAhead) {
        const TTrameTCP* next = FReusable[FReusable.size() - 1 - kAhead].get();
        __builtin_prefetch(next, 1);
        __builtin_prefetch(reinterpret_cast<const char*>(next) + sizeof(TTrameTCP) - 1, 1);
        __builtin_prefetch(FReusable[FReusable.size() - 1 - kAhead / 2]->Data.data(), 1);
      }
      std::unique_ptr<TTrameTCP> trame = DecodeDatagram(received.Datagram, FPortStart, FPortEnd,
                                                        received.UnixMicroseconds, reuse);
      if (reuse && !*reuse) FReusable.pop_back();
      if (!trame) continue;
      try {
        FItems.push_back({std::move(trame), 0});
      } catch (const std::bad_alloc&) {
      }
    }
  } catch (...) {
    Deliver();
    throw;
  }
  Deliver();
}

void TThreadSniffer::Deliver() {
  std::lock_guard guard(FControl->FLock);  // against Detach
  if (FControl->FDetached) return;
  std::size_t pushed = 0;
  while (pushed < FItems.size()) {
    try {
      FPile->PushBatch(FItems, pushed);
    } catch (const std::exception&) {
      ++pushed;  // the queue could not take this one; only it is lost
    }
  }
  FItems.clear();
}

void TThreadSniffer::Fail(TStep step, const TCaptureError& error) {
  // What fails while a stop is under way is part of stopping, not news for the user.
  if (Terminated()) return;
  // Quoted, so that an empty or odd address text still reads as one.
  std::string message =
      "Capture on '" + FIp + "' failed at " + StepName(static_cast<int>(step)) + ": " + error.Text;
  if (error.Code != 0) message += " (error " + std::to_string(error.Code) + ")";
  if (error.MissingRights) message += kRightsNeeded;
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
