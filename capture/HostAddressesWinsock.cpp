#include "capture/WinSock2.h"

#include <cstring>

#include "capture/CaptureLayer.h"

std::vector<std::string> HostAddresses() {
  std::vector<std::string> addresses;
  WSADATA data;
  ::WSAStartup(MAKEWORD(1, 1), &data);
  char name[64] = "";
  const hostent* host = ::gethostname(name, sizeof name) == 0 ? ::gethostbyname(name) : nullptr;
  if (host && host->h_addrtype == AF_INET) {
    for (char** entry = host->h_addr_list; *entry; ++entry) {
      in_addr address;
      std::memcpy(&address, *entry, sizeof address);
      addresses.emplace_back(::inet_ntoa(address));
    }
  }
  ::WSACleanup();
  return addresses;
}
