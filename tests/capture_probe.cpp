// capture_probe ADDRESS MILLISECONDS
// A stand-in for the window where a test needs a separate process, run as another user or
// killed: it gives up its capabilities as the window does, captures through the platform's
// layer for that long, then prints the capabilities it held, each payload, and the failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "capture/UnitThreadSniffer.h"
#include "privileges/Privileges.h"

namespace {

// A capability set of this process as /proc/self/status shows it ("CapEff", "CapPrm").
unsigned long long CapabilitySet(const std::string& name) {
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (!status) return ~0ull;
  unsigned long long value = ~0ull;
  char line[256];
  const std::string prefix = name + ":";
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, prefix.c_str(), prefix.size()) == 0)
      value = std::strtoull(line + prefix.size(), nullptr, 16);
  }
  std::fclose(status);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: capture_probe ADDRESS MILLISECONDS\n");
    return 2;
  }
  DropAllCapabilities();
  auto pile = std::make_shared<TPileTrameTCP>();
  auto control = TThreadSniffer::Create(pile, argv[1], 1, 65535);
  // Whoever runs it may send its traffic once this is said.
  control->WaitReceiving(std::chrono::seconds(20));
  std::printf("set up\n");
  std::fflush(stdout);
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argv[2]));
  while (std::chrono::steady_clock::now() < until && !control->Ended())
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  control->Terminate();
  control->WaitEnded(std::chrono::seconds(5));
  std::printf("CapEff %llx CapPrm %llx\n", CapabilitySet("CapEff"), CapabilitySet("CapPrm"));
  while (TPileItem item = pile->Pop()) {
    if (item.Trame && !item.Trame->Data.empty())
      std::printf("payload %s\n", item.Trame->Data.c_str());
  }
  std::printf("failure %s\n", control->Failure().c_str());
  return 0;
}
