#include "core/DecodeDatagram.h"

#include <cstring>
#include <exception>

#include "core/AddressText.h"
#include "core/BoundedReader.h"
#include "core/DateTime.h"
#include "core/SegmentFilter.h"

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::size_t kMinTcpHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

// The header orders the flags FIN (bit 0) up to URG (bit 5); the record holds them reversed.
TDrapeauxTCP TranslateFlags(std::uint8_t header_flags) {
  std::uint8_t bits = 0;
  for (unsigned i = 0; i < 6; ++i) {
    if (header_flags & (1u << i)) bits |= static_cast<std::uint8_t>(1u << (5 - i));
  }
  return TDrapeauxTCP(bits);
}

bool InRange(std::uint16_t port, std::uint16_t start, std::uint16_t end) {
  return start <= port && port <= end;
}

// The TCP segment at `t` into `trame`, once `in` held all it read: `in` ends where the datagram
// does, and `addresses(trame)` writes the end points' addresses. Both IP versions end here.
template <class F>
TDecodeResult DecodeSegment(TBoundedReader& in, std::size_t t, std::uint16_t FPortStart,
                            std::uint16_t FPortEnd, std::int64_t unix_microseconds,
                            TTrameTCP& trame, F&& addresses) {
  if (!in.Holds(t, kMinTcpHeader)) return TDecodeResult::NotRetained;
  const std::uint16_t source_port = in.BeU16(t);
  const std::uint16_t dest_port = in.BeU16(t + 2);
  if (!InRange(source_port, FPortStart, FPortEnd) && !InRange(dest_port, FPortStart, FPortEnd))
    return TDecodeResult::NotRetained;

  const std::size_t data_offset = in.U8(t + 12) >> 4;
  if (data_offset < 5) return TDecodeResult::NotRetained;
  const TDrapeauxTCP flags = TranslateFlags(in.U8(t + 13));

  const std::size_t end = in.Size();
  const std::size_t p = t + data_offset * 4;
  std::span<const std::uint8_t> payload;
  if (p < end) payload = in.Bytes(p, end - p);
  if (in.Overrun()) return TDecodeResult::NotRetained;

  try {
    trame.Date = unix_microseconds != 0 ? unix_microseconds : UnixMicrosecondsNow();
    addresses(trame);
    trame.Source.Port = source_port;
    trame.Dest.Port = dest_port;
    trame.Drapeaux = flags;
    // Payload text ends at the first zero byte; the record says what it leaves out.
    const void* zero = payload.empty() ? nullptr : std::memchr(payload.data(), 0, payload.size());
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - payload.data())
             : payload.size();
    trame.ZeroCut = zero ? TZeroCut::At(payload.size() - length - 1) : TZeroCut();
    if (length == 0)
      trame.Data.clear();
    else
      trame.Data.assign(reinterpret_cast<const char*>(payload.data()), length);
  } catch (const std::exception&) {
    return TDecodeResult::Unfilled;
  }
  return TDecodeResult::Filled;
}

// The IPv4 header is whole in `received` (kMinIpHeader bytes). The segment is read within the
// datagram's total length: a datagram that ends before its TCP header does is too short to
// tell, whatever bytes follow it. Segmentation offload hands over datagrams whose total length
// reads 0; what was received is then all there is to go by, as it is for a datagram the
// capture cut short.
TDecodeResult DecodeIpv4(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                         std::uint16_t FPortEnd, std::int64_t unix_microseconds,
                         TTrameTCP& trame) {
  TBoundedReader header(received);
  if (header.U8(9) != kProtocolTcp) return TDecodeResult::NotRetained;

  const std::size_t ihl = header.U8(0) & 0x0Fu;
  if (ihl < 5) return TDecodeResult::NotRetained;
  // A later fragment starts with payload, not with a TCP header.
  if ((header.BeU16(6) & 0x1FFFu) != 0) return TDecodeResult::NotRetained;

  TBoundedReader in(Ipv4Extent(received));
  return DecodeSegment(in, ihl * 4, FPortStart, FPortEnd, unix_microseconds, trame,
                       [&in](TTrameTCP& t) {
                         AssignIpv4Text(t.Source.Ip, in.Bytes(12, 4).data());
                         AssignIpv4Text(t.Dest.Ip, in.Bytes(16, 4).data());
                       });
}

// The fixed header, then the extension headers, up to the TCP header (SegmentFilter).
TDecodeResult DecodeIpv6(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                         std::uint16_t FPortEnd, std::int64_t unix_microseconds,
                         TTrameTCP& trame) {
  TBoundedReader in(Ipv6Extent(received));
  const std::optional<std::size_t> at = Ipv6TcpOffset(in);
  if (!at) return TDecodeResult::NotRetained;
  return DecodeSegment(in, *at, FPortStart, FPortEnd, unix_microseconds, trame,
                       [&in](TTrameTCP& t) {
                         AssignIpv6Text(t.Source.Ip, in.Bytes(8, 16).data());
                         AssignIpv6Text(t.Dest.Ip, in.Bytes(24, 16).data());
                       });
}

}  // namespace

TDecodeResult DecodeDatagram(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                             std::uint16_t FPortEnd, std::int64_t unix_microseconds,
                             TTrameTCP& trame) {
  TBoundedReader in(received);
  if (!in.Holds(0, kMinIpHeader)) return TDecodeResult::NotRetained;
  if ((in.U8(0) >> 4) == 6)
    return DecodeIpv6(received, FPortStart, FPortEnd, unix_microseconds, trame);
  return DecodeIpv4(received, FPortStart, FPortEnd, unix_microseconds, trame);
}

std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds) {
  auto trame = std::make_unique<TTrameTCP>();
  if (DecodeDatagram(received, FPortStart, FPortEnd, unix_microseconds, *trame) !=
      TDecodeResult::Filled)
    return nullptr;
  return trame;
}
