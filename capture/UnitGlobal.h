#pragma once

#include <cstdint>
#include <string>

// One end of a connection: dotted-decimal IPv4 text and a port in host order.
struct TIpPort {
  std::string Ip;
  std::uint16_t Port = 0;

  friend bool operator==(const TIpPort&, const TIpPort&) = default;
};

// The six TCP flags in the order the program shows and filters them.
enum class TDrapeauTCP : std::uint8_t { URG, ACK, PSH, RST, SYN, FIN };

inline constexpr TDrapeauTCP kAllDrapeaux[] = {TDrapeauTCP::URG, TDrapeauTCP::ACK,
                                               TDrapeauTCP::PSH, TDrapeauTCP::RST,
                                               TDrapeauTCP::SYN, TDrapeauTCP::FIN};

// A set of TCP flags held in one byte, URG as bit 0 up to FIN as bit 5: the reverse of
// the flags' order in the TCP header. Bits 6 and 7 are always clear.
class TDrapeauxTCP {
 public:
  static constexpr std::uint8_t kMask = 0x3F;

  constexpr TDrapeauxTCP() = default;
  constexpr explicit TDrapeauxTCP(std::uint8_t bits) : FBits(bits & kMask) {}

  constexpr std::uint8_t Byte() const { return FBits; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool Contains(TDrapeauTCP flag) const { return (FBits & BitOf(flag)) != 0; }
  constexpr TDrapeauxTCP& Include(TDrapeauTCP flag) {
    FBits |= BitOf(flag);
    return *this;
  }

  friend constexpr bool operator==(TDrapeauxTCP, TDrapeauxTCP) = default;

 private:
  static constexpr std::uint8_t BitOf(TDrapeauTCP flag) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(flag));
  }

  std::uint8_t FBits = 0;
};

// One captured TCP segment. Date is a local date-time: whole days since 30 December 1899,
// the fraction being the time of day. Data is the payload as 8-bit text.
struct TTrameTCP {
  double Date = 0.0;
  TIpPort Source;
  TIpPort Dest;
  TDrapeauxTCP Drapeaux;
  std::string Data;
};
