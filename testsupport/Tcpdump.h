#pragma once

// tcpdump in a namespace of a test's own, for comparing what Quorvel shows with what tcpdump
// saw on the same interface in the same run; and a reader of the capture files it writes.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "helper/LinkLayer.h"
#include "testsupport/NetnsLab.h"

inline double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// tcpdump inside a namespace, from construction until Stop, with its standard output sent to
// `output`; Stop reads what it says of its captures.
class TTcpdump {
 public:
  struct TResult {
    std::uint64_t Captured = 0;
    std::uint64_t Dropped = 0;
    double CpuSeconds = 0;
  };

  TTcpdump(const TNetns& ns, std::vector<std::string> arguments, const std::string& output)
      : FLog(output + ".log") {
    std::fflush(stdout);
    FChild = ::fork();
    if (FChild == 0) {
      std::freopen(FLog.c_str(), "w", stderr);
      std::freopen(output.c_str(), "w", stdout);
      std::vector<std::string> command = {"ip", "netns", "exec", ns.Name(), "tcpdump"};
      command.insert(command.end(), arguments.begin(), arguments.end());
      std::vector<char*> argv;
      for (std::string& word : command)
        argv.push_back(word.data());
      argv.push_back(nullptr);
      ::execvp("ip", argv.data());
      ::_exit(127);
    }
    // Capturing once it says so on its standard error; a comparison with a tcpdump that
    // never listened would prove nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Says("listening on")) {
      if (std::chrono::steady_clock::now() >= deadline) {
        std::ifstream log(FLog);
        const std::string said{std::istreambuf_iterator<char>(log), {}};
        Stop();
        throw std::runtime_error("tcpdump did not start listening within 10 s: " + said);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  TResult Stop() {
    TResult result;
    ::kill(FChild, SIGINT);
    rusage usage{};
    ::wait4(FChild, nullptr, 0, &usage);
    result.CpuSeconds = CpuSeconds(usage);
    std::FILE* file = std::fopen(FLog.c_str(), "r");
    char line[256];
    while (file && std::fgets(line, sizeof line, file)) {
      const std::string text = line;
      const std::uint64_t n = std::strtoull(line, nullptr, 10);
      if (text.find(" packets captured") != std::string::npos) result.Captured = n;
      if (text.find(" packets dropped by kernel") != std::string::npos) result.Dropped = n;
    }
    if (file) std::fclose(file);
    std::remove(FLog.c_str());
    return result;
  }

 private:
  bool Says(const std::string& text) const {
    std::ifstream log(FLog);
    const std::string said{std::istreambuf_iterator<char>(log), {}};
    return said.find(text) != std::string::npos;
  }

  std::string FLog;
  pid_t FChild = -1;
};

// One datagram of a capture file, IP header first.
struct TPcapRecord {
  std::int64_t UnixMicroseconds = 0;
  std::vector<std::uint8_t> Datagram;
};

// The IP datagrams (IPv4 and IPv6) of a classic pcap file (tcpdump -w) on Ethernet, in order.
inline std::vector<TPcapRecord> ReadPcapFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const auto le32 = [&](std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
  };
  std::vector<TPcapRecord> records;
  if (bytes.size() < 24 || le32(0) != 0xA1B2C3D4u || le32(20) != 1) return records;
  for (std::size_t at = 24; at + 16 <= bytes.size();) {
    const std::size_t length = le32(at + 8);
    if (at + 16 + length > bytes.size()) break;
    const std::span<const std::uint8_t> frame(bytes.data() + at + 16, length);
    if (const auto offset = IpDatagramOffset(TLinkType::Ethernet, frame)) {
      const std::int64_t when = std::int64_t{le32(at)} * 1'000'000 + le32(at + 4);
      const auto datagram = frame.subspan(*offset);
      records.push_back({when, {datagram.begin(), datagram.end()}});
    }
    at += 16 + length;
  }
  return records;
}
