#include "capture/UnitThreadSniffer.h"

#include <cerrno>
#include <new>
#include <utility>

#include "core/DecodeDatagram.h"

namespace {

#ifdef _WIN32
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (run Quorvel as an administrator)";
#else
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (root or CAP_NET_RAW, which members of the "
    "group " QUORVEL_CAPTURE_GROUP " have)";
#endif

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
  return FChanged.wait_for(lock, timeout, [this] { return FEnded; });
}

bool TSnifferControl::WaitReceiving(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  FChanged.wait_for(lock, timeout, [this] { return FReceiving || FEnded; });
  return FReceiving && !FEnded;
}

void TSnifferControl::Detach() {
  std::lock_guard guard(FLock);  // waits for a push in progress
  FDetached = true;
}

std::shared_ptr<TSnifferControl> TThreadSniffer::Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                        std::string FIp, std::uint16_t FPortStart,
                                                        std::uint16_t FPortEnd,
                                                        std::unique_ptr<TCaptureLayer> layer,
                                                        std::shared_ptr<TTramePool> pool) {
  if (!layer) layer = MakePlatformCaptureLayer();
  auto control = std::make_shared<TSnifferControl>();
  // The thread owns itself from here on; the control is all the caller keeps.
  new TThreadSniffer(std::move(FPile), std::move(FIp), FPortStart, FPortEnd, std::move(layer),
                     std::move(pool), control);
  return control;
}

TThreadSniffer::TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip,
                               std::uint16_t port_start, std::uint16_t port_end,
                               std::unique_ptr<TCaptureLayer> layer,
                               std::shared_ptr<TTramePool> pool,
                               std::shared_ptr<TSnifferControl> control)
    : FIp(std::move(ip)),
      FPortStart(port_start),
      FPortEnd(port_end),
      FPile(std::move(pile)),
      FLayer(std::move(layer)),
      FPool(std::move(pool)),
      FControl(std::move(control)) {
  {
    std::lock_guard guard(FControl->FLock);
    FControl->FThread = this;
  }
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
  // What a layer raises is a failure of the step it was in, like any other: the window shows
  // it, whatever step it came from.
  TCaptureStep step = TCaptureStep::Open;
  try {
    if (!FLayer->Open({FIp, FPortStart, FPortEnd})) {
      Fail(FLayer->LastError());
    } else {
      step = TCaptureStep::Receive;
      {
        std::lock_guard guard(FControl->FLock);
        FControl->FReceiving = true;
      }
      FControl->FChanged.notify_all();
      ReceiveLoop();
    }
  } catch (const std::bad_alloc&) {
    Fail({step, ENOMEM, "out of memory"});
  } catch (const std::exception& error) {
    Fail({step, 0, error.what()});
  } catch (...) {
    Fail({step, 0, ""});
  }
  FLayer->Close();
}

void TThreadSniffer::ReceiveLoop() {
  std::vector<TReceived> batch;
  const auto hand = [&] {
    try {
      DecodeBatch(batch);
    } catch (...) {
      PushDecoded();  // what came before the failure still belongs to the capture
      throw;
    }
    PushDecoded();
  };
  while (!Terminated()) {
    if (!FLayer->Receive(batch)) return Fail(FLayer->LastError());
    hand();
  }
  // What the system captured before the stop still belongs to this capture.
  while (FLayer->ReceiveCaptured(batch))
    hand();
}

void TThreadSniffer::DecodeBatch(const std::vector<TReceived>& batch) {
  FDecoded.clear();
  if (FPool && FBlank.size() < batch.size()) FPool->Take(FBlank, batch.size() - FBlank.size());
  for (const TReceived& received : batch) {
    if (received.Dropped != 0 || !received.Notice.empty()) [[unlikely]] {
      if (!received.Notice.empty())
        FDecoded.push_back({nullptr, 0, std::make_unique<std::string>(received.Notice)});
      if (received.Dropped != 0) FDecoded.push_back({nullptr, received.Dropped});
    }
    if (received.Datagram.empty()) continue;
    // A failed allocation of the record itself ends the capture; a failure while it is filled
    // or kept costs only this datagram.
    if (FBlank.empty()) FBlank.push_back(std::make_unique<TTrameTCP>());
    // A released record was last touched on the window's thread: ask for its memory (its
    // first and last bytes: two cache lines) a few records ahead, so that filling it does
    // not wait for another core's cache.
    constexpr std::size_t kAhead = 6;
    if (FBlank.size() > kAhead) {
      const TTrameTCP* next = FBlank[FBlank.size() - 1 - kAhead].get();
      __builtin_prefetch(next, 1);
      __builtin_prefetch(reinterpret_cast<const char*>(next) + sizeof(TTrameTCP) - 1, 1);
      __builtin_prefetch(FBlank[FBlank.size() - 1 - kAhead / 2]->Data.data(), 1);
    }
    if (!DecodeDatagram(received.Datagram, FPortStart, FPortEnd, received.UnixMicroseconds,
                        *FBlank.back()))
      continue;
    TPileItem decoded{std::move(FBlank.back()), 0};
    FBlank.pop_back();
    try {
      FDecoded.push_back(std::move(decoded));
    } catch (const std::bad_alloc&) {
    }
  }
}

void TThreadSniffer::PushDecoded() {
  std::lock_guard guard(FControl->FLock);  // against Detach
  if (FControl->FDetached) return FDecoded.clear();
  std::size_t pushed = 0;
  while (pushed < FDecoded.size()) {
    try {
      FPile->PushBatch(FDecoded, pushed);
    } catch (const std::exception&) {
      ++pushed;  // the queue could not take this one; only it is lost
    }
  }
  FDecoded.clear();
}

void TThreadSniffer::Fail(const TCaptureError& error) {
  // What fails while a stop is under way is part of stopping, not news for the user.
  if (Terminated()) return;
  // Quoted, so that an empty or odd address text still reads as one.
  std::string message = "Capture on '" + FIp + "' failed at " + std::string(StepName(error.Step)) +
                        ": " + (error.Text.empty() ? "unknown failure" : error.Text);
  if (error.Code != 0) message += " (error " + std::to_string(error.Code) + ")";
  if (error.MissingRights) message += kRightsNeeded;
  std::lock_guard guard(FControl->FLock);
  FControl->FFailure = std::move(message);
}

void TThreadSniffer::TerminatedSet() {
  FLayer->Stop();
}

void TThreadSniffer::DoTerminate() {
  {
    std::lock_guard guard(FControl->FLock);
    FControl->FThread = nullptr;
    FControl->FEnded = true;
  }
  FControl->FChanged.notify_all();
}
