#include "helper/CaptureAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An interface's name as Linux allows it, or an index that fits its 32 bits.
bool ValidZone(std::string_view zone) {
  if (zone.empty() || zone.size() >= IF_NAMESIZE) return false;
  if (AllDigits(zone)) return zone.size() <= 10 && std::stoull(std::string(zone)) <= 0xFFFFFFFFu;
  return std::none_of(zone.begin(), zone.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F || c == '/' || c == ':' || c == '%';
  });
}

bool ZoneNames(const std::string& zone, const char* device) {
  if (zone.empty()) return true;
  if (AllDigits(zone)) return std::to_string(::if_nametoindex(device)) == zone;
  return zone == device;
}

}  // namespace

std::optional<TCaptureAddress> ParseCaptureAddress(std::string_view text) {
  TCaptureAddress address;
  if (text.find(':') == std::string_view::npos) {
    // As the window always passed it on: up to a first NUL.
    address.Ipv4.s_addr = ::inet_addr(std::string(text).c_str());
    return address;
  }
  address.Family = AF_INET6;
  const std::size_t percent = text.find('%');
  const std::string_view ip = text.substr(0, percent);
  if (ip.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  if (::inet_pton(AF_INET6, std::string(ip).c_str(), &address.Ipv6) != 1) return std::nullopt;
  if (percent != std::string_view::npos) {
    const std::string_view zone = text.substr(percent + 1);
    if (!ValidZone(zone)) return std::nullopt;
    address.Zone = std::string(zone);
  }
  return address;
}

std::optional<std::string> DeviceHolding(const TCaptureAddress& address) {
  std::optional<std::string> device;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return device;
  for (const ifaddrs* entry = list; entry && !device; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != address.Family) continue;
    if (address.Family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (in->sin_addr.s_addr != address.Ipv4.s_addr) continue;
    } else {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (std::memcmp(&in6->sin6_addr, &address.Ipv6, sizeof address.Ipv6) != 0 ||
          !ZoneNames(address.Zone, entry->ifa_name))
        continue;
    }
    const std::string_view name = entry->ifa_name;
    device = std::string(name.substr(0, name.find(':')));  // a label names its device
  }
  ::freeifaddrs(list);
  return device;
}
