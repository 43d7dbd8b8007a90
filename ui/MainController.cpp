#include "ui/MainController.h"

#include <algorithm>
#include <string_view>

#include "ui/PortConversion.h"

namespace {

constexpr std::size_t kTakeAtOnce = 256;
constexpr const char* kViewFull = "RichEdit line insertion error";
// A window run as root is not contained by the capabilities it drops: it says so first.
constexpr const char* kRootLine =
    "*** Quorvel runs as root: members of the group " QUORVEL_CAPTURE_GROUP
    " capture without it ***";
constexpr const char* kLetGo =
    "the stopped capture did not end in time: what it still held is not shown";

// The address as the capture takes it, from the field's text: without the blanks and tabs
// around it, and an IPv6 address without the square brackets the log writes it in.
std::string CaptureAddress(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']' &&
      text.find(':') != std::string_view::npos)
    text = text.substr(1, text.size() - 2);
  return std::string(text);
}

}  // namespace

std::string DroppedLine(std::uint64_t count) {
  return "*** " + std::to_string(count) + " datagrams dropped: the capture could not keep up ***";
}

TPortKey PortKeyOf(char32_t typed) {
  if ((typed >= U'0' && typed <= U'9') || typed == 8) return TPortKey::Type;
  // The characters the control key makes with A, C and X.
  if (typed == 0x01) return TPortKey::SelectAll;
  if (typed == 0x03) return TPortKey::Copy;
  if (typed == 0x18) return TPortKey::Cut;
  return TPortKey::Discard;
}

TMainController::TMainController(TMainView& view, TCaptureServices services,
                                 std::size_t queue_bytes)
    : FView(view),
      FServices(std::move(services)),
      FPile(std::make_shared<TPileTrameTCP>(queue_bytes)),
      FPool(std::make_shared<TTramePool>()) {}

TMainController::~TMainController() {
  FormDestroy();
}

std::string TMainController::FormCreate() {
  if (FServices.RunsAsRoot()) {
    const std::string line = kRootLine;
    FView.AppendLines({&line, 1});
  }
  FView.ShowRunning(false);
  std::string last;
  for (const std::string& address : FServices.HostAddresses())
    last = address;
  return last;
}

std::vector<std::string> TMainController::EditIpDropDown() {
  FAddressList = FServices.InterfaceAddresses();
  // An IPv6 address is the only kind whose text holds a colon.
  std::stable_partition(FAddressList.begin(), FAddressList.end(), [](const auto& entry) {
    return entry.Address.find(':') == std::string::npos;
  });
  std::vector<std::string> entries;
  entries.reserve(FAddressList.size());
  for (const TInterfaceAddress& entry : FAddressList)
    entries.push_back(entry.Address + " (" + entry.Interface + ")");
  return entries;
}

std::optional<std::string> TMainController::EditIpSelect(std::size_t index) const {
  if (index >= FAddressList.size()) return std::nullopt;
  return FAddressList[index].Address;
}

void TMainController::Btn_StartStopClick() {
  if (FRunning) {
    Stop();
    return Show(Drain());
  }
  const TStartTexts texts = FView.StartTexts();
  // With both ports wrong, the start port's text is the one named.
  std::uint16_t port_start = 1;
  std::uint16_t port_end = 65535;
  if (!texts.AllPorts) {
    port_start = StrToPort(texts.StartPort);
    port_end = StrToPort(texts.EndPort);
    // Such a range holds no port: the capture would never show a line.
    if (port_start > port_end)
      throw EConvertError("'" + texts.StartPort + "' is greater than '" + texts.EndPort + "'");
  }
  TDrained result;
  FinishStopping(true);
  Compose(FView.DisplayOptions(), TClock::time_point::max(), result);
  Deliver(result);
  if (result.Error.empty()) {
    FSniffer = TThreadSniffer::Create(FPile, CaptureAddress(texts.Ip), port_start, port_end,
                                      FServices.MakeLayer(), FPool);
    FRunning = true;
  }
  Show(result);
}

void TMainController::TimerInDataTimer() {
  Show(Drain());
}

void TMainController::Deliver(TDrained& result) {
  if (FView.AppendLines(result.Lines) < result.Lines.size()) ReportFull(result);
}

void TMainController::Show(const TDrained& result) {
  FView.ShowRunning(FRunning);
  FView.DrainAgain(result.Next);
  if (!result.Error.empty()) FView.ShowError(result.Error);
}

void TMainController::Stop() {
  FRunning = false;
  if (!FSniffer) return;
  FSniffer->Terminate();
  FStopping.push_back({std::move(FSniffer), TClock::now() + kStopWait});
}

void TMainController::FinishStopping(bool wait) {
  for (TStopping& stopping : FStopping) {
    if (stopping.LetGo) continue;
    if (wait) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(stopping.Deadline - TClock::now());
      stopping.Capture->WaitEnded(std::max(left, std::chrono::milliseconds(0)));
    }
    if (stopping.Capture->Ended() || TClock::now() < stopping.Deadline) continue;
    // It would not end: nothing more of it will show, and the log says that its end is cut
    // short, after the last line it did hand over. It is joined once it ends.
    stopping.Capture->LetGo();
    stopping.LetGo = true;
    FPile->PushNotice(kLetGo);
  }
  // Destroying an ended capture joins its thread at once.
  std::erase_if(FStopping, [](const TStopping& stopping) { return stopping.Capture->Ended(); });
}

TMainController::TDrained TMainController::Drain() {
  TDrained result;
  // Read before draining: once a capture has ended, all it captured is in the queue.
  FinishStopping(false);
  const bool failed = FRunning && FSniffer && FSniffer->Ended();
  Compose(FView.DisplayOptions(), TClock::now() + kSlice, result);
  Deliver(result);
  if (!result.Error.empty() || result.Next == TNextDrain::Now) return result;
  if (failed) {
    // Everything it captured has been shown: now say why it ended.
    FRunning = false;
    result.Error = FSniffer->Failure();
  }
  if (std::any_of(FStopping.begin(), FStopping.end(),
                  [](const TStopping& stopping) { return !stopping.LetGo; }))
    result.Next = TNextDrain::Soon;
  return result;
}

void TMainController::Compose(const TDisplayOptions& options, TClock::time_point until,
                              TDrained& result) {
  for (;;) {
    FTaken.clear();
    if (FPile->PopBatch(FTaken, kTakeAtOnce) == 0) return;
    for (const TPileItem& item : FTaken) {
      std::optional<std::string> line;
      if (item.Trame)
        line = ComposeLine(*item.Trame, options);
      else if (item.Notice)
        line = "*** " + *item.Notice + " ***";
      else
        line = DroppedLine(item.Dropped);
      if (!line) continue;
      result.Lines.push_back(std::move(*line));
    }
    FPool->Release(FTaken);
    if (TClock::now() >= until) {
      if (FPile->Count() > 0) result.Next = TNextDrain::Now;
      return;
    }
  }
}

// Nothing more can be shown: the capture ends, and what it still held is let go with the
// queue, so that no later Start shows a record of this one.
void TMainController::ReportFull(TDrained& result) {
  if (FRunning) Stop();
  for (TStopping& stopping : FStopping) {
    stopping.Capture->LetGo();
    stopping.LetGo = true;
  }
  FPile->Clear();
  result.Error = kViewFull;
  result.Next = TNextDrain::Tick;
}

void TMainController::FormDestroy() {
  if (FRunning) Stop();
  FRunning = false;
  FSniffer.reset();  // one that failed: ended already
  // Nothing is shown any more: each capture is let go, then joined as its layer ends it.
  for (TStopping& stopping : FStopping)
    stopping.Capture->LetGo();
  FStopping.clear();
  FPile->Clear();
}
