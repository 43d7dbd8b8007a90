// The Winsock layer under a loopback flood, in the capture lab (bench_winsock_flood.py drives
// it): captures ADDRESS through TThreadSniffer on the platform's layer, empties the queue as
// the window would, and counts the flood's records (flood.py's payloads) and drop markers.
//
// Usage: bench_winsock_flood.exe ADDRESS
// Prints "ready" once receiving (or "failed MESSAGE"), then "taken N" every 100 ms while N
// changes; a line or the end on standard input stops the capture, and it prints
// "taken N dropped D" once the capture has ended.
#include <windows.h>

#include <process.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "capture/UnitThreadSniffer.h"

namespace {

using namespace std::chrono_literals;

std::atomic<bool> GStop{false};

unsigned __stdcall WatchInput(void*) {
  char line[64];
  std::fgets(line, sizeof line, stdin);
  GStop.store(true);
  return 0;
}

struct TCount {
  std::uint64_t Taken = 0;
  std::uint64_t Dropped = 0;
};

void Empty(TPileTrameTCP& pile, std::vector<TPileItem>& items, TCount& count) {
  while (pile.PopBatch(items, 4096) != 0) {
    for (const TPileItem& item : items) {
      if (!item.Trame)
        count.Dropped += item.Dropped;
      else if (std::string_view(item.Trame->Data).starts_with("flood "))
        ++count.Taken;
    }
    items.clear();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_winsock_flood.exe ADDRESS\n");
    return 2;
  }
  auto pile = std::make_shared<TPileTrameTCP>();
  auto control = TThreadSniffer::Create(pile, argv[1], 1, 65535);
  if (!control->WaitReceiving(60s)) {
    std::printf("failed %s\n", control->Failure().c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const std::uintptr_t watcher = ::_beginthreadex(nullptr, 0, &WatchInput, nullptr, 0, nullptr);
  if (watcher == 0) return 3;
  std::vector<TPileItem> items;
  TCount count;
  std::uint64_t shown = 0;
  auto next = std::chrono::steady_clock::now();
  while (!GStop.load()) {
    Empty(*pile, items, count);
    if (std::chrono::steady_clock::now() >= next && count.Taken != shown) {
      shown = count.Taken;
      std::printf("taken %llu\n", static_cast<unsigned long long>(shown));
      std::fflush(stdout);
      next = std::chrono::steady_clock::now() + 100ms;
    }
    ::Sleep(2);
  }
  control->Terminate();
  while (!control->WaitEnded(1ms))
    Empty(*pile, items, count);
  Empty(*pile, items, count);
  std::printf("taken %llu dropped %llu\n", static_cast<unsigned long long>(count.Taken),
              static_cast<unsigned long long>(count.Dropped));
  std::fflush(stdout);
  ::WaitForSingleObject(reinterpret_cast<HANDLE>(watcher), INFINITE);
  return 0;
}
