// A flood of TCP segments through a veth, over IPv4 and then over IPv6, captured by
// TThreadSniffer through the capture helper with a consumer draining the queue as the window
// does, beside tcpdump writing to /dev/null with the same filter on the same flood. The IPv4
// flood is captured on the interface's IPv4 address, the IPv6 one on its IPv6 address. CPU counts
// the helper and this process together, and how old segments were when the consumer took them
// (median, 99th percentile, worst; its own pauses of 10 ms included). Needs root. Usage:
// bench_capture [--rounds N] [seconds per run] [rates per second, 0 for the generator's
// maximum...]. This machine's neighbours make single runs vary by a fifth: each round runs both
// captures in turn, and the medians of the rounds are compared.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <algorithm>

#include "capture/UnitThreadSniffer.h"
#include "capture/linux/CaptureHelper.h"
#include "testsupport/FloodGenerator.h"
#include "testsupport/TcpPeers.h"
#include "testsupport/Tcpdump.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 5001;

std::int64_t UnixMicrosecondsNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct TRun {
  std::uint64_t Sent = 0, Captured = 0, Dropped = 0;
  double CpuSeconds = 0;
  double HelperCpuSeconds = -1;  // of CpuSeconds, the helper's share
  // How old the oldest segment of each batch the consumer took was: median, 99th percentile
  // and worst, in milliseconds since its capture.
  double AgeMs[3] = {-1, -1, -1};
};

TRun RunQuorvel(const TVethLab& lab, std::uint64_t rate, std::chrono::milliseconds duration,
                bool ipv6) {
  auto pile = std::make_shared<TPileTrameTCP>();
  auto pool = std::make_shared<TTramePool>();
  const char* address = ipv6 ? TVethLab::kAddress6A : TVethLab::kAddressA;
  auto control = lab.A.Run(
      [&] { return TThreadSniffer::Create(pile, address, kPort, kPort, nullptr, pool); });
  control->WaitReceiving(5s);
  std::atomic<bool> draining{true};
  std::uint64_t captured = 0, dropped = 0;
  std::vector<double> ages;  // in milliseconds
  ages.reserve(1 << 16);
  // As the window drains: a batch at a time.
  std::thread consumer([&] {
    std::vector<TPileItem> items;
    while (draining || pile->Count() > 0) {
      items.clear();
      if (pile->PopBatch(items, 4096) == 0) std::this_thread::sleep_for(10ms);
      if (!items.empty() && items.front().Trame)
        ages.push_back(static_cast<double>(UnixMicrosecondsNow() - items.front().Trame->Date) /
                       1000);
      for (const TPileItem& item : items) {
        if (item.Trame)
          ++captured;
        else
          dropped += item.Dropped;
      }
      pool->Release(items);
    }
  });
  pid_t helper = -1;
  for (const pid_t child : ChildrenOf(::getpid()))
    if (CommandName(child) == kCaptureHelperName) helper = child;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const double helper_before = ProcessCpuSeconds(helper);
  TFlood flood(lab.B, TVethLab::kDeviceB, rate, duration, kPort, ipv6);
  TRun run;
  run.Sent = flood.Wait().Sent;
  std::this_thread::sleep_for(200ms);
  const double helper_cpu = ProcessCpuSeconds(helper) - helper_before;
  control->Terminate();
  control->WaitEnded(5s);
  draining = false;
  consumer.join();
  getrusage(RUSAGE_SELF, &after);
  run.Captured = captured;
  run.Dropped = dropped;
  run.CpuSeconds = CpuSeconds(after) - CpuSeconds(before) + helper_cpu;
  run.HelperCpuSeconds = helper_cpu;
  if (!ages.empty()) {
    std::sort(ages.begin(), ages.end());
    const std::size_t at[3] = {ages.size() / 2, ages.size() * 99 / 100, ages.size() - 1};
    for (int i = 0; i < 3; ++i)
      run.AgeMs[i] = ages[at[i]];
  }
  return run;
}

// From a lone segment's sending to its record in the queue: what batching may cost a quiet
// interface. Each round connects to a port nobody listens on: a SYN, answered by a reset.
void MeasureLoneSegment(const TVethLab& lab) {
  auto pile = std::make_shared<TPileTrameTCP>();
  auto control =
      lab.A.Run([&] { return TThreadSniffer::Create(pile, TVethLab::kAddressA, kPort, kPort); });
  control->WaitReceiving(5s);
  std::this_thread::sleep_for(100ms);
  std::vector<double> delays;
  for (int round = 0; round < 20; ++round) {
    const auto sent = std::chrono::steady_clock::now();
    const int fd = lab.B.Run([] {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      const sockaddr_in to = SocketAddress(TVethLab::kAddressA, kPort);
      ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      return fd;
    });
    while (pile->Count() == 0 && std::chrono::steady_clock::now() - sent < 1s)
      std::this_thread::sleep_for(100us);
    delays.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
            .count());
    std::this_thread::sleep_for(50ms);
    ::close(fd);
    pile->Clear();
  }
  control->Terminate();
  control->WaitEnded(5s);
  std::sort(delays.begin(), delays.end());
  std::printf("a lone segment reaches the queue in %.1f ms (median), %.1f ms at worst\n",
              delays[delays.size() / 2], delays.back());
}

TRun RunTcpdump(const TVethLab& lab, std::uint64_t rate, std::chrono::milliseconds duration,
                bool ipv6) {
  TTcpdump tcpdump(lab.A, {"-i", TVethLab::kDeviceA, "-w", "/dev/null", "tcp port 5001"},
                   "/tmp/quorvel-bench-tcpdump");
  TFlood flood(lab.B, TVethLab::kDeviceB, rate, duration, kPort, ipv6);
  TRun run;
  run.Sent = flood.Wait().Sent;
  std::this_thread::sleep_for(200ms);
  const TTcpdump::TResult result = tcpdump.Stop();
  run.Captured = result.Captured;
  run.Dropped = result.Dropped;
  run.CpuSeconds = result.CpuSeconds;
  return run;
}

double PerSegment(const TRun& run, double cpu) {
  return run.Captured ? cpu * 1e9 / static_cast<double>(run.Captured) : 0.0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Print(const char* who, bool ipv6, std::uint64_t rate, const TRun& run, double seconds) {
  const auto per_segment = [&](double cpu) { return PerSegment(run, cpu); };
  std::printf(
      "%-9s %4s %9s %10llu %10llu %9llu %11.0f %10.0f", who, ipv6 ? "6" : "4",
      rate ? std::to_string(rate).c_str() : "max", static_cast<unsigned long long>(run.Sent),
      static_cast<unsigned long long>(run.Captured), static_cast<unsigned long long>(run.Dropped),
      static_cast<double>(run.Captured) / seconds, per_segment(run.CpuSeconds));
  if (run.HelperCpuSeconds >= 0)
    std::printf("   (helper %.0f, window %.0f; age %.0f/%.0f/%.0f ms)",
                per_segment(run.HelperCpuSeconds),
                per_segment(run.CpuSeconds - run.HelperCpuSeconds), run.AgeMs[0], run.AgeMs[1],
                run.AgeMs[2]);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (auto reason = NetnsUnavailable()) {
    std::printf("bench_capture skipped: %s\n", reason->c_str());
    return 0;
  }
  int first = 1, rounds = 1;
  if (argc > 2 && std::string(argv[1]) == "--rounds") {
    rounds = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  const double seconds = argc > first ? std::atof(argv[first]) : 3.0;
  const auto duration = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  TVethLab lab;
  MeasureLoneSegment(lab);
  std::printf("%-9s %4s %9s %10s %10s %9s %11s %10s\n", "capture", "ip", "rate/s", "sent",
              "captured", "dropped", "captured/s", "cpu ns/seg");
  std::vector<std::uint64_t> rates = {50'000, 100'000, 200'000, 400'000, 0};
  if (argc > first + 1) rates.clear();
  for (int i = first + 1; i < argc; ++i)
    rates.push_back(std::strtoull(argv[i], nullptr, 10));
  for (const bool ipv6 : {false, true}) {
    for (const std::uint64_t rate : rates) {
      std::vector<double> ours, theirs, ratios;
      for (int round = 0; round < rounds; ++round) {
        const TRun quorvel = RunQuorvel(lab, rate, duration, ipv6);
        const TRun tcpdump = RunTcpdump(lab, rate, duration, ipv6);
        Print("quorvel", ipv6, rate, quorvel, seconds);
        Print("tcpdump", ipv6, rate, tcpdump, seconds);
        ours.push_back(PerSegment(quorvel, quorvel.CpuSeconds));
        theirs.push_back(PerSegment(tcpdump, tcpdump.CpuSeconds));
        if (theirs.back() > 0) ratios.push_back(ours.back() / theirs.back());
      }
      if (rounds > 1 && !ratios.empty())
        std::printf("median of %d rounds, IPv%c: quorvel %.0f ns, tcpdump %.0f ns, ratio %.2f\n",
                    rounds, ipv6 ? '6' : '4', Median(ours), Median(theirs), Median(ratios));
    }
  }
  return 0;
}
