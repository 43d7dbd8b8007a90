#pragma once

// The main window's behaviour without a toolkit: the queue, the run state, the captures and
// their ending, Start and Stop, the drain of the queue into lines, and close. A front end
// composes its controls and lets the controller read them and show what comes of each event
// through TMainView; its handlers only call the controller's.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"
#include "capture/HostAddresses.h"
#include "capture/UnitThreadSniffer.h"
#include "core/TramePool.h"
#include "core/UnitPileTrame.h"
#include "ui/LineComposition.h"

// The texts of the form that Start reads.
struct TStartTexts {
  std::string Ip;
  bool AllPorts = true;  // "Tous les ports" is checked
  std::string StartPort;
  std::string EndPort;
};

// When the drain is due again.
enum class TNextDrain {
  Tick,  // with the next tick of the timer, which runs while the window runs
  Now,   // once the event loop has had a turn: more is queued
  Soon,  // in a few milliseconds: a stopped capture is still handing over
};

// The window as the controller sees it: what it reads from the controls, and what it shows.
class TMainView {
 public:
  virtual TStartTexts StartTexts() const = 0;
  virtual TDisplayOptions DisplayOptions() const = 0;

  // After each event, in this order: the lines, the run state (the button's caption, the
  // timer, the log's colours once running), when to drain next, then an error, if any, in the
  // default handler's box. The log takes the lines as long as they fit whole, and says how
  // many it took.
  virtual std::size_t AppendLines(std::span<const std::string> lines) = 0;
  virtual void ShowRunning(bool running) = 0;
  virtual void DrainAgain(TNextDrain next) = 0;
  virtual void ShowError(const std::string& message) = 0;

 protected:
  ~TMainView() = default;
};

// What the window asks of the platform: a capture layer for each Start, the host's addresses,
// its interfaces' addresses, and whether the window runs as root.
struct TCaptureServices {
  std::function<std::unique_ptr<TCaptureLayer>()> MakeLayer = MakePlatformCaptureLayer;
  std::function<std::vector<std::string>()> HostAddresses = ::HostAddresses;
  std::function<std::vector<TInterfaceAddress>()> InterfaceAddresses = ::InterfaceAddresses;
  std::function<bool()> RunsAsRoot = ::RunsAsRoot;
};

// The line that stands where datagrams were dropped.
std::string DroppedLine(std::uint64_t count);

// What a key typed into a port field does: digits and backspace type, the editing shortcuts
// act, anything else (a letter, a sign, a paste with Ctrl+V) is discarded.
enum class TPortKey { Type, Discard, SelectAll, Copy, Cut };
TPortKey PortKeyOf(char32_t typed);

class TMainController {
 public:
  using TClock = std::chrono::steady_clock;

  static constexpr auto kTick = std::chrono::milliseconds(500);
  // One slice of the drain composes lines for about this long, so that the window answers
  // input between slices whatever the flood.
  static constexpr auto kSlice = std::chrono::milliseconds(20);
  static constexpr auto kSoon = kStopDrainPace;
  // A stopped capture that has not handed over by then is let go.
  static constexpr auto kStopWait = ::kStopWait;

  // `queue_bytes` bounds what the queue holds while the window does not drain it.
  TMainController(TMainView& view, TCaptureServices services = {},
                  std::size_t queue_bytes = TPileTrameTCP::kDefaultByteLimit);
  ~TMainController();
  TMainController(const TMainController&) = delete;
  TMainController& operator=(const TMainController&) = delete;

  // The window's creation: the log's first line when the window runs as root, the stopped
  // state, and the address the field starts with, the last of the host's list or an empty text.
  std::string FormCreate();

  // The address list opens: the host's interfaces read afresh, one entry per address, IPv4
  // first, then IPv6, each "address (interface)".
  std::vector<std::string> EditIpDropDown();
  // An entry of the list last opened is chosen: the text the field then holds, the address
  // alone; nothing for an index the list does not have.
  std::optional<std::string> EditIpSelect(std::size_t index) const;

  bool Running() const { return FRunning; }
  const std::shared_ptr<TPileTrameTCP>& Pile() const { return FPile; }

  // The button. Stopping asks the capture to end and shows the first lines of its hand-over.
  // Starting first converts the port texts, raising EConvertError for a text that does not
  // convert or for a range whose start is above its end, with nothing changed; then finishes
  // the ending of earlier captures and shows their last lines, so that nothing of them comes
  // after the new capture's; then starts.
  void Btn_StartStopClick();

  // One slice of the drain: the oldest records become lines, drop markers their own line. A
  // capture that failed is reported once everything it captured has been shown; a view that
  // is full stops the capture and is reported once.
  void TimerInDataTimer();

  // Stops every capture and waits for each to end, which its layer bounds; nothing of them is
  // shown any more.
  void FormDestroy();

 private:
  struct TStopping {
    std::unique_ptr<TThreadSniffer> Capture;
    TClock::time_point Deadline;
    bool LetGo = false;  // past its deadline: nothing more of it shows
  };
  struct TDrained {
    std::vector<std::string> Lines;
    std::string Error;
    TNextDrain Next = TNextDrain::Tick;
  };

  void Stop();
  // Waits for stopped captures until their deadlines and lets go of those past theirs; joins
  // those that have ended.
  void FinishStopping(bool wait);
  TDrained Drain();
  void Compose(const TDisplayOptions& options, TClock::time_point until, TDrained& result);
  // The lines to the log; what does not fit is reported.
  void Deliver(TDrained& result);
  void ReportFull(TDrained& result);
  void Show(const TDrained& result);

  TMainView& FView;
  const TCaptureServices FServices;
  std::shared_ptr<TPileTrameTCP> FPile;
  std::shared_ptr<TTramePool> FPool;
  bool FRunning = false;
  std::unique_ptr<TThreadSniffer> FSniffer;     // the capture of the last Start
  std::vector<TStopping> FStopping;             // stopped, not yet ended
  std::vector<TPileItem> FTaken;                // scratch for the drain
  std::vector<TInterfaceAddress> FAddressList;  // as the address list last showed them
};
