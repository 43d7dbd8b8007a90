// End to end: a flood of TCP segments through a veth, captured and shown by the window
// (offscreen), beside tcpdump -l -A writing the same flood to a file. Needs root.
// Usage: QT_QPA_PLATFORM=offscreen bench_window_flood [seconds per run]
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <string>

#include "FloodGenerator.h"
#include "Tcpdump.h"
#include "ui/qt/Application.h"
#include "ui/qt/LogView.h"
#include "ui/qt/UnitMain.h"

namespace {

constexpr std::uint16_t kPort = 5001;

struct TRun {
  std::uint64_t Sent = 0, Shown = 0, Lost = 0;
  double CpuSeconds = 0;
};

void RunEvents(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

TRun RunWindow(const TVethLab& lab, std::uint64_t rate, int milliseconds) {
  TMainForm form;
  form.show();
  form.findChild<QLineEdit*>("EditIp")->setText(TVethLab::kAddressA);
  auto* button = form.findChild<QPushButton*>("Btn_StartStop");
  lab.A.Run([&] { button->click(); });
  RunEvents(300);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  TFlood flood(lab.B, TVethLab::kDeviceB, rate, std::chrono::milliseconds(milliseconds), kPort);
  RunEvents(milliseconds + 1200);  // the flood, then two ticks to drain what is left
  TRun run;
  run.Sent = flood.Wait().Sent;
  button->click();
  getrusage(RUSAGE_SELF, &after);
  run.CpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  auto* ecr = form.findChild<TLogView*>("Ecr");
  for (std::uint64_t i = 0; i < ecr->LineCount(); ++i) {
    const QString line = ecr->LineText(i);
    if (line.startsWith("*** "))
      run.Lost += line.section(' ', 1, 1).toULongLong();
    else
      ++run.Shown;
  }
  return run;
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
      "%-8s %8s %9llu %9llu %9llu %9llu %10.0f %10.0f\n", who,
      rate ? std::to_string(rate).c_str() : "max", static_cast<unsigned long long>(run.Sent),
      static_cast<unsigned long long>(run.Shown), static_cast<unsigned long long>(run.Lost),
      static_cast<unsigned long long>(missing), static_cast<double>(run.Shown) / seconds,
      run.Shown ? run.CpuSeconds * 1e9 / static_cast<double>(run.Shown) : 0.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (auto reason = NetnsUnavailable()) {
    std::printf("bench_window_flood skipped: %s\n", reason->c_str());
    return 0;
  }
  TApplication application(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const int milliseconds = static_cast<int>(seconds * 1000);
  TVethLab lab;
  std::printf("%-8s %8s %9s %9s %9s %9s %10s %10s\n", "shown by", "rate/s", "sent", "shown",
              "dropped", "missing", "shown/s", "cpu ns/seg");
  for (const std::uint64_t rate : {20'000ull, 50'000ull, 100'000ull, 200'000ull, 0ull}) {
    Print("window", rate, RunWindow(lab, rate, milliseconds), seconds);
    Print("tcpdump", rate, RunTcpdump(lab, rate, milliseconds), seconds);
  }
  return 0;
}
