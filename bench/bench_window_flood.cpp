// End to end: a flood of TCP segments through a veth, captured and shown by the window
// (offscreen), beside tcpdump -l -A writing the same flood to a file. While the window drains,
// another thread posts an event to it every 10 ms: the longest any of them waited tells how
// long the window would make a click wait. A last run holds the window up for two seconds in
// a flood and tells how far the drop marker stands from the gap. Two more hold up only the
// window's own thread, under a loopback flood and under a stand-in helper that sends empty
// segments as fast as it can, and tell the window's peak resident size. Needs root.
// Usage: QT_QPA_PLATFORM=offscreen bench_window_flood [seconds per run | --memory]
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "capture/linux/CaptureHelper.h"
#include "testsupport/FloodGenerator.h"
#include "testsupport/Tcpdump.h"
#include "ui/qt/Application.h"
#include "ui/qt/LogView.h"
#include "ui/qt/UnitMain.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::uint16_t kPort = 5001;

struct TRun {
  std::uint64_t Sent = 0, Shown = 0, Lost = 0;
  double CpuSeconds = 0;
  double WorstDelayMs = 0;
  std::int64_t MarkerDistance = -1;  // segments between the largest marker and the widest gap
  int Markers = 0;
};

void RunEvents(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Times the delivery of events posted from another thread.
class TLatencyProbe : public QObject {
 public:
  static constexpr QEvent::Type kType = QEvent::User;

  struct TPosted : QEvent {
    explicit TPosted(TClock::time_point when) : QEvent(kType), When(when) {}
    TClock::time_point When;
  };

  TLatencyProbe() {
    FPoster = std::thread([this] {
      while (FRunning) {
        QCoreApplication::postEvent(this, new TPosted(TClock::now()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~TLatencyProbe() override {
    FRunning = false;
    FPoster.join();
    QCoreApplication::removePostedEvents(this);
  }

  double WorstMs() const { return FWorst.count(); }

  bool event(QEvent* event) override {
    if (event->type() != kType) return QObject::event(event);
    const auto waited = TClock::now() - static_cast<TPosted*>(event)->When;
    FWorst = std::max(FWorst, std::chrono::duration<double, std::milli>(waited));
    return true;
  }

 private:
  std::atomic<bool> FRunning{true};
  std::chrono::duration<double, std::milli> FWorst{0};
  std::thread FPoster;
};

// The flood's sequence number ends each payload; a marker stands for its count.
void Count(const TLogView& ecr, TRun& run) {
  std::int64_t last = -1, gap_at = -1, marker_at = -1, segments = 0;
  std::uint64_t widest = 0, largest = 0;
  for (std::uint64_t i = 0; i < ecr.LineCount(); ++i) {
    const QString line = ecr.LineText(i);
    if (line.startsWith("*** ")) {
      const std::uint64_t count = line.section(' ', 1, 1).toULongLong();
      run.Lost += count;
      ++run.Markers;
      // The widest gap has the largest marker; smaller drops under the flood have theirs.
      if (count > largest) {
        largest = count;
        marker_at = segments;
      }
      continue;
    }
    ++run.Shown;
    const std::int64_t number = line.right(16).toLongLong(nullptr, 16);
    if (last >= 0 && number > last + 1 && static_cast<std::uint64_t>(number - last) > widest) {
      widest = static_cast<std::uint64_t>(number - last);
      gap_at = segments;
    }
    last = number;
    ++segments;
  }
  if (gap_at >= 0 && marker_at >= 0) run.MarkerDistance = std::abs(marker_at - gap_at);
}

TRun RunWindow(const TVethLab& lab, std::uint64_t rate, int milliseconds, bool hold) {
  // Run as root, as it must be, but without the line that says so: it would count as a marker.
  TCaptureServices services;
  services.RunsAsRoot = [] { return false; };
  TMainForm form(services);
  form.show();
  form.findChild<QComboBox*>("EditIp")->setEditText(TVethLab::kAddressA);
  auto* button = form.findChild<QPushButton*>("Btn_StartStop");
  lab.A.Run([&] { button->click(); });
  RunEvents(300);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  TRun run;
  {
    TLatencyProbe probe;
    TFlood flood(lab.B, TVethLab::kDeviceB, rate, std::chrono::milliseconds(milliseconds), kPort);
    if (hold) {
      // A child stops this whole process for two seconds, the helper aside.
      const pid_t self = ::getpid();
      if (::fork() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::kill(self, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ::kill(self, SIGCONT);
        ::_exit(0);
      }
    }
    RunEvents(milliseconds + 1200);  // the flood, then two ticks to drain what is left
    run.Sent = flood.Wait().Sent;
    run.WorstDelayMs = hold ? 0 : probe.WorstMs();
  }
  button->click();
  // Under the heaviest flood the window shows lines later than they come: count them once it
  // has shown all it will, so that what is missing was lost, not late.
  const TLogView& ecr = *form.findChild<TLogView*>("Ecr");
  for (std::uint64_t shown = ~0ull; shown != ecr.LineCount();) {
    shown = ecr.LineCount();
    RunEvents(200);
  }
  getrusage(RUSAGE_SELF, &after);
  run.CpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  Count(ecr, run);
  return run;
}

// A field of /proc/self/status, in kB: VmRSS now, VmHWM at its peak since the last reset.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

struct TMemory {
  long BeforeKb = 0, PeakKb = 0;
  TRun Run;
};

// The window capturing on `address` in `ns` while its own thread is held up for `hold`, the
// capture going on; `flood` runs meanwhile. Then it shows all it will.
TMemory HeldUpWindow(TCaptureServices services, const TNetns& ns, const char* address,
                     std::chrono::milliseconds hold, const std::function<void()>& flood) {
  TMemory memory;
  services.RunsAsRoot = [] { return false; };  // its line would count as a drop marker
  TMainForm form(std::move(services));
  form.show();
  form.findChild<QComboBox*>("EditIp")->setEditText(address);
  auto* button = form.findChild<QPushButton*>("Btn_StartStop");
  RunEvents(200);
  ::malloc_trim(0);  // what an earlier run freed goes back to the system
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts over from here
  memory.BeforeKb = StatusKb("VmRSS");
  ns.Run([&] { button->click(); });
  QTimer::singleShot(100, [&] {
    std::thread flooding(flood);
    std::this_thread::sleep_for(hold);  // a handler that does not return, as a slow one
    flooding.join();
  });
  RunEvents(static_cast<int>(hold.count()) + 300);
  button->click();
  const TLogView& ecr = *form.findChild<TLogView*>("Ecr");
  for (std::uint64_t shown = ~0ull; shown != ecr.LineCount();) {
    shown = ecr.LineCount();
    RunEvents(500);
  }
  memory.PeakKb = StatusKb("VmHWM");
  Count(ecr, memory.Run);
  return memory;
}

void PrintMemory(const char* flood, const TMemory& memory) {
  std::printf(
      "window held up for 5 s under %s: resident %ld MB before, %ld MB at the peak; "
      "%llu lines shown, %llu reported dropped in %d markers\n",
      flood, memory.BeforeKb / 1024, memory.PeakKb / 1024,
      static_cast<unsigned long long>(memory.Run.Shown),
      static_cast<unsigned long long>(memory.Run.Lost), memory.Run.Markers);
  std::fflush(stdout);
}

void MeasureMemory(const TVethLab& lab) {
  constexpr auto kHold = std::chrono::milliseconds(5000);
  PrintMemory("a loopback flood", HeldUpWindow({}, lab.A, "127.0.0.1", kHold, [&] {
                TFlood(lab.A, "lo", 0, kHold, kPort).Wait();
              }));
  const std::string fake =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "fake_capture_helper")
          .string();
  TCaptureServices services;
  services.MakeLayer = [fake] { return MakeHelperCaptureLayer(fake); };
  PrintMemory("a stand-in helper's flood of empty segments",
              HeldUpWindow(services, lab.A, "127.0.0.1", kHold, [] {}));
}

TRun RunTcpdump(const TVethLab& lab, std::uint64_t rate, int milliseconds) {
  const std::string output = "/tmp/quorvel-bench-tcpdump-A.txt";
  TTcpdump tcpdump(lab.A, {"-l", "-A", "-i", TVethLab::kDeviceA, "tcp port 5001"}, output);
  TFlood flood(lab.B, TVethLab::kDeviceB, rate, std::chrono::milliseconds(milliseconds), kPort);
  TRun run;
  run.Sent = flood.Wait().Sent;
  RunEvents(1200);
  const TTcpdump::TResult result = tcpdump.Stop();
  run.Shown = result.Captured;
  run.Lost = result.Dropped;
  run.CpuSeconds = result.CpuSeconds;
  std::remove(output.c_str());
  return run;
}

void Print(const char* who, std::uint64_t rate, const TRun& run, double seconds) {
  const std::uint64_t missing = run.Sent > run.Shown ? run.Sent - run.Shown : 0;
  std::printf(
      "%-8s %8s %9llu %9llu %9llu %9llu %10.0f %10.0f %9.1f\n", who,
      rate ? std::to_string(rate).c_str() : "max", static_cast<unsigned long long>(run.Sent),
      static_cast<unsigned long long>(run.Shown), static_cast<unsigned long long>(run.Lost),
      static_cast<unsigned long long>(missing), static_cast<double>(run.Shown) / seconds,
      run.Shown ? run.CpuSeconds * 1e9 / static_cast<double>(run.Shown) : 0.0, run.WorstDelayMs);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (auto reason = NetnsUnavailable()) {
    std::printf("bench_window_flood skipped: %s\n", reason->c_str());
    return 0;
  }
  TApplication application(argc, argv);
  const bool memory_only = argc > 1 && std::string(argv[1]) == "--memory";
  const double seconds = argc > 1 && !memory_only ? std::atof(argv[1]) : 3.0;
  const int milliseconds = static_cast<int>(seconds * 1000);
  TVethLab lab;
  if (memory_only) return MeasureMemory(lab), 0;
  std::printf("%-8s %8s %9s %9s %9s %9s %10s %10s %9s\n", "shown by", "rate/s", "sent", "shown",
              "dropped", "missing", "shown/s", "cpu ns/seg", "worst ms");
  for (const std::uint64_t rate : {20'000ull, 50'000ull, 100'000ull, 200'000ull, 0ull}) {
    Print("window", rate, RunWindow(lab, rate, milliseconds, false), seconds);
    Print("tcpdump", rate, RunTcpdump(lab, rate, milliseconds), seconds);
  }
  const TRun held = RunWindow(lab, 0, 4000, true);
  std::printf(
      "window held up for 2 s in a flood of %llu: %llu shown, %llu reported dropped in %d "
      "markers, the largest %lld segments from the widest gap\n",
      static_cast<unsigned long long>(held.Sent), static_cast<unsigned long long>(held.Shown),
      static_cast<unsigned long long>(held.Lost), held.Markers,
      static_cast<long long>(held.MarkerDistance));
  MeasureMemory(lab);
  return 0;
}
