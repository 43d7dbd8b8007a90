// The capture layer over Winsock: a raw IPv4 socket bound to the interface address and
// switched to receive-all, as Windows offers it to administrators.
#include "capture/WinSock2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"

namespace {

constexpr int kMaxReceive = 65535;
// Windows counts no drop for a raw socket: what overflows its receive buffer is lost without
// a word. As much as the Linux capture's ring, so that a burst waits rather than vanishes;
// smaller sizes if the system refuses that.
constexpr int kReceiveBufferBytes = 32 << 20;
constexpr int kSmallestReceiveBufferBytes = 1 << 20;

// What a capture may meet, for systems (wine among them) whose messages lack Winsock's.
std::string OwnText(int code) {
  switch (code) {
    case WSAEACCES:
      return "Permission denied";
    case WSAEPROTONOSUPPORT:
    case WSAESOCKTNOSUPPORT:
    case WSAEPFNOSUPPORT:
      return "this system offers no raw IPv4 socket";
    case WSAEOPNOTSUPP:
    case WSAEINVAL:
      return "receive-all mode is not available on this socket";
    case WSAENETDOWN:
      return "the network is down";
    case WSAEADDRNOTAVAIL:
      return "the requested address is not valid in its context";
    case WSAENETRESET:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return "the connection was reset";
    default:
      return "Winsock error";
  }
}

// The system's text for a Winsock error, in English as the rest of the message is: in the
// system's language when it has no English text, in our own words when it has none at all.
std::string SystemText(int code) {
  for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
    char* message = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), language,
                     reinterpret_cast<char*>(&message), 0, nullptr);
    if (!message) continue;
    std::string text = message;
    ::LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' '))
      text.pop_back();
    if (!text.empty()) return text;
  }
  return OwnText(code);
}

// What ends a running capture, named for the user. The documentation of recv lists, among
// others, WSAENETDOWN ("the network subsystem has failed"), WSAENETRESET (for a datagram
// socket: a time to live expired), WSAECONNRESET (for a datagram socket: an earlier send drew
// an ICMP port unreachable) and WSAECONNABORTED; it says nothing of raw sockets, nor of an
// adapter disabled, a cable pulled or a resume from sleep. WSAEADDRNOTAVAIL is not listed for
// recv; should it come, the bound address has left the host (the adapter's address released).
// So these names follow the documented meanings, which is the most a capture can tell.
const char* ReceiveCase(int code) {
  switch (code) {
    case WSAENETDOWN:
      return "the interface went down";
    case WSAEADDRNOTAVAIL:
      return "the address went away";
    case WSAENETRESET:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return "the system reset the capture's socket (an adapter reset, or a resume from sleep)";
    default:
      return nullptr;
  }
}

// How long a stopped capture goes on handing over what had arrived before the stop: well
// within the window's wait for it (kHandOverLimit).
constexpr std::chrono::milliseconds kHandOverTime{200};
static_assert(kHandOverTime * 4 < kHandOverLimit);

// One raw socket in receive-all mode, with the event that tells it has datagrams waiting.
struct TRawSocket {
  SOCKET Socket = INVALID_SOCKET;
  WSAEVENT Readable = WSA_INVALID_EVENT;
  int BufferBytes = 0;  // of its receive buffer, 0 for the system's own
  bool Empty = false;   // during the hand-over: nothing more waits in it
};

class TWinsockCaptureLayer final : public TCaptureLayer {
 public:
  ~TWinsockCaptureLayer() override { Close(); }

  bool Open(const TCaptureTarget& target) override {
    WSADATA data;
    const int status = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (status != 0) return Fail(TCaptureStep::Startup, status);
    FStarted = true;
    {
      std::lock_guard guard(FWakeLock);
      FWake = ::WSACreateEvent();
    }
    if (FWake == WSA_INVALID_EVENT) return Fail(TCaptureStep::Startup, ::WSAGetLastError());

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = ::inet_addr(target.Ip.c_str());
    return OpenSocket(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }

  bool Receive(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    // Room for the sockets' events and the wake.
    WSAEVENT events[WSA_MAXIMUM_WAIT_EVENTS];
    DWORD count = 0;
    for (const TRawSocket& raw : FSockets)
      events[count++] = raw.Readable;
    events[count++] = FWake;
    while (batch.empty()) {
      if (!TakeWaiting(batch)) return false;
      if (!batch.empty()) return true;
      const DWORD woken = ::WSAWaitForMultipleEvents(count, events, FALSE, WSA_INFINITE, FALSE);
      if (woken == WSA_WAIT_FAILED) return Fail(TCaptureStep::Receive, ::WSAGetLastError());
      if (woken == WSA_WAIT_EVENT_0 + count - 1) return true;
      // A socket's event stays set until reset; a datagram that arrives after the reset sets it
      // again, and TakeWaiting empties every socket before the next wait.
      for (const TRawSocket& raw : FSockets)
        ::WSAResetEvent(raw.Readable);
    }
    return true;
  }

  // Receive-all went off at the stop (Stop): what the sockets hold is what arrived before it.
  // It is handed over until they are empty, bounded in time, and in bytes by what their
  // buffers could hold, should a system go on delivering after receive-all is off.
  bool ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    if (!FHandingOver) {
      FHandingOver = true;
      SwitchReceiveAllOff();  // also when the stop came before Open had switched it on
      const std::int64_t stop = FStopTicks.load();
      FHandOverEnd =
          (stop != 0 ? TClock::time_point(TClock::duration(stop)) : TClock::now()) + kHandOverTime;
      FHandOverBytes = 0;
      for (TRawSocket& raw : FSockets)
        FHandOverBytes += raw.BufferBytes > 0 ? raw.BufferBytes : kSmallestReceiveBufferBytes;
    }
    if (TClock::now() >= FHandOverEnd || FHandOverBytes <= 0) return false;
    const std::size_t room = std::min<std::size_t>(FArena.size(), FHandOverBytes + kMaxReceive);
    if (!TakeWaiting(batch, room, FHandOverEnd)) return false;
    for (const TReceived& received : batch)
      FHandOverBytes -= static_cast<std::int64_t>(received.Datagram.size());
    return !batch.empty();
  }

  void Close() override {
    {
      std::lock_guard guard(FWakeLock);
      for (TRawSocket& raw : FSockets) {
        if (raw.Socket != INVALID_SOCKET) ::closesocket(raw.Socket);
        if (raw.Readable != WSA_INVALID_EVENT) ::WSACloseEvent(raw.Readable);
      }
      FSockets.clear();
      if (FWake != WSA_INVALID_EVENT) ::WSACloseEvent(FWake);
      FWake = WSA_INVALID_EVENT;
    }
    if (FStarted) ::WSACleanup();
    FStarted = false;
  }

  TCaptureError LastError() override { return FLastError; }

  // The capture thread wakes its layer to stop it: receive-all goes off here, on the stopping
  // thread, so that what arrives after the stop stays out of the capture, however long the
  // capture thread takes to come back.
  void Stop() override {
    std::lock_guard guard(FWakeLock);
    std::int64_t none = 0;
    FStopTicks.compare_exchange_strong(none, TClock::now().time_since_epoch().count());
    SwitchReceiveAllOffLocked();
    if (FWake != WSA_INVALID_EVENT) ::WSASetEvent(FWake);
  }

 private:
  using TClock = std::chrono::steady_clock;

  // Socket, bind, receive buffer, receive-all and its event, for one address family.
  bool OpenSocket(int family, const sockaddr* address, int address_size) {
    TRawSocket raw;
    raw.Socket = ::socket(family, SOCK_RAW, IPPROTO_IP);
    if (raw.Socket == INVALID_SOCKET) return Fail(TCaptureStep::Open, ::WSAGetLastError());
    {
      std::lock_guard guard(FWakeLock);
      FSockets.push_back(raw);  // from here on Close releases it
    }
    if (::bind(raw.Socket, address, address_size) != 0)
      return Fail(TCaptureStep::Bind, ::WSAGetLastError());
    FSockets.back().BufferBytes = LargeReceiveBuffer(raw.Socket);
    {
      // Against a stop meanwhile: once stopped, receive-all stays off.
      std::lock_guard guard(FWakeLock);
      if (FStopTicks.load() == 0 && !SwitchReceiveAll(raw.Socket, RCVALL_ON))
        return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    }
    // From here on the socket does not block; a receive waits on the sockets' events and on
    // the wake event together.
    raw.Readable = ::WSACreateEvent();
    if (raw.Readable == WSA_INVALID_EVENT)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    FSockets.back().Readable = raw.Readable;
    if (::WSAEventSelect(raw.Socket, raw.Readable, FD_READ) != 0)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    return true;
  }

  static bool SwitchReceiveAll(SOCKET socket, DWORD mode) {
    DWORD returned = 0;
    return ::WSAIoctl(socket, SIO_RCVALL, &mode, sizeof mode, nullptr, 0, &returned, nullptr,
                      nullptr) == 0;
  }

  void SwitchReceiveAllOff() {
    std::lock_guard guard(FWakeLock);
    SwitchReceiveAllOffLocked();
  }

  // Should it fail, the hand-over's bounds still hold.
  void SwitchReceiveAllOffLocked() {
    for (const TRawSocket& raw : FSockets)
      if (raw.Socket != INVALID_SOCKET) SwitchReceiveAll(raw.Socket, RCVALL_OFF);
  }

  // Sets the largest receive buffer the system grants, from kReceiveBufferBytes down; its
  // size, or 0 when the system kept its own.
  static int LargeReceiveBuffer(SOCKET socket) {
    for (int bytes = kReceiveBufferBytes; bytes >= kSmallestReceiveBufferBytes; bytes /= 2) {
      if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                       sizeof bytes) == 0)
        return bytes;
    }
    return 0;
  }

  // Appends the datagrams waiting in the sockets, taking from each in turn, until they are all
  // empty, the arena holds `room` bytes, or `until` has passed (it is read every few
  // datagrams); false on failure. A stop ends it early, so that the capture thread comes to the
  // hand-over and its bounds at once.
  bool TakeWaiting(std::vector<TReceived>& batch, std::size_t room = SIZE_MAX,
                   TClock::time_point until = TClock::time_point::max()) {
    room = std::min(room, FArena.size());
    for (TRawSocket& raw : FSockets)
      raw.Empty = false;
    const bool stopped = FStopTicks.load() != 0;
    std::size_t empty = 0;
    for (unsigned round = 1; empty < FSockets.size() && room - FUsed >= kMaxReceive; ++round) {
      if (round % 32 == 0 &&
          (TClock::now() >= until || (!stopped && FStopTicks.load(std::memory_order_relaxed))))
        break;
      empty = 0;
      for (TRawSocket& raw : FSockets) {
        if (raw.Empty || room - FUsed < kMaxReceive) {
          empty += raw.Empty;
          continue;
        }
        char* into = reinterpret_cast<char*>(FArena.data() + FUsed);
        int received = ::recv(raw.Socket, into, kMaxReceive, 0);
        if (received < 0) {
          const int error = ::WSAGetLastError();
          if (error == WSAEWOULDBLOCK) {
            raw.Empty = true;
            ++empty;
            continue;
          }
          if (error != WSAEMSGSIZE) return Fail(TCaptureStep::Receive, error);
          received = kMaxReceive;  // a datagram larger than the buffer, cut
        }
        batch.push_back({std::span(FArena.data() + FUsed, static_cast<std::size_t>(received))});
        FUsed += static_cast<std::size_t>(received);
      }
    }
    return true;
  }

  bool Fail(TCaptureStep step, int code) {
    FLastError = WinsockError(step, code);
    return false;
  }

  bool FStarted = false;
  std::mutex FWakeLock;  // Stop against Open and Close: the sockets' list and the wake event
  std::vector<TRawSocket> FSockets;  // IPv4's; changed under FWakeLock
  WSAEVENT FWake = WSA_INVALID_EVENT;
  std::atomic<std::int64_t> FStopTicks{0};  // the stop's time on TClock, 0 before it
  TCaptureError FLastError;
  std::vector<std::uint8_t> FArena = std::vector<std::uint8_t>(std::size_t{1} << 20);
  std::size_t FUsed = 0;
  bool FHandingOver = false;
  TClock::time_point FHandOverEnd;
  std::int64_t FHandOverBytes = 0;  // what the hand-over may still take
};

}  // namespace

TCaptureError WinsockError(TCaptureStep step, int code) {
  std::string text;
  if (code == WSAEADDRNOTAVAIL && step != TCaptureStep::Receive) {
    text = "no interface holds this address";
  } else {
    text = SystemText(code);
    if (const char* name = step == TCaptureStep::Receive ? ReceiveCase(code) : nullptr)
      text = std::string(name) + ": " + text;
  }
  return {step, code, text, code == WSAEACCES};
}

std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer() {
  return std::make_unique<TWinsockCaptureLayer>();
}
