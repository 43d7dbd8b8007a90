// Feeds arbitrary bytes to the decoder and composes a line from whatever it yields, also with
// the first eight bytes as its capture time. The first four bytes give the port range, the rest
// is the received datagram; the same bytes read as a link-layer frame of each kind give the
// frame's datagram too. An IPv6 record's addresses must read back, through the C library, to
// the datagram's own.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "core/DecodeDatagram.h"
#include "helper/LinkLayer.h"
#include "ui/LineComposition.h"

namespace {

void ReadsBack(const TIpText& text, const std::uint8_t* address) {
  char written[TIpText::kMaxLength + 1] = {};
  std::memcpy(written, text.View().data(), text.size());
  in6_addr read{};
  if (::inet_pton(AF_INET6, written, &read) != 1 || std::memcmp(&read, address, 16) != 0)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const auto start = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
  const auto end = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
  const std::span<const std::uint8_t> received(data + 4, size - 4);
  for (const auto& [low, high] :
       {std::pair{start, end}, std::pair<std::uint16_t, std::uint16_t>{1, 65535}}) {
    const auto trame = DecodeDatagram(received, low, high);
    if (trame && (received[0] >> 4) == 6) {
      ReadsBack(trame->Source.Ip, received.data() + 8);
      ReadsBack(trame->Dest.Ip, received.data() + 24);
    }
    if (trame) {
      TDisplayOptions options;
      (void)ComposeLine(*trame, options);
      // Any capture time, the calendar's ends and far beyond included, shows as a date of
      // its 20 characters.
      std::memcpy(&trame->Date, data, std::min(size, sizeof trame->Date));
      options.ShowAddresses = options.ShowFlags = false;
      const auto line = ComposeLine(*trame, options);
      if (trame->Drapeaux.Byte() != 0 && (!line || line->size() < 20 || (*line)[19] != ' '))
        __builtin_trap();
    }
  }
  for (const TLinkType type :
       {TLinkType::Ethernet, TLinkType::LinuxCooked, TLinkType::LinuxCooked2, TLinkType::RawIp,
        TLinkType::BsdLoopback}) {
    if (const auto offset = IpDatagramOffset(type, received))
      (void)DecodeDatagram(received.subspan(*offset), start, end);
  }
  return 0;
}
