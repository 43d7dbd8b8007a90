// The capture helper run directly, as the window runs it, in situations the window cannot make
// on its own: a set-user-ID helper whose giving up of root fails, a window that stops reading,
// and more captures than one user may run at once. Needs root; every test makes its own
// network namespace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "capture/linux/CaptureHelper.h"
#include "core/CaptureStream.h"
#include "testsupport/NetnsLab.h"
#include "testsupport/TcpExchange.h"
#include "testsupport/TcpPeers.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr auto kSetUpLimit = 20s;  // a helper under the sanitizers on a busy host
// The helper waits a second for a window that does not read; this much more for a busy host.
constexpr auto kEndLimit = 1s + 2s;

std::string Beside(const std::string& name) {
  return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

// A helper started as the window starts it, ADDRESS 1 65535, inside a namespace: its input
// and output are pipes of the test's. `before_exec` runs in the child, still root. With
// `full_output`, the output pipe is full before the helper starts.
class THelper {
 public:
  THelper(const TNetns& ns, const std::string& program, const std::string& address,
          const std::function<void()>& before_exec = {}, int pipe_size = 0,
          bool full_output = false) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe2");
    if (pipe_size != 0) ::fcntl(out[0], F_SETPIPE_SZ, pipe_size);
    if (full_output) ::fcntl(out[1], F_SETFL, O_NONBLOCK);
    while (full_output && ::write(out[1], "", 1) == 1)
      ++FOffset;  // what the stream's reader skips
    const int target = ::open(("/var/run/netns/" + ns.Name()).c_str(), O_RDONLY | O_CLOEXEC);
    FPid = ::fork();
    if (FPid == 0) {
      if (::setns(target, CLONE_NEWNET) != 0) ::_exit(126);
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      if (before_exec) before_exec();
      ::execl(program.c_str(), program.c_str(), address.c_str(), "1", "65535", nullptr);
      ::_exit(127);
    }
    ::close(target);
    ::close(in[0]);
    ::close(out[1]);
    FIn = in[1];
    FOut = out[0];
    ::fcntl(FOut, F_SETFL, O_NONBLOCK);
  }
  ~THelper() {
    CloseInput();
    CloseOutput();
    if (!WaitExit(TClock::now() + 2s) && FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
  }
  THelper(const THelper&) = delete;
  THelper& operator=(const THelper&) = delete;

  pid_t Pid() const { return FPid; }
  int Output() const { return FOut; }
  // The times of the datagrams read so far.
  const std::vector<std::int64_t>& Datagrams() const { return FDatagrams; }

  // Writes `bytes` on the helper's input; true once it has read them.
  bool Tell(std::span<const std::uint8_t> bytes) {
    int unread = ::write(FIn, bytes.data(), bytes.size()) > 0 ? 1 : -1;
    for (const auto deadline = TClock::now() + kEndLimit; unread > 0 && TClock::now() < deadline;
         std::this_thread::sleep_for(1ms))
      ::ioctl(FIn, FIONREAD, &unread);
    return unread == 0;
  }

  // Whether the stream reaches its end before `deadline`.
  bool Ends(TClock::time_point deadline) {
    while (const auto event = NextEvent(deadline))
      if (*event == "end") return true;
    return false;
  }

  void CloseInput() {
    if (FIn >= 0) ::close(FIn);
    FIn = -1;
  }
  void CloseOutput() {
    if (FOut >= 0) ::close(FOut);
    FOut = -1;
  }

  // The next event other than a datagram, as a line: "open passed", "open failed (error 1,
  // missing rights): ...", "end"; nothing when the output closed or the deadline passed first.
  std::optional<std::string> NextEvent(TClock::time_point deadline) {
    for (;;) {
      try {
        while (const auto event = FReader.Next(FBytes, FOffset)) {
          switch (event->Kind) {
            case TCaptureStreamReader::TKind::Step:
              if (!event->Failed) return std::string(StepName(event->Step)) + " passed";
              return std::string(StepName(event->Step)) + " failed (error " +
                     std::to_string(event->ErrorCode) +
                     (event->MissingRights ? ", missing rights" : "") +
                     "): " + std::string(event->ErrorText);
            case TCaptureStreamReader::TKind::End:
              return "end";
            case TCaptureStreamReader::TKind::Datagram:
              FDatagrams.push_back(event->UnixMicroseconds);
              break;
            default:
              break;
          }
        }
      } catch (const ECaptureStreamError& error) {
        return std::string("malformed: ") + error.what();
      }
      if (!ReadMore(deadline)) return std::nullopt;
    }
  }

  // Every event up to the end of the stream, or up to the start of the capture.
  std::vector<std::string> Events() {
    std::vector<std::string> events;
    const auto deadline = TClock::now() + kSetUpLimit;
    while (const auto event = NextEvent(deadline)) {
      events.push_back(*event);
      if (*event == "receive-all passed") break;
    }
    return events;
  }

  // Whether the helper got through its set-up: it captures from now on.
  testing::AssertionResult Capturing() {
    const auto deadline = TClock::now() + kSetUpLimit;
    std::vector<std::string> seen;
    while (const auto event = NextEvent(deadline)) {
      seen.push_back(*event);
      if (*event == "receive-all passed") return testing::AssertionSuccess();
      if (*event != "open passed" && *event != "bind passed") break;
    }
    auto failure = testing::AssertionFailure() << "the helper did not start capturing:";
    for (const std::string& event : seen)
      failure << " [" << event << "]";
    return failure;
  }

  // Reaps the helper once it has ended, before `deadline`.
  std::optional<int> WaitExit(TClock::time_point deadline) {
    if (FPid <= 0) return FStatus;
    for (;;) {
      if (::waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FPid = -1;
        return FStatus;
      }
      if (TClock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(2ms);
    }
  }

 private:
  bool ReadMore(TClock::time_point deadline) {
    if (FOut < 0) return false;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
      if (left.count() <= 0) return false;
      pollfd out{FOut, POLLIN, 0};
      if (::poll(&out, 1, static_cast<int>(left.count())) <= 0) continue;
      std::uint8_t buffer[65536];
      const ssize_t got = ::read(FOut, buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return false;
      FBytes.insert(FBytes.end(), buffer, buffer + got);
      return true;
    }
  }

  pid_t FPid = -1;
  int FStatus = 0;
  int FIn = -1;
  int FOut = -1;
  std::vector<std::uint8_t> FBytes;
  std::size_t FOffset = 0;
  TCaptureStreamReader FReader;
  std::vector<std::int64_t> FDatagrams;
};

std::string Describe(std::optional<int> status) {
  if (!status) return "still running";
  if (WIFEXITED(*status)) return "exit status " + std::to_string(WEXITSTATUS(*status));
  if (WIFSIGNALED(*status)) return "killed by signal " + std::to_string(WTERMSIG(*status));
  return "status " + std::to_string(*status);
}

// Becomes `user` as a plain program would, never through setresuid or setresgid.
void Become(const passwd& user) {
  if (::setgroups(0, nullptr) != 0 || ::setregid(user.pw_gid, user.pw_gid) != 0 ||
      ::setreuid(user.pw_uid, user.pw_uid) != 0)
    ::_exit(125);
}

// Copies of the helper that any user may run, in a folder that honours the set-user-ID bit:
// one set-user-ID root, as the option QUORVEL_HELPER_PRIVILEGE=setuid-root installs it, and
// one with no right at all, as a build leaves it.
class THelperCopies {
 public:
  THelperCopies() {
    for (const fs::path& base : {fs::path("/tmp"), fs::path("/var/tmp"),
                                 fs::read_symlink("/proc/self/exe").parent_path()}) {
      if (const auto why = Unfit(base)) {
        FUnavailable += base.string() + ": " + *why + "; ";
        continue;
      }
      std::string pattern = (base / "quorvel-helpers-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) continue;
      FDirectory = pattern;
      ::chmod(FDirectory.c_str(), 0755);
      FSetuid = FDirectory + "/setuid/" + kCaptureHelperName;
      FPlain = FDirectory + "/plain/" + kCaptureHelperName;
      for (const std::string& copy : {FSetuid, FPlain}) {
        fs::create_directory(fs::path(copy).parent_path());
        fs::copy_file(Beside(kCaptureHelperName), copy);
        ::chmod(fs::path(copy).parent_path().c_str(), 0755);
        if (::chown(copy.c_str(), 0, 0) != 0 || ::chmod(copy.c_str(), 0755) != 0)
          FUnavailable += "cannot install " + copy + "; ";
      }
      if (::chmod(FSetuid.c_str(), 04755) != 0) FUnavailable += "cannot set " + FSetuid + "; ";
      return;
    }
  }
  ~THelperCopies() {
    if (!FDirectory.empty()) fs::remove_all(FDirectory);
  }

  // Why there are none, or nothing.
  std::optional<std::string> Unavailable() const {
    if (FDirectory.empty() || !FUnavailable.empty())
      return "no copies of the helper that any user may run: " + FUnavailable;
    return std::nullopt;
  }
  const std::string& Setuid() const { return FSetuid; }
  const std::string& Plain() const { return FPlain; }

 private:
  static std::optional<std::string> Unfit(const fs::path& base) {
    struct statvfs volume {};
    if (::statvfs(base.c_str(), &volume) != 0) return "missing";
    if (volume.f_flag & ST_NOSUID) return "mounted nosuid";
    for (fs::path folder = base;; folder = folder.parent_path()) {
      struct stat info {};
      if (::stat(folder.c_str(), &info) != 0 || !(info.st_mode & S_IXOTH))
        return "not open to every user";
      if (folder == folder.parent_path()) return std::nullopt;
    }
  }

  std::string FDirectory, FSetuid, FPlain, FUnavailable;
};

class CaptureHelperRun : public testing::Test {
 protected:
  void SetUp() override {
    if (auto reason = NetnsUnavailable()) GTEST_SKIP() << *reason;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "needs the user nobody";
    FNobody = *nobody;
  }

  passwd FNobody{};
};

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kAuditArch = 0;
#endif
#ifndef SYS_poll
#define SYS_poll SYS_ppoll
#endif

// From now on, in this process and whatever it runs, the calls that `rules` pick (given the
// call's number, jumping to the instruction after their last to refuse) fail with EPERM. Root
// may install this filter without giving up set-user-ID programs.
void RefuseCalls(std::initializer_list<sock_filter> rules) {
  sock_filter filter[16] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  std::size_t size = 4;
  for (const sock_filter& rule : rules)
    filter[size++] = rule;
  filter[size++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
  filter[size++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM);
  const sock_fprog program{static_cast<unsigned short>(size), filter};
  if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) ::_exit(124);
}

void RefuseSetresid() {
  RefuseCalls({BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_setresuid, 2, 0),
               BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_setresgid, 1, 0)});
}

// Reading a packet socket's statistics (its drop count) fails.
void RefuseDropCount() {
  RefuseCalls({BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getsockopt, 0, 4),
               BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1])),
               BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SOL_PACKET, 0, 2),
               BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
               BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_STATISTICS, 1, 0)});
}

// The first field of /proc/PID/FILE's line that starts with `key`, or the file's first field.
std::string ProcField(pid_t pid, const char* file, const std::string& key = "") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string word;
  while (in >> word && !word.starts_with(key)) {
  }
  if (!key.empty()) in >> word;
  return word;
}

// Run set-user-ID root by another user, the helper must become that user before anything
// else; when the system refuses, it says so as its first step and ends, never capturing. A
// helper without the right to capture still tries, and the system says what is missing.
TEST_F(CaptureHelperRun, ASetuidHelperThatCannotGiveUpRootRefusesToCapture) {
  if (kAuditArch == 0) GTEST_SKIP() << "no seccomp filter written for this architecture";
  const THelperCopies copies;
  if (auto reason = copies.Unavailable()) GTEST_SKIP() << *reason;
  struct TCase {
    const char* Name;
    std::string Program;
    bool RefuseSetresid;
    std::vector<std::string> Events;
    const char* Exit;  // nothing while it captures
  };
  const TCase cases[] = {
      {"no right",
       copies.Plain(),
       false,
       {"open failed (error 1, missing rights): Operation not permitted", "end"},
       nullptr},
      {"set-user-ID root",
       copies.Setuid(),
       false,
       {"open passed", "bind passed", "receive-all passed"},
       nullptr},
      {"set-user-ID root, setresuid and setresgid refused",
       copies.Setuid(),
       true,
       {"open failed (error 1): cannot give up root: setresgid: Operation not permitted", "end"},
       "exit status 1"},
  };
  TNetns ns("setuid");
  for (const TCase& c : cases) {
    THelper helper(ns, c.Program, "127.0.0.1", [&] {
      if (c.RefuseSetresid) RefuseSetresid();
      Become(FNobody);
    });
    EXPECT_EQ(helper.Events(), c.Events) << c.Name;
    if (c.Exit) {
      EXPECT_EQ(Describe(helper.WaitExit(TClock::now() + kEndLimit)), c.Exit) << c.Name;
    }
  }
}

// However its set-up fails, the helper tells the window why, as a failed step, and holds no
// right while it writes it: here its drop count cannot be read, and the window does not read.
TEST_F(CaptureHelperRun, AFailedSetUpSaysWhyAndHoldsNoRightWhileItWrites) {
  if (kAuditArch == 0) GTEST_SKIP() << "no seccomp filter written for this architecture";
  TNetns ns("setup");
  THelper helper(ns, Beside(kCaptureHelperName), "127.0.0.1", RefuseDropCount, 4096, true);
  const auto waits = [&] {  // for room in its output
    const std::string call = ProcField(helper.Pid(), "syscall");
    return call == std::to_string(SYS_ppoll) || call == std::to_string(SYS_poll);
  };
  for (const auto deadline = TClock::now() + kSetUpLimit; !waits() && TClock::now() < deadline;)
    std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(waits()) << "the helper never waited";
  EXPECT_EQ(ProcField(helper.Pid(), "status", "CapEff:"), "0000000000000000");
  EXPECT_EQ(helper.Events(),
            (std::vector<std::string>{
                "open passed", "bind passed",
                "receive-all failed (error 1, missing rights): cannot read the capture's drop "
                "count: Operation not permitted",
                "end"}));
}

// The window's stop message is honoured however its bytes come: what the system captured
// after its moment is not handed on. Any other input stops the capture all the same.
TEST_F(CaptureHelperRun, TheStopMessageInPiecesAndAnyOtherInputStop) {
  TNetns ns("message");
  THelper helper(ns, Beside(kCaptureHelperName), "127.0.0.1");
  ASSERT_TRUE(helper.Capturing());
  Exchange(ns, ns, "127.0.0.1");
  const auto message = StopMessage(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
  const std::int64_t at = *ReadStopMessage(message);
  ASSERT_TRUE(helper.Tell(std::span(message).first(3)));
  ASSERT_TRUE(helper.Tell(std::span(message).subspan(3)));
  Exchange(ns, ns, "127.0.0.1");
  EXPECT_TRUE(helper.Ends(TClock::now() + kEndLimit)) << "the stop was not heard";
  EXPECT_FALSE(helper.Datagrams().empty());
  for (const std::int64_t when : helper.Datagrams())
    EXPECT_LT(when, at);

  THelper endless(ns, Beside(kCaptureHelperName), "127.0.0.1",
                  [] { ::dup2(::open("/dev/zero", O_RDONLY), 0); });
  ASSERT_TRUE(endless.Capturing());
  EXPECT_TRUE(endless.Ends(TClock::now() + kEndLimit)) << "an input that never ends";
}

// A window that stops reading fills the helper's pipe; the helper must still end when asked,
// or at once when the window closes the pipe.
TEST_F(CaptureHelperRun, AFullPipeHoldsUpNoStop) {
  struct TCase {
    const char* Name;
    std::function<void(THelper&)> Stop;
  };
  const TCase cases[] = {
      {"SIGTERM", [](THelper& helper) { ::kill(helper.Pid(), SIGTERM); }},
      {"input closed", [](THelper& helper) { helper.CloseInput(); }},
      {"output closed", [](THelper& helper) { helper.CloseOutput(); }},
  };
  TNetns ns("full");
  constexpr std::uint16_t kPort = 5002;
  const int listener = ns.Run([] { return ListenOn("127.0.0.1", kPort); });
  for (const TCase& c : cases) {
    THelper helper(ns, Beside(kCaptureHelperName), "127.0.0.1", {}, 65536);
    ASSERT_TRUE(helper.Capturing()) << c.Name;
    // Far more than the pipe holds, in segments of up to 64 KiB on loopback.
    const int client = ns.Run([] { return ConnectTo("127.0.0.1", kPort); });
    const int server = ::accept(listener, nullptr, nullptr);
    std::thread sink([server] {
      char buffer[65536];
      while (::recv(server, buffer, sizeof buffer, 0) > 0) {
      }
      ::close(server);
    });
    const std::string chunk(1 << 16, 'q');
    for (int i = 0; i < 128; ++i)
      SendText(client, chunk);
    ::close(client);
    sink.join();
    const int capacity = ::fcntl(helper.Output(), F_GETPIPE_SZ);
    int queued = 0;
    const auto full_by = TClock::now() + kSetUpLimit;
    while (::ioctl(helper.Output(), FIONREAD, &queued) == 0 && queued < capacity - 4096 &&
           TClock::now() < full_by)
      std::this_thread::sleep_for(2ms);
    ASSERT_GE(queued, capacity - 4096) << c.Name << ": the pipe never filled";

    const auto asked = TClock::now();
    c.Stop(helper);
    const std::optional<int> status = helper.WaitExit(asked + 1s);
    RecordProperty(std::string(c.Name) + "_ms", static_cast<int>((TClock::now() - asked) / 1ms));
    EXPECT_EQ(Describe(status), "exit status 0") << c.Name;
  }
  ::close(listener);
}

// Each capture pins its ring: a user may run four at once, and a fifth is refused until one
// ends. Another user's captures are his own.
TEST_F(CaptureHelperRun, AUserRunsAtMostFourCapturesAtOnce) {
  const THelperCopies copies;
  if (auto reason = copies.Unavailable()) GTEST_SKIP() << *reason;
  TNetns ns("slots");
  const std::string helper = Beside(kCaptureHelperName);
  std::vector<std::unique_ptr<THelper>> running;
  for (int i = 0; i < 4; ++i) {
    running.push_back(std::make_unique<THelper>(ns, helper, "127.0.0.1"));
    ASSERT_TRUE(running.back()->Capturing()) << "capture " << i + 1;
  }
  {
    THelper fifth(ns, helper, "127.0.0.1");
    EXPECT_EQ(fifth.Events(), (std::vector<std::string>{
                                  "open failed (error " + std::to_string(EUSERS) +
                                      "): this user already runs 4 captures, the most at once",
                                  "end"}));
    EXPECT_EQ(Describe(fifth.WaitExit(TClock::now() + kEndLimit)), "exit status 1");
  }
  {
    THelper others(ns, copies.Setuid(), "127.0.0.1", [&] { Become(FNobody); });
    EXPECT_TRUE(others.Capturing()) << "another user";
  }
  ::kill(running.front()->Pid(), SIGKILL);
  EXPECT_TRUE(running.front()->WaitExit(TClock::now() + kEndLimit).has_value());
  THelper again(ns, helper, "127.0.0.1");
  EXPECT_TRUE(again.Capturing()) << "once one of the four has ended";
}

}  // namespace
