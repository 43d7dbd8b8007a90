// The capture layer over Winsock: a raw IPv4 socket bound to the interface address and
// switched to receive-all, as Windows offers it to administrators.
#include "capture/WinSock2.h"

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
std::string KnownText(int code) {
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
    default:
      return "Winsock error";
  }
}

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

    FSocket = ::socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    if (FSocket == INVALID_SOCKET) return Fail(TCaptureStep::Open, ::WSAGetLastError());

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = ::inet_addr(target.Ip.c_str());
    if (::bind(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      return Fail(TCaptureStep::Bind, ::WSAGetLastError());

    FBufferBytes = LargeReceiveBuffer(FSocket);

    DWORD on = RCVALL_ON;
    DWORD returned = 0;
    if (::WSAIoctl(FSocket, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) !=
        0)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    // From here on the socket does not block; a receive waits on the socket's event and on
    // the wake event together.
    FReadable = ::WSACreateEvent();
    if (FReadable == WSA_INVALID_EVENT) return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    if (::WSAEventSelect(FSocket, FReadable, FD_READ) != 0)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError());
    return true;
  }

  bool Receive(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    while (batch.empty()) {
      if (!TakeWaiting(batch)) return false;
      if (!batch.empty()) return true;
      WSAEVENT events[2] = {FReadable, FWake};
      const DWORD woken = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
      if (woken == WSA_WAIT_EVENT_0 + 1) return true;
      if (woken == WSA_WAIT_FAILED) return Fail(TCaptureStep::Receive, ::WSAGetLastError());
      ::WSAResetEvent(FReadable);
    }
    return true;
  }

  // What the socket's receive buffer holds is all the system captured for it.
  bool ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    return TakeWaiting(batch) && !batch.empty();
  }

  void Close() override {
    if (FSocket != INVALID_SOCKET) ::closesocket(FSocket);
    FSocket = INVALID_SOCKET;
    if (FReadable != WSA_INVALID_EVENT) ::WSACloseEvent(FReadable);
    FReadable = WSA_INVALID_EVENT;
    {
      std::lock_guard guard(FWakeLock);
      if (FWake != WSA_INVALID_EVENT) ::WSACloseEvent(FWake);
      FWake = WSA_INVALID_EVENT;
    }
    if (FStarted) ::WSACleanup();
    FStarted = false;
  }

  TCaptureError LastError() override { return FLastError; }

  void Wake() override {
    std::lock_guard guard(FWakeLock);
    if (FWake != WSA_INVALID_EVENT) ::WSASetEvent(FWake);
  }

 private:
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

  // Appends the datagrams waiting in the socket, as many as the arena holds; false on failure.
  bool TakeWaiting(std::vector<TReceived>& batch) {
    while (FArena.size() - FUsed >= kMaxReceive) {
      char* into = reinterpret_cast<char*>(FArena.data() + FUsed);
      int received = ::recv(FSocket, into, kMaxReceive, 0);
      if (received < 0) {
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return true;
        if (error != WSAEMSGSIZE) return Fail(TCaptureStep::Receive, error);
        received = kMaxReceive;  // a datagram larger than the buffer, cut
      }
      batch.push_back({std::span(FArena.data() + FUsed, static_cast<std::size_t>(received))});
      FUsed += static_cast<std::size_t>(received);
    }
    return true;
  }

  bool Fail(TCaptureStep step, int code) {
    std::string text;
    if (code == WSAEADDRNOTAVAIL) {
      text = "no interface holds this address";
    } else {
      char* message = nullptr;
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&message), 0,
                       nullptr);
      if (message) {
        text = message;
        ::LocalFree(message);
      }
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                               text.back() == ' '))
        text.pop_back();
      if (text.empty()) text = KnownText(code);
    }
    FLastError = {step, code, text, code == WSAEACCES};
    return false;
  }

  bool FStarted = false;
  SOCKET FSocket = INVALID_SOCKET;
  WSAEVENT FReadable = WSA_INVALID_EVENT;
  std::mutex FWakeLock;  // Wake against Cleanup
  WSAEVENT FWake = WSA_INVALID_EVENT;
  TCaptureError FLastError;
  std::vector<std::uint8_t> FArena = std::vector<std::uint8_t>(std::size_t{1} << 20);
  std::size_t FUsed = 0;
  int FBufferBytes = 0;  // of the socket's receive buffer, 0 for the system's own
};

}  // namespace

std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer() {
  return std::make_unique<TWinsockCaptureLayer>();
}
