// The capture layer over Winsock: on the interface that holds the typed address, a raw socket
// of each IP version bound to one of its addresses and switched to receive-all, as Windows
// offers it to administrators; one capture thread receives from both.
#include "capture/windows/WinsockCapture.h"

#include <mswsock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"

namespace {

constexpr int kMaxReceive = 65535;
// What one receive may fill of the arena: for IPv6, room for a header of our own in front.
constexpr std::size_t kReceiveRoom = kIpv6HeaderBytes + kMaxReceive;
// Windows counts no drop for a raw socket: what overflows its receive buffer is lost without
// a word. As much as the Linux capture's ring, so that a burst waits rather than vanishes;
// smaller sizes if the system refuses that.
constexpr int kReceiveBufferBytes = 32 << 20;
constexpr int kSmallestReceiveBufferBytes = 1 << 20;

// What a capture may meet, for systems (wine among them) whose messages lack Winsock's.
std::string OwnText(int code, int family) {
  switch (code) {
    case WSAEACCES:
      return "Permission denied";
    case WSAEPROTONOSUPPORT:
    case WSAESOCKTNOSUPPORT:
    case WSAEPFNOSUPPORT:
      return family == AF_INET6 ? "this system offers no raw IPv6 socket"
                                : "this system offers no raw IPv4 socket";
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
std::string SystemText(int code, int family) {
  for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
    wchar_t* message = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), language,
                     reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (!message) continue;
    // In UTF-8, as every text of the program.
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, message, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, message, -1, text.data(), length, nullptr, nullptr);
    text.resize(text.size() - 1);
    ::LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' '))
      text.pop_back();
    if (!text.empty()) return text;
  }
  return OwnText(code, family);
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

// One raw socket in receive-all mode, with the event that tells it has datagrams waiting.
struct TRawSocket {
  SOCKET Socket = INVALID_SOCKET;
  WSAEVENT Readable = WSA_INVALID_EVENT;
  int Family = AF_INET;
  // IPv6's receive, which also tells the datagram's addresses.
  LPFN_WSARECVMSG ReceiveMessage = nullptr;
  int BufferBytes = 0;  // of its receive buffer, 0 for the system's own
  bool Empty = false;   // during the hand-over: nothing more waits in it
};

// The interfaces and their addresses, as GetAdaptersAddresses lists them; null, with the
// error in `result`, when it cannot.
std::unique_ptr<std::byte[]> ReadAdapters(ULONG& result) {
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list may grow between the call that sizes it and the one that fills it.
  ULONG size = 16 * 1024;
  std::unique_ptr<std::byte[]> buffer;
  result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer = std::make_unique<std::byte[]>(size);
    result = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  if (result != NO_ERROR) buffer.reset();
  return buffer;
}

const char* VersionName(int family) {
  return family == AF_INET6 ? "IPv6" : "IPv4";
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

    // The socket of the typed address's version is bound to it, and the system tells whether
    // an interface holds it, as it always did; the interface found with it gives the other
    // version's address, whose capture is a bonus: without it the capture goes on, and says
    // why in a notice.
    const TTypedAddress typed = ReadTypedAddress(target.Ip);
    ULONG listed = NO_ERROR;
    const std::unique_ptr<std::byte[]> adapters = ReadAdapters(listed);
    TInterfaceBinding binding;
    if (adapters)
      binding =
          InterfaceBinding(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(adapters.get()), typed);
    const int other = typed.Family == AF_INET6 ? AF_INET : AF_INET6;
    if (typed.Family == AF_INET6) {
      if (!OpenSocket(binding.Ipv6 ? *binding.Ipv6 : typed.Ipv6)) return false;
    } else if (!OpenSocket(typed.Ipv4)) {
      return false;
    }
    std::string reason;
    if (!adapters) {
      reason =
          "its interface's addresses could not be read (error " + std::to_string(listed) + ")";
    } else if (!binding.Found) {
      reason = "no interface lists this address";
    } else if (other == AF_INET6 ? !binding.Ipv6 : !binding.Ipv4) {
      reason = std::string("it has no ") + VersionName(other) + " address";
    } else if (other == AF_INET6 ? !OpenSocket(*binding.Ipv6) : !OpenSocket(*binding.Ipv4)) {
      reason = "failed at " + std::string(StepName(FLastError.Step)) + ": " + FLastError.Text +
               " (error " + std::to_string(FLastError.Code) + ")";
      FLastError = {};
      CloseLastSocket();
    }
    if (!reason.empty())
      FNotice = std::string(VersionName(other)) + " is not captured on this interface: " + reason;
    return true;
  }

  bool Receive(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    TakeNotice(batch);
    // Room for the sockets' events and the wake.
    WSAEVENT events[WSA_MAXIMUM_WAIT_EVENTS];
    DWORD count = 0;
    for (const TRawSocket& raw : FSockets)
      events[count++] = raw.Readable;
    events[count++] = FWake;
    for (;;) {
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
  }

  // Receive-all went off at the stop (Stop): what the sockets hold is what arrived before it.
  // It is handed over until they are empty, bounded in time, and in bytes by what their
  // buffers could hold, should a system go on delivering after receive-all is off.
  // A failure ends the hand-over as it ends a capture, without a word.
  THandOver ReceiveCaptured(std::vector<TReceived>& batch) override {
    batch.clear();
    FUsed = 0;
    TakeNotice(batch);
    if (!FHandingOver) {
      FHandingOver = true;
      SwitchReceiveAllOff();  // also when the stop came before Open had switched it on
      const std::int64_t stop = FStopTicks.load();
      // Receive-all is off and the byte count bounds the work; the time bound only keeps a
      // starved thread within the window's wait for it.
      FHandOverEnd = (stop != 0 ? TClock::time_point(TClock::duration(stop)) : TClock::now()) +
                     kSocketHandOver;
      FHandOverBytes = 0;
      for (TRawSocket& raw : FSockets)
        FHandOverBytes += raw.BufferBytes > 0 ? raw.BufferBytes : kSmallestReceiveBufferBytes;
    }
    if (FHandOverBytes <= 0) return THandOver::Complete;
    if (TClock::now() >= FHandOverEnd) {
      const bool emptied = std::all_of(FSockets.begin(), FSockets.end(),
                                       [](const TRawSocket& raw) { return raw.Empty; });
      return emptied ? THandOver::Complete : THandOver::CutShort;
    }
    const std::size_t room = std::min<std::size_t>(
        FArena.size(), static_cast<std::size_t>(FHandOverBytes) + kReceiveRoom);
    if (!TakeWaiting(batch, room, FHandOverEnd)) return THandOver::Complete;
    for (const TReceived& received : batch)
      FHandOverBytes -= static_cast<std::int64_t>(received.Datagram.size());
    return batch.empty() ? THandOver::Complete : THandOver::More;
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
  // Receive-all off is this layer's cut at the stop: Windows stamps no datagram, so the
  // capture thread has no moment to cut at, and the stop's own moment is not needed here.
  void Stop(std::int64_t) override {
    std::lock_guard guard(FWakeLock);
    std::int64_t none = 0;
    FStopTicks.compare_exchange_strong(none, TClock::now().time_since_epoch().count());
    SwitchReceiveAllOffLocked();
    if (FWake != WSA_INVALID_EVENT) ::WSASetEvent(FWake);
  }

 private:
  using TClock = std::chrono::steady_clock;

  bool OpenSocket(const sockaddr_in& address) {
    return OpenSocket(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  bool OpenSocket(const sockaddr_in6& address) {
    return OpenSocket(AF_INET6, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }

  // Socket, bind, receive buffer, receive-all and its event, for one address family.
  bool OpenSocket(int family, const sockaddr* address, int address_size) {
    TRawSocket raw;
    raw.Family = family;
    raw.Socket = ::socket(family, SOCK_RAW, IPPROTO_IP);
    if (raw.Socket == INVALID_SOCKET) return Fail(TCaptureStep::Open, ::WSAGetLastError(), family);
    {
      std::lock_guard guard(FWakeLock);
      FSockets.push_back(raw);  // from here on Close releases it
    }
    if (::bind(raw.Socket, address, address_size) != 0)
      return Fail(TCaptureStep::Bind, ::WSAGetLastError(), family);
    if (family == AF_INET6) {
      // Each datagram's destination address, should the system deliver it without its header.
      const DWORD on = 1;
      if (::setsockopt(raw.Socket, IPPROTO_IPV6, IPV6_PKTINFO, reinterpret_cast<const char*>(&on),
                       sizeof on) != 0)
        return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError(), family);
      GUID receive_message = WSAID_WSARECVMSG;
      DWORD returned = 0;
      if (::WSAIoctl(raw.Socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &receive_message,
                     sizeof receive_message, &FSockets.back().ReceiveMessage,
                     sizeof FSockets.back().ReceiveMessage, &returned, nullptr, nullptr) != 0 ||
          !FSockets.back().ReceiveMessage)
        return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError(), family);
    }
    FSockets.back().BufferBytes = LargeReceiveBuffer(raw.Socket);
    {
      // Against a stop meanwhile: once stopped, receive-all stays off.
      std::lock_guard guard(FWakeLock);
      if (FStopTicks.load() == 0 && !SwitchReceiveAll(raw.Socket, RCVALL_ON))
        return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError(), family);
    }
    // From here on the socket does not block; a receive waits on the sockets' events and on
    // the wake event together.
    raw.Readable = ::WSACreateEvent();
    if (raw.Readable == WSA_INVALID_EVENT)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError(), family);
    FSockets.back().Readable = raw.Readable;
    if (::WSAEventSelect(raw.Socket, raw.Readable, FD_READ) != 0)
      return Fail(TCaptureStep::ReceiveAll, ::WSAGetLastError(), family);
    return true;
  }

  // Lets go of the socket OpenSocket added last, after it failed.
  void CloseLastSocket() {
    std::lock_guard guard(FWakeLock);
    if (FSockets.empty()) return;
    const TRawSocket& raw = FSockets.back();
    if (raw.Socket != INVALID_SOCKET) ::closesocket(raw.Socket);
    if (raw.Readable != WSA_INVALID_EVENT) ::WSACloseEvent(raw.Readable);
    FSockets.pop_back();
  }

  // The notice Open left, at the head of the first batch.
  void TakeNotice(std::vector<TReceived>& batch) {
    if (FNoticeTold || FNotice.empty()) return;
    FNoticeTold = true;
    batch.push_back({{}, 0, 0, FNotice});
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
    for (unsigned round = 1; empty < FSockets.size() && room - FUsed >= kReceiveRoom; ++round) {
      if (round % 32 == 0 &&
          (TClock::now() >= until || (!stopped && FStopTicks.load(std::memory_order_relaxed))))
        break;
      empty = 0;
      for (TRawSocket& raw : FSockets) {
        if (!raw.Empty && room - FUsed >= kReceiveRoom) {
          if (!(raw.Family == AF_INET6 ? TakeIpv6(raw, batch) : TakeIpv4(raw, batch)))
            return false;
        }
        empty += raw.Empty;
      }
    }
    return true;
  }

  // One datagram of an IPv4 socket into the arena, header and all; false on failure. An empty
  // socket is marked so.
  bool TakeIpv4(TRawSocket& raw, std::vector<TReceived>& batch) {
    char* into = reinterpret_cast<char*>(FArena.data() + FUsed);
    int received = ::recv(raw.Socket, into, kMaxReceive, 0);
    if (received < 0) {
      const int error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        raw.Empty = true;
        return true;
      }
      if (error != WSAEMSGSIZE) return Fail(TCaptureStep::Receive, error);
      received = kMaxReceive;  // a datagram larger than the buffer, cut
    }
    batch.push_back({std::span(FArena.data() + FUsed, static_cast<std::size_t>(received))});
    FUsed += static_cast<std::size_t>(received);
    return true;
  }

  // The same for the IPv6 socket, whose receive also tells the datagram's addresses, should
  // the system deliver it without its header (Ipv6Datagram).
  bool TakeIpv6(TRawSocket& raw, std::vector<TReceived>& batch) {
    std::uint8_t* room = FArena.data() + FUsed;
    sockaddr_in6 source{};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN6_PKTINFO)) * 4];
    WSABUF buffer{kMaxReceive, reinterpret_cast<char*>(room + kIpv6HeaderBytes)};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&source);
    message.namelen = sizeof source;
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    DWORD received = 0;
    if (raw.ReceiveMessage(raw.Socket, &message, &received, nullptr, nullptr) != 0) {
      const int error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        raw.Empty = true;
        return true;
      }
      if (error != WSAEMSGSIZE) return Fail(TCaptureStep::Receive, error, AF_INET6);
      received = kMaxReceive;
    }
    const bool named =
        message.namelen >= static_cast<INT>(sizeof source) && source.sin6_family == AF_INET6;
    in6_addr destination{};
    bool told = false;
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header;
         header = WSA_CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != IPPROTO_IPV6 || header->cmsg_type != IPV6_PKTINFO ||
          header->cmsg_len < WSA_CMSG_LEN(sizeof(IN6_PKTINFO)))
        continue;
      IN6_PKTINFO information;
      std::memcpy(&information, WSA_CMSG_DATA(header), sizeof information);
      destination = information.ipi6_addr;
      told = true;
    }
    const std::span<const std::uint8_t> datagram = Ipv6Datagram(
        room, received, named ? &source.sin6_addr : nullptr, told ? &destination : nullptr);
    FUsed += kIpv6HeaderBytes + received;
    if (!datagram.empty()) batch.push_back({datagram});
    return true;
  }

  bool Fail(TCaptureStep step, int code, int family = AF_INET) {
    FLastError = WinsockError(step, code, family);
    return false;
  }

  bool FStarted = false;
  std::mutex FWakeLock;  // Stop against Open and Close: the sockets' list and the wake event
  // The typed address's version's first, then the other's, if it opened; changed under
  // FWakeLock.
  std::vector<TRawSocket> FSockets;
  WSAEVENT FWake = WSA_INVALID_EVENT;
  std::atomic<std::int64_t> FStopTicks{0};  // the stop's time on TClock, 0 before it
  TCaptureError FLastError;
  std::vector<std::uint8_t> FArena = std::vector<std::uint8_t>(std::size_t{1} << 20);
  std::size_t FUsed = 0;
  bool FHandingOver = false;
  TClock::time_point FHandOverEnd;
  std::int64_t FHandOverBytes = 0;  // what the hand-over may still take
  std::string FNotice;  // what the capture cannot do, told once at the head of the stream
  bool FNoticeTold = false;
};

}  // namespace

TCaptureError WinsockError(TCaptureStep step, int code, int family) {
  std::string text;
  if (code == WSAEADDRNOTAVAIL && step != TCaptureStep::Receive) {
    text = "no interface holds this address";
  } else {
    text = SystemText(code, family);
    if (const char* name = step == TCaptureStep::Receive ? ReceiveCase(code) : nullptr)
      text = std::string(name) + ": " + text;
  }
  return {step, code, text, code == WSAEACCES};
}

std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer() {
  return std::make_unique<TWinsockCaptureLayer>();
}

TTypedAddress ReadTypedAddress(const std::string& text) {
  TTypedAddress typed;
  const std::size_t percent = text.find('%');
  const std::string address = text.substr(0, percent);
  bool zone_read = true;
  unsigned long long zone = 0;
  if (percent != std::string::npos) {
    const std::string digits = text.substr(percent + 1);
    zone_read = !digits.empty() && digits.size() <= 10 &&
                digits.find_first_not_of("0123456789") == std::string::npos;
    if (zone_read) zone = std::stoull(digits);
    zone_read = zone_read && zone <= 0xFFFFFFFFull;
  }
  in6_addr parsed{};
  if (zone_read && ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1) {
    typed.Family = AF_INET6;
    typed.Ipv6.sin6_family = AF_INET6;
    typed.Ipv6.sin6_addr = parsed;
    typed.Ipv6.sin6_scope_id = static_cast<ULONG>(zone);
    typed.Zoned = percent != std::string::npos;
    return typed;
  }
  typed.Ipv4.sin_family = AF_INET;
  typed.Ipv4.sin_addr.s_addr = ::inet_addr(text.c_str());
  return typed;
}

namespace {

bool IsLinkLocal(const sockaddr_in6& address) {
  return IN6_IS_ADDR_LINKLOCAL(&address.sin6_addr);
}

// A listed address of the family, copied out of the list; false for another family.
bool Listed(const SOCKET_ADDRESS& listed, sockaddr_in& address) {
  if (!listed.lpSockaddr || listed.lpSockaddr->sa_family != AF_INET ||
      listed.iSockaddrLength < static_cast<INT>(sizeof address))
    return false;
  std::memcpy(&address, listed.lpSockaddr, sizeof address);
  address.sin_port = 0;
  return true;
}
bool Listed(const SOCKET_ADDRESS& listed, sockaddr_in6& address) {
  if (!listed.lpSockaddr || listed.lpSockaddr->sa_family != AF_INET6 ||
      listed.iSockaddrLength < static_cast<INT>(sizeof address))
    return false;
  std::memcpy(&address, listed.lpSockaddr, sizeof address);
  address.sin6_port = 0;
  address.sin6_flowinfo = 0;
  return true;
}

// Whether `listed`, an address of `adapter`, is the typed address; a zone names the interface.
bool IsTyped(const IP_ADAPTER_ADDRESSES& adapter, const SOCKET_ADDRESS& listed,
             const TTypedAddress& typed) {
  if (typed.Family == AF_INET) {
    sockaddr_in address;
    return Listed(listed, address) && address.sin_addr.s_addr == typed.Ipv4.sin_addr.s_addr;
  }
  sockaddr_in6 address;
  if (!Listed(listed, address) ||
      std::memcmp(&address.sin6_addr, &typed.Ipv6.sin6_addr, sizeof address.sin6_addr) != 0)
    return false;
  const ULONG zone = typed.Ipv6.sin6_scope_id;
  return !typed.Zoned || address.sin6_scope_id == zone ||
         (address.sin6_scope_id == 0 && (adapter.Ipv6IfIndex == zone || adapter.IfIndex == zone));
}

}  // namespace

TInterfaceBinding InterfaceBinding(const IP_ADAPTER_ADDRESSES* adapters,
                                   const TTypedAddress& typed) {
  for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter; adapter = adapter->Next) {
    const IP_ADAPTER_UNICAST_ADDRESS* held = adapter->FirstUnicastAddress;
    while (held && !IsTyped(*adapter, held->Address, typed))
      held = held->Next;
    if (!held) continue;
    TInterfaceBinding binding;
    binding.Found = true;
    if (typed.Family == AF_INET) {
      binding.Ipv4 = typed.Ipv4;
    } else {
      sockaddr_in6 address;
      Listed(held->Address, address);
      if (typed.Zoned) address.sin6_scope_id = typed.Ipv6.sin6_scope_id;
      binding.Ipv6 = address;
    }
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
         unicast = unicast->Next) {
      sockaddr_in ipv4;
      sockaddr_in6 ipv6;
      if (!binding.Ipv4 && Listed(unicast->Address, ipv4)) binding.Ipv4 = ipv4;
      if (typed.Family == AF_INET && Listed(unicast->Address, ipv6) &&
          (!binding.Ipv6 || (IsLinkLocal(*binding.Ipv6) && !IsLinkLocal(ipv6))))
        binding.Ipv6 = ipv6;
    }
    return binding;
  }
  return {};
}

// Windows documents that receive-all on a raw IPv6 socket delivers all the IPv6 packets through
// the interface to it, and that with IPV6_PKTINFO each message WSARecvMsg returns from a raw
// socket tells the destination address "from the IP header of the received packet" (and the
// interface); it does not say whether the packet comes with its IPv6 header. So both forms are
// read: a whole datagram, whose version is 6 and whose payload length is what was received past
// its fixed header (or 0, where the system did not fill it in), and whose addresses, where the
// receive told them, are those the receive told; or else the TCP segment alone, to which a fixed
// header of our own with the receive's addresses is put in front. A receive that told no
// addresses leaves a segment alone unreadable. A segment is taken for TCP: receive-all is asked
// for TCP's sake, and the decoder drops what does not read as a segment of the port range.
std::span<const std::uint8_t> Ipv6Datagram(std::uint8_t* room, std::size_t received,
                                           const in6_addr* source, const in6_addr* destination) {
  std::uint8_t* bytes = room + kIpv6HeaderBytes;
  // No TCP segment has the unspecified address at either end: a receive that gives it tells
  // nothing.
  const bool told = source && destination && !IN6_IS_ADDR_UNSPECIFIED(source) &&
                    !IN6_IS_ADDR_UNSPECIFIED(destination);
  if (received >= kIpv6HeaderBytes && (bytes[0] >> 4) == 6) {
    const std::size_t payload = std::size_t{bytes[4]} << 8 | bytes[5];
    const bool whole = payload == received - kIpv6HeaderBytes || payload == 0;
    if (whole && (!told || (std::memcmp(bytes + 8, source, 16) == 0 &&
                            std::memcmp(bytes + 24, destination, 16) == 0)))
      return {bytes, received};
  }
  if (!told || received == 0 || received > 0xFFFF) return {};
  std::memset(room, 0, 8);
  room[0] = 0x60;
  room[4] = static_cast<std::uint8_t>(received >> 8);
  room[5] = static_cast<std::uint8_t>(received);
  room[6] = 6;  // TCP
  std::memcpy(room + 8, source, 16);
  std::memcpy(room + 24, destination, 16);
  return {room, kIpv6HeaderBytes + received};
}
