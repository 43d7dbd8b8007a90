#include "ui/MainController.h"

#include <algorithm>

#include "ui/LogText.h"
#include "ui/PortConversion.h"

namespace {

constexpr std::size_t kTakeAtOnce = 256;
constexpr const char* kViewFull = "RichEdit line insertion error";

}  // namespace

std::string DroppedLine(std::uint64_t count) {
  return "*** " + std::to_string(count) + " datagrams dropped: the capture could not keep up ***";
}

TMainController::TMainController(TCaptureServices services)
    : FServices(std::move(services)),
      FPile(std::make_shared<TPileTrameTCP>()),
      FPool(std::make_shared<TTramePool>()) {}

TMainController::~TMainController() {
  Close();
}

std::string TMainController::GetLocalIp() {
  std::string result;
  for (const std::string& address : FServices.HostAddresses())
    result = address;
  return result;
}

TDrainResult TMainController::StartStop(const TStartTexts& texts, const TDisplayOptions& options,
                                        std::uint64_t room) {
  if (FRunning) {
    Stop();
    return Drain(options, room);
  }
  // With both ports wrong, the start port's text is the one named.
  std::uint16_t port_start = 1;
  std::uint16_t port_end = 65535;
  if (!texts.AllPorts) {
    port_start = StrToPort(texts.StartPort);
    port_end = StrToPort(texts.EndPort);
  }
  TDrainResult result;
  FinishStopping(true);
  Compose(options, room, TClock::time_point::max(), result);
  if (!result.Error.empty()) return result;
  FSniffer =
      TThreadSniffer::Create(FPile, texts.Ip, port_start, port_end, FServices.MakeLayer(), FPool);
  FRunning = true;
  return result;
}

void TMainController::Stop() {
  FRunning = false;
  if (!FSniffer) return;
  FSniffer->Terminate();
  FStopping.push_back({FSniffer, TClock::now() + kStopWait});
}

void TMainController::FinishStopping(bool wait) {
  std::erase_if(FStopping, [wait](const TStopping& stopping) {
    if (wait) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(stopping.Deadline - TClock::now());
      stopping.Capture->WaitEnded(std::max(left, std::chrono::milliseconds(0)));
    }
    if (stopping.Capture->Ended()) return true;
    if (TClock::now() < stopping.Deadline) return false;
    stopping.Capture->Detach();  // it would not end: nothing more of it will show
    return true;
  });
}

TDrainResult TMainController::Drain(const TDisplayOptions& options, std::uint64_t room) {
  TDrainResult result;
  // Read before draining: once a capture has ended, all it captured is in the queue.
  FinishStopping(false);
  const bool failed = FRunning && FSniffer && FSniffer->Ended();
  Compose(options, room, TClock::now() + kSlice, result);
  if (!result.Error.empty()) return result;
  if (result.Next == TDrainResult::TNext::Now) return result;
  if (failed) {
    // Everything it captured has been returned: now say why it ended.
    FRunning = false;
    result.Error = FSniffer->Failure();
  }
  if (!FStopping.empty()) result.Next = TDrainResult::TNext::Soon;
  return result;
}

void TMainController::Compose(const TDisplayOptions& options, std::uint64_t room,
                              TClock::time_point until, TDrainResult& result) {
  for (;;) {
    FTaken.clear();
    if (FPile->PopBatch(FTaken, kTakeAtOnce) == 0) return;
    for (const TPileItem& item : FTaken) {
      std::optional<std::string> line;
      if (!item.Trame)
        line = DroppedLine(item.Dropped);
      else
        line = ComposeLine(*item.Trame, options);
      if (!line) continue;
      const std::uint64_t cost = TLogText::Cost(*line);
      if (cost > room) {
        ReportFull(result);
        FTaken.clear();
        return;
      }
      room -= cost;
      result.Lines.push_back(std::move(*line));
    }
    FPool->Release(FTaken);
    if (TClock::now() >= until) {
      if (FPile->Count() > 0) result.Next = TDrainResult::TNext::Now;
      return;
    }
  }
}

// Nothing more can be shown: the capture ends, and what it still held is let go with the
// queue, so that no later Start shows a record of this one.
void TMainController::ReportFull(TDrainResult& result) {
  if (FRunning) Stop();
  for (const TStopping& stopping : FStopping)
    stopping.Capture->Detach();
  FStopping.clear();
  FPile->Clear();
  result.Error = kViewFull;
  result.Next = TDrainResult::TNext::Tick;
}

void TMainController::Close() {
  if (FRunning) Stop();
  FRunning = false;
  const auto deadline = TClock::now() + kStopWait;
  for (TStopping& stopping : FStopping)
    stopping.Deadline = std::min(stopping.Deadline, deadline);
  FinishStopping(true);
  FSniffer.reset();
  // Whatever still runs was detached and holds the queue itself.
  FPile->Clear();
}
