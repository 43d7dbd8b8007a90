// The capture layer over libpcap: a packet socket with its receive ring on the device that
// holds the interface address, in promiscuous mode, with a kernel filter.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "capture/CaptureLayer.h"
#include "capture/LinkLayer.h"

namespace {

constexpr int kSnapLength = 262'144;     // whole datagrams, offloaded bursts included
constexpr int kKernelBuffer = 32 << 20;  // room for bursts while the thread is busy
constexpr int kBufferTimeoutMs = 20;     // datagrams reach the queue well within a tick
constexpr auto kStatsInterval = std::chrono::milliseconds(100);

std::optional<TLinkType> LinkTypeOf(int dlt) {
  switch (dlt) {
    case DLT_EN10MB:
      return TLinkType::Ethernet;
    case DLT_LINUX_SLL:
      return TLinkType::LinuxCooked;
#ifdef DLT_LINUX_SLL2
    case DLT_LINUX_SLL2:
      return TLinkType::LinuxCooked2;
#endif
    case DLT_RAW:
#ifdef DLT_IPV4
    case DLT_IPV4:
#endif
      return TLinkType::RawIp;
    case DLT_NULL:
    case DLT_LOOP:
      return TLinkType::BsdLoopback;
    default:
      return std::nullopt;
  }
}

// Exactly the decoder's own test: a port within the range at either end, compared unsigned,
// so that a reversed range passes nothing; and never a later fragment.
std::string FilterFor(std::uint16_t start, std::uint16_t end) {
  char text[256];
  std::snprintf(text, sizeof text,
                "ip and tcp and ip[6:2] & 0x1fff = 0 and "
                "((tcp[0:2] >= %u and tcp[0:2] <= %u) or (tcp[2:2] >= %u and tcp[2:2] <= %u))",
                unsigned{start}, unsigned{end}, unsigned{start}, unsigned{end});
  return text;
}

class TPcapCaptureLayer final : public TCaptureLayer {
 public:
  ~TPcapCaptureLayer() override { Close(); }

  bool Startup() override { return true; }

  // A packet socket is what the capture will need; asking for one first tells a user without
  // the rights before anything else is set up.
  bool Open() override {
    const int probe = ::socket(AF_PACKET, SOCK_RAW, 0);
    if (probe < 0) {
      const int code = errno;
      return Fail(code, std::strerror(code));
    }
    ::close(probe);
    return true;
  }

  bool Bind(const std::string& ip) override {
    const in_addr_t address = ::inet_addr(ip.c_str());
    const std::optional<std::string> device = DeviceHolding(address);
    if (!device) return Fail(EADDRNOTAVAIL, "no interface holds this address");
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = ::pcap_create(device->c_str(), errbuf);
    if (!handle) return Fail(ENODEV, errbuf);
    std::lock_guard guard(FHandleLock);
    FHandle = handle;
    return true;
  }

  bool ReceiveAll(std::uint16_t port_start, std::uint16_t port_end) override {
    pcap_t* handle = FHandle;
    if (!handle) return Fail(ENOTCONN, "not bound to an interface");
    ::pcap_set_snaplen(handle, kSnapLength);
    ::pcap_set_promisc(handle, 1);
    ::pcap_set_buffer_size(handle, kKernelBuffer);
    ::pcap_set_timeout(handle, kBufferTimeoutMs);
    const int status = ::pcap_activate(handle);
    if (status < 0) return FailActivation(handle, status);

    std::optional<TLinkType> link = LinkTypeOf(::pcap_datalink(handle));
    if (!link && ::pcap_set_datalink(handle, DLT_LINUX_SLL) == 0) link = TLinkType::LinuxCooked;
    if (!link) {
      return Fail(EPROTONOSUPPORT, std::string("link type ") +
                                       ::pcap_datalink_val_to_name(::pcap_datalink(handle)) +
                                       " carries no IPv4 this program can read");
    }
    FLinkType = *link;

    bpf_program program{};
    const std::string filter = FilterFor(port_start, port_end);
    if (::pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
      return Fail(EINVAL, ::pcap_geterr(handle));
    const int set = ::pcap_setfilter(handle, &program);
    ::pcap_freecode(&program);
    if (set != 0) return Fail(EINVAL, ::pcap_geterr(handle));
    FLastStats = std::chrono::steady_clock::now();
    return true;
  }

  int Receive(std::span<std::uint8_t> buffer) override {
    pcap_t* handle = FHandle;
    if (!handle) {
      Fail(ENOTCONN, "not bound to an interface");
      return -1;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    errno = 0;
    const int status = ::pcap_next_ex(handle, &header, &frame);
    if (status == PCAP_ERROR) {
      const int code = errno != 0 ? errno : EIO;
      Fail(code, ::pcap_geterr(handle));
      return -1;
    }
    if (status != 1) {  // the buffer timeout, or Wake
      RefreshStats(handle, true);
      return 0;
    }
    RefreshStats(handle, false);
    const std::span<const std::uint8_t> bytes(frame, header->caplen);
    const std::optional<std::size_t> offset = IpDatagramOffset(FLinkType, bytes);
    if (!offset) return 0;
    const std::size_t size = std::min(bytes.size() - *offset, buffer.size());
    std::memcpy(buffer.data(), bytes.data() + *offset, size);
    return static_cast<int>(size);
  }

  void Close() override {
    pcap_t* handle = nullptr;
    {
      std::lock_guard guard(FHandleLock);
      std::swap(handle, FHandle);
    }
    if (!handle) return;
    RefreshStats(handle, true, true);
    ::pcap_close(handle);  // leaves promiscuous mode with the socket
  }

  void Cleanup() override {}

  TCaptureError LastError() override { return FLastError; }

  void Wake() override {
    std::lock_guard guard(FHandleLock);
    if (FHandle) ::pcap_breakloop(FHandle);
  }

  std::uint64_t Dropped() override { return FDropped; }

  std::vector<std::string> HostAddresses() override {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
      for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = "";
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) addresses.emplace_back(text);
      }
      ::freeifaddrs(list);
    }
    if (addresses.empty()) addresses.emplace_back("127.0.0.1");
    return addresses;
  }

 private:
  static std::optional<std::string> DeviceHolding(in_addr_t address) {
    std::optional<std::string> device;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return device;
    for (const ifaddrs* entry = list; entry && !device; entry = entry->ifa_next) {
      if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (in->sin_addr.s_addr != address) continue;
      const std::string_view name = entry->ifa_name;
      device = std::string(name.substr(0, name.find(':')));  // a label names its device
    }
    ::freeifaddrs(list);
    return device;
  }

  void RefreshStats(pcap_t* handle, bool idle, bool force = false) {
    if (!force && !idle && ++FSinceStats < 1024) return;
    FSinceStats = 0;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - FLastStats < kStatsInterval) return;
    FLastStats = now;
    pcap_stat stats{};
    if (::pcap_stats(handle, &stats) == 0) FDropped = stats.ps_drop;
  }

  bool FailActivation(pcap_t* handle, int status) {
    const char* detail = ::pcap_geterr(handle);
    const std::string text = detail && *detail ? detail : ::pcap_statustostr(status);
    switch (status) {
      case PCAP_ERROR_PERM_DENIED:
      case PCAP_ERROR_PROMISC_PERM_DENIED:
        return Fail(EPERM, text);
      case PCAP_ERROR_NO_SUCH_DEVICE:
        return Fail(ENODEV, text);
      case PCAP_ERROR_IFACE_NOT_UP:
        return Fail(ENETDOWN, text);
      default:
        return Fail(EIO, text);
    }
  }

  bool Fail(int code, std::string text) {
    FLastError = {code, std::move(text), code == EPERM || code == EACCES};
    return false;
  }

  std::mutex FHandleLock;  // Wake against Close
  pcap_t* FHandle = nullptr;
  TLinkType FLinkType = TLinkType::Ethernet;
  TCaptureError FLastError;
  std::atomic<std::uint64_t> FDropped{0};
  unsigned FSinceStats = 0;
  std::chrono::steady_clock::time_point FLastStats;
};

}  // namespace

std::unique_ptr<TCaptureLayer> MakePlatformCaptureLayer() {
  return std::make_unique<TPcapCaptureLayer>();
}
