#include "core/DecodeDatagram.h"

#include <chrono>
#include <cstring>
#include <exception>

#include "core/AddressText.h"
#include "core/BoundedReader.h"

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kMinTcpHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

// IPv6 next-header values the decoder walks past.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kDestinationOptions = 60;

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

std::int64_t UnixMicrosecondsNow() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// The TCP segment at `t` into `trame`, once `in` held all it read: `end_of_datagram()` tells
// where its datagram ends, asked only of a segment the port range keeps, and `addresses(trame)`
// writes the end points' addresses. Both IP versions end here.
template <class E, class F>
bool DecodeSegment(TBoundedReader& in, std::size_t t, E&& end_of_datagram,
                   std::uint16_t FPortStart, std::uint16_t FPortEnd,
                   std::int64_t unix_microseconds, TTrameTCP& trame, F&& addresses) {
  if (!in.Holds(t, kMinTcpHeader)) return false;
  const std::uint16_t source_port = in.BeU16(t);
  const std::uint16_t dest_port = in.BeU16(t + 2);
  if (!InRange(source_port, FPortStart, FPortEnd) && !InRange(dest_port, FPortStart, FPortEnd))
    return false;

  const std::size_t data_offset = in.U8(t + 12) >> 4;
  if (data_offset < 5) return false;
  const TDrapeauxTCP flags = TranslateFlags(in.U8(t + 13));

  const std::size_t end = end_of_datagram();
  const std::size_t p = t + data_offset * 4;
  std::span<const std::uint8_t> payload;
  if (p < end) payload = in.Bytes(p, end - p);
  if (in.Overrun()) return false;

  try {
    trame.Date = unix_microseconds != 0 ? unix_microseconds : UnixMicrosecondsNow();
    addresses(trame);
    trame.Source.Port = source_port;
    trame.Dest.Port = dest_port;
    trame.Drapeaux = flags;
    // Payload text ends at the first zero byte.
    const void* zero = payload.empty() ? nullptr : std::memchr(payload.data(), 0, payload.size());
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - payload.data())
             : payload.size();
    if (length == 0)
      trame.Data.clear();
    else
      trame.Data.assign(reinterpret_cast<const char*>(payload.data()), length);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool DecodeIpv4(TBoundedReader& in, std::uint16_t FPortStart, std::uint16_t FPortEnd,
                std::int64_t unix_microseconds, TTrameTCP& trame) {
  if (in.U8(9) != kProtocolTcp) return false;

  const std::size_t ihl = in.U8(0) & 0x0Fu;
  if (ihl < 5) return false;
  // A later fragment starts with payload, not with a TCP header.
  if ((in.BeU16(6) & 0x1FFFu) != 0) return false;

  const auto end = [&in] {
    // Segmentation offload hands over datagrams whose total length reads 0.
    const std::size_t total_length = in.BeU16(2);
    return total_length == 0 || total_length > in.Size() ? in.Size() : total_length;
  };
  return DecodeSegment(in, ihl * 4, end, FPortStart, FPortEnd, unix_microseconds, trame,
                       [&in](TTrameTCP& t) {
                         AssignIpv4Text(t.Source.Ip, in.Bytes(12, 4).data());
                         AssignIpv4Text(t.Dest.Ip, in.Bytes(16, 4).data());
                       });
}

// The fixed header, then the extension headers in whatever order and number they come, up to
// the TCP header. Every read, the walk's included, stays within the payload length the header
// gives: a header that claims more than the datagram holds ends the walk.
bool DecodeIpv6(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                std::uint16_t FPortEnd, std::int64_t unix_microseconds, TTrameTCP& trame) {
  TBoundedReader fixed(received);
  if (!fixed.Holds(0, kIpv6Header)) return false;
  // A payload length of 0 cannot be true of a datagram that carries a TCP segment or a header
  // leading to one (only "no next header" may be empty, and it is dropped anyway): the receive
  // offload hands over merged segments beyond 64 KiB (BIG TCP) that way, without a jumbo
  // option, their length being the socket buffer's alone. As for IPv4, what was received is
  // then all there is to go by, and every read stays within it; a jumbogram, whose payload
  // length also reads 0, is read the same way. Otherwise a datagram cut by the capture ends
  // where the capture ends, and bytes after the payload (padding) are not part of it.
  const std::size_t payload_length = fixed.BeU16(4);
  const std::size_t declared = kIpv6Header + payload_length;
  TBoundedReader in(payload_length == 0 || declared > received.size() ? received
                                                                      : received.first(declared));

  std::uint8_t next = in.U8(6);
  std::size_t at = kIpv6Header;
  for (;;) {
    switch (next) {
      case kProtocolTcp:
        return DecodeSegment(
            in, at, [&in] { return in.Size(); }, FPortStart, FPortEnd, unix_microseconds, trame,
            [&in](TTrameTCP& t) {
              AssignIpv6Text(t.Source.Ip, in.Bytes(8, 16).data());
              AssignIpv6Text(t.Dest.Ip, in.Bytes(24, 16).data());
            });
      case kHopByHop:
      case kRouting:
      case kDestinationOptions:
        // Each of these is at least eight bytes, its length counting eight-byte units beyond
        // the first.
        if (!in.Holds(at, 8)) return false;
        next = in.U8(at);
        at += (std::size_t{in.U8(at + 1)} + 1) * 8;
        break;
      case kFragment:
        if (!in.Holds(at, 8)) return false;
        // A later fragment starts with payload, not with a header; a first fragment is read
        // for what it holds.
        if ((in.BeU16(at + 2) & 0xFFF8u) != 0) return false;
        next = in.U8(at);
        at += 8;
        break;
      case kAuthentication:
        // Its length counts four-byte units, beyond the first two.
        if (!in.Holds(at, 8)) return false;
        next = in.U8(at);
        at += (std::size_t{in.U8(at + 1)} + 2) * 4;
        break;
      default:
        // Encrypted (ESP), no next header, or anything this program does not know: nothing
        // here can be read as TCP.
        return false;
    }
  }
}

}  // namespace

bool DecodeDatagram(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                    std::uint16_t FPortEnd, std::int64_t unix_microseconds, TTrameTCP& trame) {
  TBoundedReader in(received);
  if (!in.Holds(0, kMinIpHeader)) return false;
  if ((in.U8(0) >> 4) == 6)
    return DecodeIpv6(received, FPortStart, FPortEnd, unix_microseconds, trame);
  return DecodeIpv4(in, FPortStart, FPortEnd, unix_microseconds, trame);
}

std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds) {
  auto trame = std::make_unique<TTrameTCP>();
  if (!DecodeDatagram(received, FPortStart, FPortEnd, unix_microseconds, *trame)) return nullptr;
  return trame;
}
