#pragma once

// Network namespaces that a test creates for itself, with a veth pair between two of them,
// so that real traffic never leaves the machine. Needs root and iproute2.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Why namespace tests cannot run here, or nothing when they can.
inline std::optional<std::string> NetnsUnavailable() {
  if (::geteuid() != 0) return "needs root to create network namespaces";
  if (!Shell("ip -V")) return "needs iproute2 (the ip command)";
  return std::nullopt;
}

class TNetns {
 public:
  explicit TNetns(const std::string& suffix)
      : FName("quorvel-" + std::to_string(::getpid()) + "-" + suffix) {
    Shell("ip netns del " + FName);
    if (!Shell("ip netns add " + FName)) throw std::runtime_error("ip netns add " + FName);
    Exec("ip link set lo up");
  }
  ~TNetns() { Shell("ip netns del " + FName); }
  TNetns(const TNetns&) = delete;
  TNetns& operator=(const TNetns&) = delete;

  const std::string& Name() const { return FName; }

  bool Exec(const std::string& command) const {
    return Shell("ip netns exec " + FName + " " + command);
  }

  // Runs `fn` with the calling thread inside the namespace. Sockets made there stay there,
  // and threads started there live there; the calling thread then returns to its own.
  template <class F>
  auto Run(F&& fn) const {
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/var/run/netns/" + FName).c_str(), O_RDONLY | O_CLOEXEC);
    if (home < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
      throw std::runtime_error("cannot enter " + FName);
    ::close(target);
    struct TReturn {
      int Home;
      ~TReturn() {
        ::setns(Home, CLONE_NEWNET);
        ::close(Home);
      }
    } back{home};
    return std::forward<F>(fn)();
  }

 private:
  std::string FName;
};

// Two namespaces joined by a veth pair: on "qv-a" in A, 10.199.0.1 and fd00::1; on "qv-b" in
// B, 10.199.0.2 and fd00::2; either family may be left out.
struct TVethLab {
  static constexpr const char* kAddressA = "10.199.0.1";
  static constexpr const char* kAddressB = "10.199.0.2";
  static constexpr const char* kAddress6A = "fd00::1";
  static constexpr const char* kAddress6B = "fd00::2";
  static constexpr const char* kDeviceA = "qv-a";
  static constexpr const char* kDeviceB = "qv-b";

  TNetns A{"a"};
  TNetns B{"b"};

  explicit TVethLab(bool ipv4 = true, bool ipv6 = true) {
    bool ok = A.Exec(std::string("ip link add ") + kDeviceA + " type veth peer name " + kDeviceB +
                     " netns " + B.Name());
    if (ipv4) {
      ok = ok && A.Exec(std::string("ip addr add ") + kAddressA + "/24 dev " + kDeviceA) &&
           B.Exec(std::string("ip addr add ") + kAddressB + "/24 dev " + kDeviceB);
    }
    // Without duplicate address detection, usable as soon as the link is up.
    if (ipv6) {
      ok =
          ok &&
          A.Exec(std::string("ip -6 addr add ") + kAddress6A + "/64 dev " + kDeviceA + " nodad") &&
          B.Exec(std::string("ip -6 addr add ") + kAddress6B + "/64 dev " + kDeviceB + " nodad");
    }
    ok = ok && A.Exec(std::string("ip link set ") + kDeviceA + " up") &&
         B.Exec(std::string("ip link set ") + kDeviceB + " up");
    if (!ok) throw std::runtime_error("cannot set up the veth pair");
  }

  // No IPv6 on the link at all, not even link-local addresses and their multicast reports,
  // which the capture's filter lets through for the decoder to judge: for a test that counts
  // every datagram the kernel drops.
  void DisableIpv6() const {
    const bool ok =
        A.Exec(std::string("sysctl -w net.ipv6.conf.") + kDeviceA + ".disable_ipv6=1") &&
        B.Exec(std::string("sysctl -w net.ipv6.conf.") + kDeviceB + ".disable_ipv6=1");
    if (!ok) throw std::runtime_error("cannot disable IPv6 on the veth pair");
  }
};

// Calls `read` with a file of each thread of process `pid`, /proc/<pid>/task/<tid>/<name>.
template <class F>
void ForEachThreadFile(pid_t pid, const char* name, F&& read) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = ::opendir(tasks.c_str());
  while (directory) {
    const dirent* task = ::readdir(directory);
    if (!task) break;
    if (task->d_name[0] == '.') continue;
    std::ifstream file(tasks + "/" + task->d_name + "/" + name);
    read(file);
  }
  if (directory) ::closedir(directory);
}

// The process ids of the children of process `pid`, from every one of its threads.
inline std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  ForEachThreadFile(pid, "children", [&](std::ifstream& list) {
    pid_t child = 0;
    while (list >> child)
      children.push_back(child);
  });
  return children;
}

inline std::string CommandName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  comm >> name;
  return name;
}

// Time a running process has spent on a CPU so far, in seconds, to the nanosecond: the sum of
// its threads' scheduler statistics.
inline double ProcessCpuSeconds(pid_t pid) {
  double seconds = 0;
  ForEachThreadFile(pid, "schedstat", [&](std::ifstream& stat) {
    double nanoseconds = 0;
    if (stat >> nanoseconds) seconds += nanoseconds / 1e9;
  });
  return seconds;
}
