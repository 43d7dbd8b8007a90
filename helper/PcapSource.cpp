#include "helper/PcapSource.h"

#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "helper/CaptureAddress.h"
#include "helper/CaptureFilter.h"

namespace {

constexpr int kSnapLength = 262'144;     // whole datagrams, offloaded bursts included
constexpr int kKernelBuffer = 32 << 20;  // room for bursts while the reader is busy

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

}  // namespace

TPcapSource::~TPcapSource() {
  Close();
}

bool TPcapSource::Open() {
  const int probe = ::socket(AF_PACKET, SOCK_RAW, 0);
  if (probe < 0) {
    const int code = errno;
    return Fail(code, std::strerror(code));
  }
  ::close(probe);
  return true;
}

bool TPcapSource::Bind(const std::string& ip) {
  // Only a text with ':', which is IPv6, can fail to read; IPv4 is read as inet_addr reads it.
  const std::optional<TCaptureAddress> address = ParseCaptureAddress(ip);
  if (!address) return Fail(EINVAL, "not an IPv6 address");
  const std::optional<std::string> device = DeviceHolding(*address);
  if (!device) return Fail(EADDRNOTAVAIL, "no interface holds this address");
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  FHandle = ::pcap_create(device->c_str(), errbuf);
  if (!FHandle) return Fail(ENODEV, errbuf);
  return true;
}

bool TPcapSource::ReceiveAll(std::uint16_t port_start, std::uint16_t port_end) {
  if (!FHandle) return Fail(ENOTCONN, "not bound to an interface");
  ::pcap_set_snaplen(FHandle, kSnapLength);
  ::pcap_set_promisc(FHandle, 1);
  ::pcap_set_buffer_size(FHandle, kKernelBuffer);
  ::pcap_set_timeout(FHandle, kBlockTimeoutMs);
  ::pcap_set_tstamp_precision(FHandle, PCAP_TSTAMP_PRECISION_MICRO);
  const int status = ::pcap_activate(FHandle);
  if (status < 0) return FailActivation(status);

  std::optional<TLinkType> link = LinkTypeOf(::pcap_datalink(FHandle));
  if (!link && ::pcap_set_datalink(FHandle, DLT_LINUX_SLL) == 0) link = TLinkType::LinuxCooked;
  if (!link) {
    return Fail(EPROTONOSUPPORT, std::string("link type ") +
                                     ::pcap_datalink_val_to_name(::pcap_datalink(FHandle)) +
                                     " carries no IPv4 or IPv6 this program can read");
  }
  FLinkType = *link;

  bpf_program program{};
  const std::string filter = CaptureFilter(port_start, port_end);
  if (::pcap_compile(FHandle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
    return Fail(EINVAL, ::pcap_geterr(FHandle));
  const int set = ::pcap_setfilter(FHandle, &program);
  ::pcap_freecode(&program);
  if (set != 0) return Fail(EINVAL, ::pcap_geterr(FHandle));
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  if (::pcap_setnonblock(FHandle, 1, errbuf) != 0) return Fail(EINVAL, errbuf);
  return true;
}

int TPcapSource::Descriptor() const {
  return FHandle ? ::pcap_get_selectable_fd(FHandle) : -1;
}

int TPcapSource::Dispatch(int limit, const TDatagramCallback& callback) {
  FCallback = &callback;
  const int count =
      ::pcap_dispatch(FHandle, limit, &TPcapSource::OnPacket, reinterpret_cast<u_char*>(this));
  FCallback = nullptr;
  if (count >= 0) return count;
  // libpcap's own status tells what happened; errno may be left over from anything.
  const std::string text = ::pcap_geterr(FHandle);
  Fail(count == PCAP_ERROR_IFACE_NOT_UP ? ENETDOWN : EIO, text.empty() ? "receive failed" : text);
  return -1;
}

void TPcapSource::OnPacket(u_char* self, const pcap_pkthdr* header, const u_char* bytes) {
  auto* source = reinterpret_cast<TPcapSource*>(self);
  const std::span<const std::uint8_t> frame(bytes, header->caplen);
  const std::optional<std::size_t> offset = IpDatagramOffset(source->FLinkType, frame);
  if (!offset) return;
  const std::int64_t microseconds =
      static_cast<std::int64_t>(header->ts.tv_sec) * 1'000'000 + header->ts.tv_usec;
  (*source->FCallback)(microseconds, frame.subspan(*offset));
}

// The socket's own counters, read directly: in promiscuous mode pcap_stats also reads two
// files of the interface's statistics each time, many times the cost, for counts this program
// does not show. Reading them resets them.
bool TPcapSource::Dropped(std::uint32_t& dropped) {
  tpacket_stats_v3 stats{};
  socklen_t length = sizeof stats;
  if (::getsockopt(::pcap_fileno(FHandle), SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0) {
    const int code = errno;
    return Fail(code, std::string("cannot read the capture's drop count: ") + std::strerror(code));
  }
  FDropped += stats.tp_drops;
  dropped = FDropped;
  return true;
}

void TPcapSource::Close() {
  if (FHandle) ::pcap_close(FHandle);  // leaves promiscuous mode with the socket
  FHandle = nullptr;
}

bool TPcapSource::FailActivation(int status) {
  const char* detail = ::pcap_geterr(FHandle);
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

bool TPcapSource::Fail(int code, std::string text) {
  FError = {
      .Code = code, .Text = std::move(text), .MissingRights = code == EPERM || code == EACCES};
  return false;
}
