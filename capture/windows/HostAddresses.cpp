#include "capture/windows/WinsockCapture.h"

#include <iphlpapi.h>

#include <memory>

#include "capture/HostAddresses.h"

namespace {

std::string Utf8(const wchar_t* text) {
  if (!text || !*text) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(length - 1));
  return utf8;
}

std::string AddressText(const SOCKADDR* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return text;
  } else if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) return {};
    // A link-local address means nothing without its link.
    if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr))
      return text + std::string("%") + std::to_string(in6->sin6_scope_id);
    return text;
  }
  return {};
}

// Each unicast address of the adapters that are up, in the system's order, read afresh.
template <class F>
void ForEachAddress(F&& visit) {
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list may grow between the call that sizes it and the one that fills it.
  ULONG size = 16 * 1024;
  std::unique_ptr<std::byte[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer = std::make_unique<std::byte[]>(size);
    result = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  if (result != NO_ERROR) return;
  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (const auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
      visit(*adapter, *unicast->Address.lpSockaddr);
  }
}

}  // namespace

std::vector<std::string> HostAddresses() {
  std::vector<std::string> addresses;
  ForEachAddress([&](const IP_ADAPTER_ADDRESSES& adapter, const SOCKADDR& address) {
    if (address.sa_family != AF_INET || adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK) return;
    if (std::string text = AddressText(&address); !text.empty())
      addresses.push_back(std::move(text));
  });
  if (addresses.empty()) addresses.emplace_back("127.0.0.1");
  return addresses;
}

std::vector<TInterfaceAddress> InterfaceAddresses() {
  std::vector<TInterfaceAddress> addresses;
  ForEachAddress([&](const IP_ADAPTER_ADDRESSES& adapter, const SOCKADDR& address) {
    if (std::string text = AddressText(&address); !text.empty())
      addresses.push_back({std::move(text), Utf8(adapter.FriendlyName)});
  });
  return addresses;
}

bool RunsAsRoot() {
  return false;
}
