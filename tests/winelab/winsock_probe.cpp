// The Winsock layer as the window runs it, driven by a harness in the capture lab: captures
// through TThreadSniffer on the platform's layer, one per argument, until a line (or the end)
// on standard input stops them all; then what each handed over, one line a record.
//
// Usage: winsock_probe.exe ADDRESS:FIRST-LAST...
// Standard output, in this order:
//   capture I receiving            or   capture I failed MESSAGE
//   ready
//   stop BEFORE AFTER              the system time (microseconds since 1970) around Terminate
//   ended I MILLISECONDS           from the stop to the capture's end, or "ended I never"
//   record I SOURCE DESTINATION FLAGS PAYLOAD   (end points as the log writes them,
//                                               192.0.2.1:80 or [2001:db8::1]:80; FLAGS: names
//                                               joined by commas, or -; PAYLOAD: hexadecimal,
//                                               or -)
//   dropped I COUNT
//   notice I TEXT
//   done
#include <windows.h>

#include <process.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "capture/UnitThreadSniffer.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kFlagNames[] = {"URG", "ACK", "PSH", "RST", "SYN", "FIN"};

struct TCapture {
  std::shared_ptr<TPileTrameTCP> Pile = std::make_shared<TPileTrameTCP>();
  std::unique_ptr<TThreadSniffer> Control;
  std::vector<TPileItem> Taken;
};

std::atomic<bool> GStop{false};

unsigned __stdcall WatchInput(void*) {
  char line[256];
  std::fgets(line, sizeof line, stdin);  // a line or the end alike
  GStop.store(true);
  return 0;
}

std::int64_t UnixMicroseconds() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>((ticks - 116444736000000000ULL) / 10);
}

std::string Flags(TDrapeauxTCP flags) {
  std::string text;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!flags.Contains(kAllDrapeaux[i])) continue;
    if (!text.empty()) text += ',';
    text += kFlagNames[i];
  }
  return text.empty() ? "-" : text;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (bytes.empty()) return "-";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// As the log writes an end point: an IPv6 address in brackets.
std::string EndPoint(const TIpPort& end) {
  const std::string_view ip = end.Ip.View();
  const std::string address(ip);
  const std::string port = std::string(":").append(std::to_string(end.Port));
  if (ip.find(':') == std::string_view::npos) return address + port;
  return std::string("[").append(address).append("]").append(port);
}

void PopAll(std::vector<TCapture>& captures) {
  for (TCapture& capture : captures)
    while (capture.Pile->PopBatch(capture.Taken, 4096) != 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<TCapture> captures(static_cast<std::size_t>(argc - 1));
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto colon = argument.rfind(':');
    const auto dash = argument.find('-', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || dash == std::string::npos) {
      std::fprintf(stderr, "not ADDRESS:FIRST-LAST: %s\n", argument.c_str());
      return 2;
    }
    TCapture& capture = captures[static_cast<std::size_t>(i - 1)];
    capture.Control =
        TThreadSniffer::Create(capture.Pile, argument.substr(0, colon),
                               static_cast<std::uint16_t>(std::atoi(argument.c_str() + colon + 1)),
                               static_cast<std::uint16_t>(std::atoi(argument.c_str() + dash + 1)));
  }
  for (std::size_t i = 0; i < captures.size(); ++i) {
    if (captures[i].Control->WaitReceiving(60s))
      std::printf("capture %zu receiving\n", i);
    else
      std::printf("capture %zu failed %s\n", i, captures[i].Control->Failure().c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);

  const std::uintptr_t watcher = ::_beginthreadex(nullptr, 0, &WatchInput, nullptr, 0, nullptr);
  if (watcher == 0) return 3;
  while (!GStop.load()) {
    PopAll(captures);
    ::Sleep(2);
  }
  ::WaitForSingleObject(reinterpret_cast<HANDLE>(watcher), INFINITE);
  ::CloseHandle(reinterpret_cast<HANDLE>(watcher));

  const std::int64_t before = UnixMicroseconds();
  const auto stopped = std::chrono::steady_clock::now();
  for (TCapture& capture : captures)
    capture.Control->Terminate();
  std::printf("stop %lld %lld\n", static_cast<long long>(before),
              static_cast<long long>(UnixMicroseconds()));
  for (std::size_t i = 0; i < captures.size(); ++i) {
    // Emptied meanwhile: a queue at its bound would drop what the hand-over brings.
    while (!captures[i].Control->WaitEnded(1ms) &&
           std::chrono::steady_clock::now() - stopped < 10s)
      PopAll(captures);
    if (captures[i].Control->Ended()) {
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - stopped);
      std::printf("ended %zu %lld\n", i, static_cast<long long>(took.count()));
    } else {
      std::printf("ended %zu never\n", i);
    }
  }
  PopAll(captures);
  for (std::size_t i = 0; i < captures.size(); ++i) {
    for (const TPileItem& item : captures[i].Taken) {
      if (item.Notice) {
        std::printf("notice %zu %s\n", i, item.Notice->c_str());
        continue;
      }
      if (!item.Trame) {
        std::printf("dropped %zu %llu\n", i, static_cast<unsigned long long>(item.Dropped));
        continue;
      }
      const TTrameTCP& trame = *item.Trame;
      std::printf("record %zu %s %s %s %s\n", i, EndPoint(trame.Source).c_str(),
                  EndPoint(trame.Dest).c_str(), Flags(trame.Drapeaux).c_str(),
                  Hex(trame.Data).c_str());
    }
  }
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}
