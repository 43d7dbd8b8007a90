// quorvel-capture ADDRESS FIRST-PORT LAST-PORT
//
// The only part of Quorvel that may hold the right to capture (CAP_NET_RAW, or set-user-ID
// root). It captures the TCP segments through the interface that holds ADDRESS, with a port of
// FIRST-PORT..LAST-PORT at either end, and writes them to its standard output, a pipe to the
// window, as a capture stream. It ends, after handing over what the system had already
// captured, when its standard input closes or on SIGTERM; at once when its output closes. It
// stops reading at the first datagram the system captured at or after the moment the window
// writes on its input (see StopMessage), which the window does not show. It never waits on its
// output: a window that does not read holds up only the capture, and a stop waits for the
// window as long as it reads, but at most half a second for a window that has stopped reading.
//
// It trusts nothing it is given: the environment is cleared before anything could read it,
// every inherited descriptor but 0, 1 and 2 is closed, the arguments are checked strictly, a
// set-user-ID helper becomes its real user again or ends, and every capability is given up as
// soon as the set-up is over, before anything is written. A user runs at most a few captures at
// once (helper/CaptureSlots.h). It never runs another program and never opens a file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>

#include "core/CaptureStream.h"
#include "core/SegmentFilter.h"
#include "core/StopLimits.h"
#include "helper/CaptureSlots.h"
#include "helper/PcapSource.h"
#include "privileges/Privileges.h"

namespace {

constexpr int kDispatchLimit = 1024;
constexpr std::size_t kFlushAt = 1024 * 1024;
// Under a flood, how long blocks of the ring may gather between two drains: half the block
// timeout, which is what a lone datagram waits, so that a flood is not shown later than that.
constexpr std::int64_t kGatherMs = TPcapSource::kBlockTimeoutMs / 2;
constexpr std::size_t kMaxAddressText = 255;
// Once this long has passed after a moment, every block of the ring that holds a datagram
// seen before that moment has been handed over by the kernel.
constexpr std::int64_t kSettleMicroseconds = (2 * TPcapSource::kBlockTimeoutMs + 10) * 1000;
// After a stop, how long the window may go without taking anything of what is left.
constexpr std::int64_t kHandOverMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(kHelperIdleHandOver).count();
static_assert(kSettleMicroseconds < kHandOverMicroseconds,
              "a stop ends before the ring has handed over what came before it");

[[noreturn]] void Usage(const char* why) {
  DropAllCapabilities();  // nothing is written while a right is held
  std::fprintf(stderr,
               "usage: quorvel-capture ADDRESS FIRST-PORT LAST-PORT "
               "(%s; run by quorvel, with a pipe as standard output)\n",
               why);
  std::_Exit(2);
}

// A port as the window writes it: decimal, no sign, no leading zero, at most 65535.
bool ParsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

void CloseInheritedDescriptors() {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
  const long limit = ::sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < (limit > 0 ? limit : 1024); ++fd)
    ::close(static_cast<int>(fd));
}

bool IsPipe(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

std::int64_t Microseconds(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

// The kernel's time stamps are wall-clock time; the pace of drains is not, so that a clock
// set back cannot hold them off.
std::int64_t NowMicroseconds() {
  return Microseconds(CLOCK_REALTIME);
}

std::int64_t MonotonicMicroseconds() {
  return Microseconds(CLOCK_MONOTONIC);
}

int MillisecondsUntil(std::int64_t due, std::int64_t now) {
  return due <= now ? 0 : static_cast<int>((due - now + 999) / 1000);
}

// A failure before the capture began: the window is told as a failed first step, whoever runs
// the helper by hand on its standard error.
[[noreturn]] void Refuse(const TCaptureError& error) {
  DropAllCapabilities();  // nothing is written while a right is held
  std::fprintf(stderr, "quorvel-capture: %s\n", error.Text.c_str());
  TCaptureStreamWriter out;
  out.Hello();
  out.Step(TCaptureStep::Open, &error);
  out.End();
  const std::span<const std::uint8_t> bytes = out.Bytes();
  (void)!::write(1, bytes.data(), bytes.size());  // into a pipe not yet written to
  std::_Exit(1);
}

class TRelay {
 public:
  TRelay(std::string ip, std::uint16_t start, std::uint16_t end, int signals)
      : FIp(std::move(ip)), FStart(start), FEnd(end), FSignals(signals) {}

  // The outcome of the set-up is written once it is over: the socket is then open, bound, in
  // promiscuous mode and filtered, or the set-up failed, and no right is held any more while
  // the window is written to, however long it takes to read.
  void Run() {
    FOut.Hello();
    const bool ready = SetUp();
    DropAllCapabilities();
    if (!ready) return Finish();
    Write();
    Loop();
    Finish();
  }

 private:
  struct TPendingDrop {
    std::int64_t LearnedAt;
    std::uint64_t Count;
  };

  // Every way it can fail ends with a failed step, which tells the window why.
  bool SetUp() {
    if (!FSource.Open()) return Failed(TCaptureStep::Open);
    FOut.Step(TCaptureStep::Open);
    if (!FSource.Bind(FIp)) return Failed(TCaptureStep::Bind);
    FOut.Step(TCaptureStep::Bind);
    if (!FSource.ReceiveAll(FStart, FEnd) || !FSource.Dropped(FDroppedSoFar))
      return Failed(TCaptureStep::ReceiveAll);
    FOut.Step(TCaptureStep::ReceiveAll);
    return true;
  }

  bool Failed(TCaptureStep step) {
    FOut.Step(step, &FSource.Error());
    return false;
  }

  void Loop() {
    pollfd fds[4] = {{FSource.Descriptor(), POLLIN, 0},
                     {0, POLLIN, 0},
                     {FSignals, POLLIN, 0},
                     {1, 0, 0}};  // an output closed by the window shows as an error
    const TPcapSource::TDatagramCallback take = [this](std::int64_t when, auto bytes) {
      Take(when, bytes);
    };
    const int ring = fds[0].fd;
    for (;;) {
      // Once stopped, its input no longer matters: it may stay readable for ever.
      if (FStopAt != 0) fds[1].fd = -1;
      // While the window has not taken all that was written, the ring is left to the kernel,
      // which counts what it must drop for want of room: the wait is for room in the pipe, for
      // a stop, or for the end of the hand-over.
      const bool backlog = Unsent();
      // While blocks come faster than the kernel's block timeout, waking for each costs more
      // than handling it: let them gather, still waking at once for a stop or a closed pipe.
      const int gather = backlog ? 0 : GatherMs();
      fds[0].fd = backlog || gather > 0 ? -1 : ring;
      fds[3].events = backlog ? POLLOUT : 0;
      int timeout = backlog ? HandOverTimeout() : Timeout();
      if (gather > 0 && (timeout < 0 || gather < timeout)) timeout = gather;
      if (::poll(fds, 4, timeout) < 0 && errno != EINTR) return Fail(errno);
      if (fds[3].revents & (POLLERR | POLLHUP)) std::_Exit(0);  // nobody left to hand over to
      if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadInput();
      if (fds[2].revents & POLLIN) {
        signalfd_siginfo info;
        (void)!::read(FSignals, &info, sizeof info);
        RequestStop();
      }
      if (backlog) {
        Write();
        if (HandOverMissed()) return;
        continue;
      }
      // Back to poll now and then under a flood, so that a stop is noticed.
      const std::int64_t began = MonotonicMicroseconds();
      bool ring_empty = false;
      bool took_any = false;
      while (!ring_empty && !FSawAfterStop && FOut.Size() < kFlushAt) {
        LearnDrops();
        const int taken = FSource.Dispatch(kDispatchLimit, take);
        if (taken < 0) return Fail(0);
        ring_empty = taken == 0;
        took_any = took_any || taken > 0;
      }
      NoteDrain(began, ring_empty && took_any);
      const std::int64_t now = NowMicroseconds();
      while (ring_empty && !FPending.empty() &&
             now - FPending.front().LearnedAt >= kSettleMicroseconds)
        EmitPendingDrop();
      WriteDrops();
      Write();
      if (FStopAt != 0 && (FSawAfterStop || (ring_empty && now - FStopAt >= kSettleMicroseconds) ||
                           HandOverMissed()))
        return;
    }
  }

  void Take(std::int64_t when, std::span<const std::uint8_t> datagram) {
    if (FStopAt != 0 && when >= FStopAt) {
      FSawAfterStop = true;  // what came after the stop is not part of this capture
      return;
    }
    // The kernel's filter lets through every IPv6 datagram behind an extension header.
    if (!IsTcpSegmentInRange(datagram, FStart, FEnd)) return;
    // Drops learned at a moment lie after every datagram the system saw before it.
    while (!FPending.empty() && when >= FPending.front().LearnedAt)
      EmitPendingDrop();
    WriteDrops();
    FOut.Datagram(when, datagram);
  }

  // Statistics read before every batch. The ring drops when it is full, and gains room only
  // when libpcap hands a block back, within a batch; so drops that happened between two
  // batches lie after every datagram stored before this reading and before every one stored
  // after it, and the marker stands exactly at the gap: this is the case of a helper held up.
  // Drops that happen within a batch, after it handed a block back, leave the marker late by
  // what the kernel stored in that block before this reading: at most one block of the ring,
  // 256 KiB of datagrams (about 1,200 segments of 130 bytes). The rare drop the kernel makes
  // while the ring has room can stand anywhere among what was stored between two readings, and
  // its marker comes at the later reading's place.
  void LearnDrops() {
    std::uint32_t dropped = 0;
    if (!FSource.Dropped(dropped)) return;
    const std::uint32_t more = dropped - FDroppedSoFar;  // the counter may wrap
    FDroppedSoFar = dropped;
    if (more != 0) FPending.push_back({NowMicroseconds(), more});
  }

  // Drops that stand at the same place make one marker.
  void EmitPendingDrop() {
    FDropsHere += FPending.front().Count;
    FPending.pop_front();
  }

  void WriteDrops() {
    FOut.Dropped(FDropsHere);
    FDropsHere = 0;
  }

  // The window's one message, the stop's moment, gathered across reads; its input's end, or
  // anything on it, is a stop all the same.
  void ReadInput() {
    const ssize_t got = ::read(0, FMessage.data() + FMessageSize, FMessage.size() - FMessageSize);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) return RequestStop();
    FMessageSize += static_cast<std::size_t>(got);
    if (FMessageSize == FMessage.size()) RequestStop(ReadStopMessage(FMessage).value_or(0));
  }

  // `at`: the moment the window was asked to stop, when it says; never later than now.
  void RequestStop(std::int64_t at = 0) {
    if (FStopAt != 0) return;
    const std::int64_t now = NowMicroseconds();
    FStopAt = at > 0 && at < now ? at : now;
    FHandOverBy = MonotonicMicroseconds() + kHandOverMicroseconds;
  }

  bool HandOverMissed() const { return FStopAt != 0 && MonotonicMicroseconds() >= FHandOverBy; }

  int HandOverTimeout() const {
    return FStopAt == 0 ? -1 : MillisecondsUntil(FHandOverBy, MonotonicMicroseconds());
  }

  // A drain that emptied the ring, begun hardly longer than a gathering after the one before
  // it, shows blocks filling faster than they time out: the next drain waits for more of them.
  // Begun later, it shows a trickle, where waiting would only add a wake-up.
  void NoteDrain(std::int64_t began, bool emptied_with_data) {
    FGather =
        emptied_with_data && FDrainBegan != 0 && began - FDrainBegan < (kGatherMs + 1) * 1000;
    FDrainBegan = began;
  }

  int GatherMs() const {
    if (!FGather || FStopAt != 0) return 0;
    const std::int64_t left = FDrainBegan + kGatherMs * 1000 - MonotonicMicroseconds();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
  }

  int Timeout() const {
    std::int64_t due = -1;
    if (FStopAt != 0) due = FStopAt + kSettleMicroseconds;
    if (!FPending.empty()) {
      const std::int64_t drop_due = FPending.front().LearnedAt + kSettleMicroseconds;
      due = due < 0 ? drop_due : std::min(due, drop_due);
    }
    return due < 0 ? -1 : MillisecondsUntil(due, NowMicroseconds());
  }

  void Fail(int code) {
    while (!FPending.empty())
      EmitPendingDrop();
    WriteDrops();
    TCaptureError error = FSource.Error();
    if (code != 0) error = {.Code = code, .Text = std::strerror(code)};
    FOut.Step(TCaptureStep::Receive, &error);
  }

  void Finish() {
    while (!FPending.empty())
      EmitPendingDrop();
    WriteDrops();
    FOut.End();
    if (FHandOverBy == 0) FHandOverBy = MonotonicMicroseconds() + kHandOverMicroseconds;
    FlushWhileTaken();
    FSource.Close();  // after the window has all: unmapping the ring takes a while
  }

  bool Unsent() const { return FSent < FOut.Size(); }

  // Hands the window what the pipe has room for, without waiting; the rest waits its turn.
  void Write() {
    const std::span<const std::uint8_t> bytes = FOut.Bytes();
    while (FSent < bytes.size()) {
      const ssize_t n = ::write(1, bytes.data() + FSent, bytes.size() - FSent);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) std::_Exit(0);  // the window is gone
      FSent += static_cast<std::size_t>(n);
      // The window takes what is handed over: it may have all of it.
      if (FHandOverBy != 0) FHandOverBy = MonotonicMicroseconds() + kHandOverMicroseconds;
      if (FSent < bytes.size()) return;  // a short write: the pipe is full
    }
    FOut.Clear();
    FSent = 0;
  }

  // What is left, as long as the window takes it before `deadline` (monotonic).
  // Writes what is left for as long as the window goes on taking it.
  void FlushWhileTaken() {
    for (Write(); Unsent(); Write()) {
      const std::int64_t now = MonotonicMicroseconds();
      if (now >= FHandOverBy) return;
      pollfd out{1, POLLOUT, 0};
      if (::poll(&out, 1, MillisecondsUntil(FHandOverBy, now)) < 0 && errno != EINTR) return;
      if (out.revents & (POLLERR | POLLHUP)) std::_Exit(0);  // the window is gone
    }
  }

  const std::string FIp;
  const std::uint16_t FStart;
  const std::uint16_t FEnd;
  const int FSignals;
  TPcapSource FSource;
  TCaptureStreamWriter FOut;
  std::size_t FSent = 0;  // of FOut's bytes
  std::uint32_t FDroppedSoFar = 0;
  std::deque<TPendingDrop> FPending;
  std::uint64_t FDropsHere = 0;  // due before the next datagram
  std::int64_t FStopAt = 0;
  std::array<std::uint8_t, kStopMessageBytes> FMessage{};
  std::size_t FMessageSize = 0;  // of FMessage read so far
  // Monotonic, once a stop is asked or the capture ends: when the window will have gone too
  // long without taking anything.
  std::int64_t FHandOverBy = 0;
  bool FSawAfterStop = false;
  std::int64_t FDrainBegan = 0;  // monotonic
  bool FGather = false;
};

}  // namespace

int main(int argc, char** argv) {
  ::clearenv();  // before anything, a library included, could read it
  CloseInheritedDescriptors();
  if (argc != 4) Usage("three arguments expected");
  const std::string_view ip = argv[1];
  std::uint16_t start = 0, end = 0;
  if (!ParsePort(argv[2], start) || !ParsePort(argv[3], end)) Usage("ports are 0 to 65535");
  if (!IsPipe(1)) Usage("standard output is not a pipe");
  // The address is the user's, as typed: the window shows why it cannot be used.
  if (ip.size() > kMaxAddressText)
    Refuse({.Code = EINVAL,
            .Text = "address longer than " + std::to_string(kMaxAddressText) + " characters"});
  // The user who runs it may not look inside: it holds a packet socket.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  // No write may hold the helper up: it must still see a stop.
  const int flags = ::fcntl(1, F_GETFL);
  if (flags < 0 || ::fcntl(1, F_SETFL, flags | O_NONBLOCK) != 0) {
    const int code = errno;
    DropAllCapabilities();
    Refuse({.Code = code,
            .Text = std::string("cannot write without waiting: ") + std::strerror(code)});
  }
  if (const TPrivilegeFault fault = KeepOnlyRawCapture()) {
    DropAllCapabilities();  // as much as the system still allows
    Refuse({.Code = fault.Code,
            .Text = std::string("cannot give up root: ") + fault.Call + ": " +
                    std::strerror(fault.Code)});
  }
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  // Never outlive the window: set after any change of user, which would clear it.
  const pid_t parent = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
  if (::getppid() != parent) return 0;
  // Each capture pins its ring: taken as the user, before anything is opened.
  const TCaptureSlot slot = TakeCaptureSlot(::getuid());
  if (slot.Code != 0) Refuse({.Code = slot.Code, .Text = slot.Text});

  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  ::sigprocmask(SIG_BLOCK, &stops, nullptr);
  const int signals = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);

  TRelay(std::string(ip), start, end, signals).Run();
  return 0;
}
