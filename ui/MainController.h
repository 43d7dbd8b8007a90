#pragma once

// The main window's behaviour without a toolkit: the queue, the run state, the captures and
// their ending, Start and Stop, the drain of the queue into lines, and close. A front end
// composes its controls, hands the controller what they hold, appends the lines it gets back
// and shows the error that comes with them.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"
#include "capture/TramePool.h"
#include "capture/UnitPileTrame.h"
#include "capture/UnitThreadSniffer.h"
#include "ui/LineComposition.h"

// The texts of the form that Start reads.
struct TStartTexts {
  std::string Ip;
  bool AllPorts = true;  // "Tous les ports" is checked
  std::string StartPort;
  std::string EndPort;
};

// What the front end does after a call: append the lines, in order; then show the error, if
// any, in the default handler's box; then drain again when told.
struct TDrainResult {
  enum class TNext {
    Tick,  // with the next tick of the timer, which runs while the window runs
    Now,   // once the event loop has had a turn: more is queued
    Soon,  // in a few milliseconds: a stopped capture is still handing over
  };

  std::vector<std::string> Lines;
  std::string Error;
  TNext Next = TNext::Tick;
};

// What the window asks of the platform: a capture layer for each Start, and the host's
// addresses.
struct TCaptureServices {
  std::function<std::unique_ptr<TCaptureLayer>()> MakeLayer = MakePlatformCaptureLayer;
  std::function<std::vector<std::string>()> HostAddresses = ::HostAddresses;
};

// The nine check boxes as options, each read by its name in the layout table.
template <class F>
TDisplayOptions DisplayOptionsFrom(F&& checked) {
  return {checked("VoirDate"),  checked("VoirIpPort"), checked("VoirDrapeaux"),
          checked("FiltreURG"), checked("FiltreACK"),  checked("FiltrePSH"),
          checked("FiltreRST"), checked("FiltreSYN"),  checked("FiltreFIN")};
}

// The line that stands where the system dropped datagrams.
std::string DroppedLine(std::uint64_t count);

class TMainController {
 public:
  using TClock = std::chrono::steady_clock;

  static constexpr auto kTick = std::chrono::milliseconds(500);
  // One slice of the drain composes lines for about this long, so that the window answers
  // input between slices whatever the flood.
  static constexpr auto kSlice = std::chrono::milliseconds(20);
  static constexpr auto kSoon = std::chrono::milliseconds(10);
  // A stopped capture that has not handed over by then is detached: it has the whole time a
  // layer may take, and a little for its thread to be scheduled.
  static constexpr auto kStopWait = kHandOverLimit + std::chrono::milliseconds(250);

  explicit TMainController(TCaptureServices services = {});
  ~TMainController();
  TMainController(const TMainController&) = delete;
  TMainController& operator=(const TMainController&) = delete;

  // The last address of the host's list, or an empty text.
  std::string GetLocalIp();

  bool Running() const { return FRunning; }
  const std::shared_ptr<TPileTrameTCP>& Pile() const { return FPile; }

  // The button's work. Stopping asks the capture to end and returns the first lines of its
  // hand-over. Starting first converts the port texts, raising EConvertError for a text that
  // does not convert, with nothing changed; then finishes the ending of earlier captures and
  // returns their last lines, so that nothing of them comes after the new capture's; then
  // starts the capture. `room` is the view's free capacity, in characters.
  TDrainResult StartStop(const TStartTexts& texts, const TDisplayOptions& options,
                         std::uint64_t room);

  // One slice of the drain: the oldest records become lines, drop markers their own line. A
  // capture that failed is reported once everything it captured has been returned; a view
  // that is full stops the capture and is reported once.
  TDrainResult Drain(const TDisplayOptions& options, std::uint64_t room);

  // Ends every capture, waiting a bounded time; what does not end is detached.
  void Close();

 private:
  struct TStopping {
    std::shared_ptr<TSnifferControl> Capture;
    TClock::time_point Deadline;
  };

  void Stop();
  // Waits for stopped captures until their deadlines; detaches the rest.
  void FinishStopping(bool wait);
  void Compose(const TDisplayOptions& options, std::uint64_t room, TClock::time_point until,
               TDrainResult& result);
  void ReportFull(TDrainResult& result);

  const TCaptureServices FServices;
  std::shared_ptr<TPileTrameTCP> FPile;
  std::shared_ptr<TTramePool> FPool;
  bool FRunning = false;
  std::shared_ptr<TSnifferControl> FSniffer;  // the capture of the last Start
  std::vector<TStopping> FStopping;           // stopped, still handing over
  std::vector<TPileItem> FTaken;              // scratch for the drain
};
