#include "capture/DecodeDatagram.h"

#include <array>
#include <bit>
#include <cstring>
#include <exception>

#include "capture/BoundedReader.h"
#include "capture/DateTime.h"

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::size_t kMinTcpHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

// The decimal text of every byte value followed by a dot, packed into a word, first character
// lowest, and its length with the dot.
struct TByteTexts {
  std::uint32_t Packed[256];
  std::uint8_t Length[256];
  constexpr TByteTexts() : Packed(), Length() {
    for (unsigned value = 0; value < 256; ++value) {
      char text[4] = {};
      std::uint8_t n = 0;
      if (value >= 100) text[n++] = static_cast<char>('0' + value / 100);
      if (value >= 10) text[n++] = static_cast<char>('0' + value / 10 % 10);
      text[n++] = static_cast<char>('0' + value % 10);
      text[n++] = '.';
      for (unsigned i = 0; i < n; ++i)
        Packed[value] |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << 8 * i;
      Length[value] = n;
    }
  }
};
constexpr TByteTexts kByteTexts;

// Dotted decimal without leading zeros. The text is put together in a register: bytes stored
// one by one and read back as words would stall the processor on every address.
void AssignDottedQuad(TIpText& out, std::span<const std::uint8_t> address) {
  unsigned __int128 text = 0;
  unsigned length = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint8_t value = address[i];
    text |= static_cast<unsigned __int128>(kByteTexts.Packed[value]) << (8 * length);
    length += kByteTexts.Length[value];
  }
  // The first character is the lowest byte, which is the first in memory here.
  static_assert(std::endian::native == std::endian::little);
  std::array<char, 16> packed;
  std::memcpy(packed.data(), &text, 16);
  out.AssignPadded(packed, length - 1);  // without the last dot
}

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

}  // namespace

bool DecodeDatagram(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                    std::uint16_t FPortEnd, std::int64_t unix_microseconds, TTrameTCP& trame) {
  TBoundedReader in(received);
  if (!in.Holds(0, kMinIpHeader)) return false;
  if (in.U8(9) != kProtocolTcp) return false;

  const std::size_t ihl = in.U8(0) & 0x0Fu;
  if (ihl < 5) return false;
  // A later fragment starts with payload, not with a TCP header.
  if ((in.BeU16(6) & 0x1FFFu) != 0) return false;

  const std::size_t t = ihl * 4;
  if (!in.Holds(t, kMinTcpHeader)) return false;
  const std::uint16_t source_port = in.BeU16(t);
  const std::uint16_t dest_port = in.BeU16(t + 2);
  if (!InRange(source_port, FPortStart, FPortEnd) && !InRange(dest_port, FPortStart, FPortEnd))
    return false;

  const std::size_t data_offset = in.U8(t + 12) >> 4;
  if (data_offset < 5) return false;
  const TDrapeauxTCP flags = TranslateFlags(in.U8(t + 13));

  // Segmentation offload hands over datagrams whose total length reads 0.
  const std::size_t total_length = in.BeU16(2);
  const std::size_t end = total_length == 0 || total_length > in.Size() ? in.Size() : total_length;
  const std::size_t p = t + data_offset * 4;
  std::span<const std::uint8_t> payload;
  if (p < end) payload = in.Bytes(p, end - p);
  if (in.Overrun()) return false;

  try {
    trame.Date =
        unix_microseconds != 0 ? LocalDateTimeFromUnixMicroseconds(unix_microseconds) : LocalNow();
    AssignDottedQuad(trame.Source.Ip, in.Bytes(12, 4));
    trame.Source.Port = source_port;
    AssignDottedQuad(trame.Dest.Ip, in.Bytes(16, 4));
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

std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds) {
  auto trame = std::make_unique<TTrameTCP>();
  if (!DecodeDatagram(received, FPortStart, FPortEnd, unix_microseconds, *trame)) return nullptr;
  return trame;
}
