#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "capture/CaptureLayer.h"

std::vector<std::string> HostAddresses() {
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
