#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include "capture/HostAddresses.h"

namespace {

// The interfaces' list as the kernel states it now; empty when it cannot be read.
template <class F>
void ForEachAddress(F&& visit) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (entry->ifa_addr && (entry->ifa_flags & IFF_UP)) visit(*entry);
  }
  ::freeifaddrs(list);
}

}  // namespace

std::vector<std::string> HostAddresses() {
  std::vector<std::string> addresses;
  ForEachAddress([&](const ifaddrs& entry) {
    if (entry.ifa_addr->sa_family != AF_INET || (entry.ifa_flags & IFF_LOOPBACK)) return;
    char text[INET_ADDRSTRLEN] = "";
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry.ifa_addr);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) addresses.emplace_back(text);
  });
  if (addresses.empty()) addresses.emplace_back("127.0.0.1");
  return addresses;
}

std::vector<TInterfaceAddress> InterfaceAddresses() {
  std::vector<TInterfaceAddress> addresses;
  ForEachAddress([&](const ifaddrs& entry) {
    char text[INET6_ADDRSTRLEN] = "";
    std::string address;
    if (entry.ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry.ifa_addr);
      if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) address = text;
    } else if (entry.ifa_addr->sa_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry.ifa_addr);
      if (::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) address = text;
      // A link-local address means nothing without its link.
      if (!address.empty() && IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr))
        address += std::string("%") + entry.ifa_name;
    }
    if (!address.empty()) addresses.push_back({std::move(address), entry.ifa_name});
  });
  return addresses;
}

bool RunsAsRoot() {
  return ::geteuid() == 0;
}
