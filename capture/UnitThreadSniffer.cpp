#include "capture/UnitThreadSniffer.h"

#include <cerrno>
#include <new>
#include <utility>

#include "core/DecodeDatagram.h"
#include "core/StopLimits.h"

namespace {

#ifdef _WIN32
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (run Quorvel as an administrator)";
#else
constexpr const char* kRightsNeeded =
    "; capturing needs administrator rights (root or CAP_NET_RAW, which members of the "
    "group " QUORVEL_CAPTURE_GROUP " have)";
#endif

// When not even the failure's text can be put together.
constexpr const char* kFailureUntold = "Capture failed, and no memory was left to tell why";

}  // namespace

std::unique_ptr<TThreadSniffer> TThreadSniffer::Create(std::shared_ptr<TPileTrameTCP> FPile,
                                                       std::string FIp, std::uint16_t FPortStart,
                                                       std::uint16_t FPortEnd,
                                                       std::unique_ptr<TCaptureLayer> layer,
                                                       std::shared_ptr<TTramePool> pool) {
  if (!layer) layer = MakePlatformCaptureLayer();
  return std::unique_ptr<TThreadSniffer>(new TThreadSniffer(
      std::move(FPile), std::move(FIp), FPortStart, FPortEnd, std::move(layer), std::move(pool)));
}

TThreadSniffer::TThreadSniffer(std::shared_ptr<TPileTrameTCP> pile, std::string ip,
                               std::uint16_t port_start, std::uint16_t port_end,
                               std::unique_ptr<TCaptureLayer> layer,
                               std::shared_ptr<TTramePool> pool)
    : FIp(std::move(ip)),
      FPortStart(port_start),
      FPortEnd(port_end),
      FPile(std::move(pile)),
      FLayer(std::move(layer)),
      FPool(std::move(pool)) {
  FThread.Start([this] { Run(); });
}

// Once stopped, every layer ends its hand-over within its bound: the wait is bounded too.
TThreadSniffer::~TThreadSniffer() {
  Terminate();
  FThread.Join();
}

// The stop's moment is kept and the layer told of it before the capture thread can see the
// stop: the first batch after the stop is then already cut at the click.
void TThreadSniffer::Terminate() {
  std::int64_t unset = 0;
  FStopAt.compare_exchange_strong(unset, StopMomentNow());
  FLayer->Stop(FStopAt.load());
  FTerminated.store(true, std::memory_order_release);
}

bool TThreadSniffer::Ended() const {
  std::lock_guard guard(FLock);
  return FEnded;
}

std::string TThreadSniffer::Failure() const {
  std::lock_guard guard(FLock);
  if (FFailure.empty() && FFixedFailure) return FFixedFailure;
  return FFailure;
}

bool TThreadSniffer::WaitEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, timeout, [this] { return FEnded; });
}

bool TThreadSniffer::WaitReceiving(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  FChanged.wait_for(lock, timeout, [this] { return FReceiving || FEnded; });
  return FReceiving && !FEnded;
}

void TThreadSniffer::LetGo() {
  std::lock_guard guard(FLock);  // waits for a push in progress
  FLetGo = true;
}

void TThreadSniffer::Run() noexcept {
  try {
    Execute();
  } catch (...) {
    // Execute keeps what it wants known; nothing else can be told of it.
  }
  {
    std::lock_guard guard(FLock);
    FEnded = true;
  }
  FChanged.notify_all();
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
        std::lock_guard guard(FLock);
        FReceiving = true;
      }
      FChanged.notify_all();
      ReceiveLoop();
    }
  } catch (const std::bad_alloc&) {
    Fail(step, ENOMEM, "out of memory");
  } catch (const std::exception& error) {
    Fail(step, 0, error.what());
  } catch (...) {
    Fail(step, 0, "");
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
  // What the system captured before the stop still belongs to this capture, up to the stop's
  // moment: once a datagram of that moment or later has come, the hand-over is whole.
  THandOver handed = THandOver::More;
  while (!FCutReached && handed == THandOver::More) {
    handed = FLayer->ReceiveCaptured(batch);
    hand();
  }
  if (handed == THandOver::CutShort && !FCutReached) {
    batch.assign(1, {{}, 0, 0, kHandOverCut});
    hand();
  }
}

void TThreadSniffer::Keep(TPileItem item) {
  try {
    if (FLost != 0) {
      FDecoded.push_back({nullptr, FLost});
      FLost = 0;
    }
    FDecoded.push_back(std::move(item));  // left whole when it throws
  } catch (const std::bad_alloc&) {
    if (item.Notice) throw;  // not a datagram: the capture ends for want of memory, as it says
    FLost += DatagramsIn(item);
  }
}

std::uint64_t TThreadSniffer::DatagramsIn(const TPileItem& item) {
  if (item.Trame) return 1;
  return item.Notice ? 0 : item.Dropped;
}

void TThreadSniffer::DecodeBatch(const std::vector<TReceived>& batch) {
  FDecoded.clear();
  if (FPool && FBlank.size() < batch.size()) FPool->Take(FBlank, batch.size() - FBlank.size());
  const std::int64_t stop_at = FStopAt.load();
  for (const TReceived& received : batch) {
    // The system's time stamp tells which side of the stop a datagram lies; one the layer
    // could not stamp was captured before the stop, or the layer would not hand it over.
    if (stop_at != 0 && !received.Datagram.empty() && received.UnixMicroseconds >= stop_at)
      FCutReached = true;
    if (FCutReached) [[unlikely]]
      return;
    if (received.Dropped != 0 || !received.Notice.empty()) [[unlikely]] {
      if (!received.Notice.empty())
        Keep({nullptr, 0, std::make_unique<std::string>(received.Notice)});
      FLost += received.Dropped;
    }
    if (received.Datagram.empty()) continue;
    // A failed allocation of the record itself ends the capture; a failure while it is filled
    // or kept costs only this datagram, counted in a drop marker at its place.
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
    switch (DecodeDatagram(received.Datagram, FPortStart, FPortEnd, received.UnixMicroseconds,
                           *FBlank.back())) {
      case TDecodeResult::NotRetained:
        continue;
      case TDecodeResult::Unfilled:
        ++FLost;
        continue;
      case TDecodeResult::Filled:
        break;
    }
    TPileItem decoded{std::move(FBlank.back()), 0};
    FBlank.pop_back();
    Keep(std::move(decoded));
  }
}

void TThreadSniffer::PushDecoded() {
  std::lock_guard guard(FLock);  // against LetGo
  if (FLetGo) {
    FLost = 0;
    return FDecoded.clear();
  }
  // What the queue could not take is lost, counted in a drop marker pushed before the entry
  // after it; when the marker cannot be pushed either, that entry is counted in it too, and
  // the marker waits for the next push.
  std::size_t pushed = 0;
  std::uint64_t lost = 0;  // before FDecoded[pushed]
  for (;;) {
    try {
      if (lost != 0) {
        FPile->PushDropped(lost);
        lost = 0;
      }
      FPile->PushBatch(FDecoded, pushed);
      break;
    } catch (const std::exception&) {
      if (pushed == FDecoded.size()) break;
      lost += DatagramsIn(FDecoded[pushed++]);
    }
  }
  FDecoded.clear();
  // Losses after the last entry, DecodeBatch's included.
  FLost += lost;
  if (FLost == 0) return;
  try {
    FPile->PushDropped(FLost);
    FLost = 0;
  } catch (const std::exception&) {
  }
}

void TThreadSniffer::Fail(const TCaptureError& error) noexcept {
  Fail(error.Step, error.Code, error.Text, error.MissingRights);
}

void TThreadSniffer::Fail(TCaptureStep step, int code, std::string_view text,
                          bool missing_rights) noexcept {
  // What fails while a stop is under way is part of stopping, not news for the user.
  if (Terminated()) return;
  try {
    // Quoted, so that an empty or odd address text still reads as one.
    std::string message = "Capture on '" + FIp + "' failed at ";
    message += StepName(step);
    message += ": ";
    message += text.empty() ? "unknown failure" : text;
    if (code != 0) message += " (error " + std::to_string(code) + ")";
    if (missing_rights) message += kRightsNeeded;
    std::lock_guard guard(FLock);
    FFailure = std::move(message);
  } catch (...) {
    std::lock_guard guard(FLock);
    FFixedFailure = kFailureUntold;
  }
}
