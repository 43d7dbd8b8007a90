// The capture layer of the window on Linux. The window holds no right to capture: each
// capture starts the capture helper, the one small program that may open a packet socket, and
// reads the stream it writes. Stop tells the helper the moment of the stop on its standard
// input and closes it; the helper then hands over what the system had captured before that
// moment and ends the stream. A stream that ends otherwise after a stop is a hand-over cut
// short.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "capture/CaptureLayer.h"
#include "capture/linux/CaptureHelper.h"
#include "core/CaptureStream.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = std::size_t{1} << 20;
constexpr int kPipeSize = 1 << 20;
// Where an installed helper lies, seen from the folder of the installed window.
constexpr const char* kHelperFromBin = QUORVEL_HELPER_FROM_BIN;
// Enough for the capture thread to fill its records in one go, small enough that the window
// sees a flood in steady slices.
constexpr std::size_t kMaxBatch = 16384;

std::string Describe(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "status " + std::to_string(status);
}

class THelperCaptureLayer final : public TCaptureLayer {
 public:
  // An empty `helper`: none was found, for the reason `missing` (an errno).
  THelperCaptureLayer(std::string helper, int missing)
      : FHelper(std::move(helper)),
        FMissing(missing),
        FWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        FWakeError(errno) {}
  ~THelperCaptureLayer() override {
    Close();
    if (FWake >= 0) ::close(FWake);
  }

  bool Open(const TCaptureTarget& target) override {
    if (FWake < 0) return Fail(TCaptureStep::Startup, FWakeError, std::strerror(FWakeError));
    if (FHelper.empty())
      return Fail(TCaptureStep::Open, FMissing,
                  std::string("cannot find the capture helper: cannot read /proc/self/exe: ") +
                      std::strerror(FMissing));
    if (!Spawn(target)) return false;
    for (const TCaptureStep step :
         {TCaptureStep::Open, TCaptureStep::Bind, TCaptureStep::ReceiveAll})
      if (!AwaitStep(step)) return false;
    return true;
  }

  bool Receive(std::vector<TReceived>& batch) override {
    batch.clear();
    Compact();
    for (;;) {
      if (!TakeFrames(batch)) return false;
      if (!batch.empty()) return true;
      if (FEnded)
        return Fail(TCaptureStep::Receive, ECANCELED,
                    "the capture helper stopped (" + Reap() + ")");
      switch (ReadMore(true, TClock::time_point::max())) {
        case TRead::Data:
          continue;
        case TRead::Woken:
          return true;
        case TRead::Closed:
          TakeFrames(batch);
          if (!batch.empty()) return true;  // the failure comes with the next call
          return Fail(TCaptureStep::Receive, EPIPE,
                      "the capture helper ended unexpectedly (" + Reap() + ")");
        case TRead::Failed:
          return false;
      }
    }
  }

  // The hand-over is whole once the stream has ended; a stream that breaks off before, or a
  // helper that does not hand over in time, cuts it short. A failure the helper reports is
  // part of its stream.
  THandOver ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    if (FIn >= 0) TellStop();
    Compact();
    if (FCutShort) return THandOver::CutShort;
    if (FEnded) return THandOver::Complete;
    for (;;) {
      const bool taken = TakeFrames(batch);
      if (!batch.empty()) return THandOver::More;  // what follows comes with the next call
      if (FEnded || (!taken && FReportedFailure)) return THandOver::Complete;
      if (!taken || ReadMore(false, FHandOverDeadline) != TRead::Data) {
        FCutShort = true;
        return THandOver::CutShort;
      }
    }
  }

  void Close() override {
    if (FIn >= 0) ::close(FIn);
    if (FOut >= 0) ::close(FOut);  // a helper still writing gets EPIPE and ends
    FIn = FOut = -1;
    if (FChild > 0) Reap();
  }

  TCaptureError LastError() override { return FLastError; }

  void Stop(std::int64_t unix_microseconds) override {
    std::int64_t unset = 0;
    FStopAt.compare_exchange_strong(unset, unix_microseconds);
    const std::uint64_t one = 1;
    if (FWake >= 0) (void)!::write(FWake, &one, sizeof one);
  }

 private:
  enum class TRead { Data, Woken, Closed, Failed };

  // The stop's moment, so that the helper can stop reading at the click; then the close, its
  // signal to hand over what it holds and end. Eight bytes always fit the empty pipe: a
  // helper that does not take them has closed its input, and is gone.
  void TellStop() {
    auto wait = kHelperHandOver;
    if (const std::int64_t at = FStopAt.load(); at != 0) {
      const auto message = StopMessage(at);
      ssize_t written;
      do {
        written = ::write(FIn, message.data(), message.size());
      } while (written < 0 && errno == EINTR);
      if (written < 0 && errno == EPIPE) wait = kGoneHelperHandOver;
    }
    ::close(FIn);
    FIn = -1;
    FHandOverDeadline = TClock::now() + wait;
  }

  bool Spawn(const TCaptureTarget& target) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return Fail(TCaptureStep::Open, errno, std::strerror(errno));
    if (::pipe2(out, O_CLOEXEC) != 0) {
      const int code = errno;
      ::close(in[0]);
      ::close(in[1]);
      return Fail(TCaptureStep::Open, code, std::strerror(code));
    }
    ::fcntl(out[0], F_SETPIPE_SZ, kPipeSize);  // fewer stalls under a flood; best effort

    const std::string start = std::to_string(target.PortStart);
    const std::string end = std::to_string(target.PortEnd);
    // The address goes as typed, up to a first NUL, as inet_addr always read it.
    const std::string ip = target.Ip.c_str();
    char* const argv[] = {const_cast<char*>(FHelper.c_str()), const_cast<char*>(ip.c_str()),
                          const_cast<char*>(start.c_str()), const_cast<char*>(end.c_str()),
                          nullptr};
    char* const envp[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int status = ::posix_spawn(&FChild, FHelper.c_str(), &actions, &attributes, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    FIn = in[1];
    FOut = out[0];
    if (status != 0) {
      FChild = -1;
      Close();
      // Not being allowed to run the helper is not being allowed to capture.
      return Fail(TCaptureStep::Open, status, std::strerror(status),
                  status == EACCES || status == EPERM);
    }
    FBuffer.resize(kReadSize + TCaptureStreamWriter::kMaxPayload + 4);
    return true;
  }

  bool AwaitStep(TCaptureStep step) {
    const auto deadline = TClock::now() + kSetupLimit;
    for (;;) {
      std::optional<TCaptureStreamReader::TEvent> event;
      if (!NextEvent(event, step)) return false;
      if (event) {
        if (event->Kind != TCaptureStreamReader::TKind::Step || event->Step != step)
          return Fail(step, EPROTO, "the capture helper ended before its set-up was done");
        if (event->Failed)
          return Fail(step, event->ErrorCode, std::string(event->ErrorText), event->MissingRights);
        return true;
      }
      switch (ReadMore(true, deadline, step)) {
        case TRead::Data:
          continue;
        case TRead::Woken:
          return Fail(step, EINTR, "stopped during set-up");
        case TRead::Closed:
          return Fail(step, EPIPE,
                      "the capture helper " + FHelper + " ended before its set-up was done (" +
                          Reap() + ")");
        case TRead::Failed:
          return false;
      }
    }
  }

  // The next whole event read so far, or nothing yet; false, with the reason kept, when the
  // stream is not the helper's.
  bool NextEvent(std::optional<TCaptureStreamReader::TEvent>& event,
                 TCaptureStep step = TCaptureStep::Receive) {
    try {
      event = FReader.Next(Unread(), FBegin);
      return true;
    } catch (const ECaptureStreamError& error) {
      return Fail(step, EPROTO,
                  std::string("the capture helper sent a malformed stream: ") + error.what());
    }
  }

  // Moves the events read so far into `batch`; false once the helper reported a failure or the
  // stream went wrong, after the events before it were taken.
  bool TakeFrames(std::vector<TReceived>& batch) {
    if (FFailed) return false;
    for (;;) {
      FReader.TakeDatagrams(Unread(), FBegin, batch, kMaxBatch);
      if (batch.size() >= kMaxBatch) return true;
      std::optional<TCaptureStreamReader::TEvent> event;
      if (!NextEvent(event)) {
        FFailed = true;
        return !batch.empty();  // the failure comes with the next call
      }
      if (!event) return true;
      switch (event->Kind) {
        case TCaptureStreamReader::TKind::Datagram:
          batch.push_back({event->Bytes, event->UnixMicroseconds, 0});
          break;
        case TCaptureStreamReader::TKind::Dropped:
          batch.push_back({{}, 0, event->Dropped});
          break;
        case TCaptureStreamReader::TKind::Step:
          Fail(TCaptureStep::Receive, event->ErrorCode, std::string(event->ErrorText),
               event->MissingRights);
          FFailed = FReportedFailure = true;
          return !batch.empty();
        case TCaptureStreamReader::TKind::End:
          FEnded = true;
          return true;
      }
    }
  }

  // Reads what the helper wrote, waiting until something comes, the deadline passes, or (when
  // `wakeable`) a stop is asked for.
  TRead ReadMore(bool wakeable, TClock::time_point deadline,
                 TCaptureStep step = TCaptureStep::Receive) {
    if (FOut < 0) return TRead::Closed;
    if (FEnd == FBuffer.size()) {
      Fail(step, EPROTO, "the capture helper sent an oversized frame");
      return TRead::Failed;
    }
    // Once stopped, a wakeable read never waits: the wake may have been taken by a read the
    // capture thread made before it saw the stop.
    if (wakeable && FStopAt.load() != 0) return TRead::Woken;
    for (;;) {
      pollfd fds[2] = {{FOut, POLLIN, 0}, {FWake, POLLIN, 0}};
      int timeout = -1;
      if (deadline != TClock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0) {
          Fail(step, ETIMEDOUT, "the capture helper does not answer");
          return TRead::Failed;
        }
        timeout = static_cast<int>(left.count());
      }
      const int ready = ::poll(fds, wakeable ? 2 : 1, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        Fail(step, errno, std::strerror(errno));
        return TRead::Failed;
      }
      if (wakeable && (fds[1].revents & POLLIN)) {
        std::uint64_t count;
        (void)!::read(FWake, &count, sizeof count);
        return TRead::Woken;
      }
      if (ready == 0) continue;  // the deadline is checked above
      const std::size_t room = std::min(kReadSize, FBuffer.size() - FEnd);
      const ssize_t got = ::read(FOut, FBuffer.data() + FEnd, room);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        Fail(step, errno, std::strerror(errno));
        return TRead::Failed;
      }
      if (got == 0) return TRead::Closed;
      FEnd += static_cast<std::size_t>(got);
      return TRead::Data;
    }
  }

  std::span<const std::uint8_t> Unread() const { return std::span(FBuffer.data(), FEnd); }

  // The bytes of the last batch are no longer needed: keep only an unfinished frame.
  void Compact() {
    if (FBegin == 0) return;
    std::memmove(FBuffer.data(), FBuffer.data() + FBegin, FEnd - FBegin);
    FEnd -= FBegin;
    FBegin = 0;
  }

  // Waits for the helper to exit, ending it if it does not; tells how it ended.
  std::string Reap() {
    if (FChild <= 0) return FReaped;
    int status = 0;
    const auto deadline = TClock::now() + kHelperExitGrace;
    pid_t done = 0;
    while ((done = ::waitpid(FChild, &status, WNOHANG)) == 0 && TClock::now() < deadline)
      std::this_thread::sleep_for(2ms);
    if (done == 0) {
      ::kill(FChild, SIGKILL);
      done = ::waitpid(FChild, &status, 0);
    }
    FChild = -1;
    FReaped = done > 0 ? Describe(status) : std::string(std::strerror(errno));
    return FReaped;
  }

  bool Fail(TCaptureStep step, int code, std::string text, bool missing_rights = false) {
    FLastError = {step, code, std::move(text), missing_rights};
    return false;
  }

  const std::string FHelper;
  const int FMissing;  // why there is no helper, when FHelper is empty
  pid_t FChild = -1;
  std::string FReaped;
  int FIn = -1;     // the helper's standard input; closing it asks for the end
  int FOut = -1;    // the helper's standard output, its stream
  const int FWake;  // written by Stop, from any thread
  std::atomic<std::int64_t> FStopAt{0};  // set by the first Stop
  bool FCutShort = false;                // the hand-over broke off
  const int FWakeError;
  TCaptureStreamReader FReader;
  std::vector<std::uint8_t> FBuffer;
  std::size_t FBegin = 0;  // the next unread byte
  std::size_t FEnd = 0;    // past the last byte read
  bool FEnded = false;
  bool FFailed = false;
  bool FReportedFailure = false;  // the helper's own, in its stream
  TClock::time_point FHandOverDeadline = TClock::time_point::max();
  TCaptureError FLastError;
};

}  // namespace

std::string CaptureHelperPath(int* missing) {
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof self || self[0] != '/') {
    if (missing)
      *missing = length < 0 ? errno : length > 0 && self[0] == '/' ? ENAMETOOLONG : EINVAL;
    return {};
  }
  const std::string path(self, static_cast<std::size_t>(length));
  const std::string directory = path.substr(0, path.rfind('/'));
  const std::string beside = directory + "/" + kCaptureHelperName;
  if (::access(beside.c_str(), F_OK) == 0) return beside;
  return directory + "/" + kHelperFromBin;
}

std::unique_ptr<TCaptureLayer> MakeHelperCaptureLayer(std::string helper, int missing) {
  // A helper gone while the window still writes to it must not end the window: a closed pipe
  // is only the end of the helper's stream. Set once, unless the program handles it itself.
  static std::once_flag ignore_sigpipe;
  std::call_once(ignore_sigpipe, [] {
    struct sigaction old {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
      ::signal(SIGPIPE, SIG_IGN);
  });
  return std::make_unique<THelperCaptureLayer>(std::move(helper), missing);
}

std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer() {
  int missing = 0;
  std::string helper = CaptureHelperPath(&missing);
  return MakeHelperCaptureLayer(std::move(helper), missing);
}
