#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The text of an IP address, held in place rather than on the heap: a record is filled for
// every captured segment, and its two addresses were most of the cost. IPv4 in dotted decimal,
// IPv6 in its canonical form (RFC 5952), which never needs more than 39 characters.
class TIpText {
 public:
  static constexpr std::size_t kMaxLength = 39;  // "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"

  TIpText() { FBytes[kMaxLength] = 0; }
  // A longer text is cut; no address is longer.
  TIpText(std::string_view text) { Assign(text.data(), text.size()); }
  TIpText(const char* text) : TIpText(std::string_view(text)) {}
  TIpText(const std::string& text) : TIpText(std::string_view(text)) {}
  // The first `length` characters of `text`; the rest of it is ignored. Copies a fixed
  // sixteen characters, so that a text put together in registers is stored whole.
  void AssignPadded(const std::array<char, 16>& text, std::size_t length) {
    std::memcpy(FBytes, text.data(), 16);
    FBytes[kMaxLength] = static_cast<char>(std::min(length, kMaxLength));
  }

  // Lets `write` put the text in place, which spares a copy: it is given room for
  // kMaxLength + 1 characters, whose last then holds the length it returns.
  template <class F>
  void WriteInPlace(F&& write) {
    const std::size_t length = write(FBytes);
    FBytes[kMaxLength] = static_cast<char>(std::min(length, kMaxLength));
  }

  std::size_t size() const { return static_cast<unsigned char>(FBytes[kMaxLength]); }
  std::string_view View() const { return {FBytes, size()}; }
  operator std::string_view() const { return View(); }

  // Against another address, a string or a literal alike.
  friend bool operator==(const TIpText& a, std::string_view b) { return a.View() == b; }

 private:
  void Assign(const char* text, std::size_t length) {
    length = std::min(length, kMaxLength);
    std::memcpy(FBytes, text, length);
    FBytes[kMaxLength] = static_cast<char>(length);
  }

  // The text, then its length. Nothing past the length is ever read, so a new text sets only
  // the length: clearing the rest would cost every new record.
  char FBytes[kMaxLength + 1];
};

// One end of a connection: the address's text and a port in host order.
struct TIpPort {
  TIpText Ip;
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

// Whether a payload's text was cut at a zero byte, and how many bytes of the payload follow
// that byte. Three bytes, so that it fills the record's padding and the record stays two cache
// lines; no datagram is received whole that holds more than the largest count it keeps.
class TZeroCut {
 public:
  static constexpr std::uint32_t kMaxFollowing = 0xFFFFFE;

  constexpr TZeroCut() = default;  // no zero byte
  // A zero byte followed by `following` bytes of payload.
  static constexpr TZeroCut At(std::size_t following) {
    TZeroCut cut;
    cut.Store(static_cast<std::uint32_t>(std::min<std::size_t>(following, kMaxFollowing)));
    return cut;
  }

  constexpr bool Met() const { return Load() != kNone; }
  constexpr std::uint32_t Following() const { return Met() ? Load() : 0; }

  friend constexpr bool operator==(TZeroCut, TZeroCut) = default;

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFF;

  constexpr void Store(std::uint32_t value) {
    for (int i = 0; i < 3; ++i)
      FBytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  constexpr std::uint32_t Load() const {
    return std::uint32_t{FBytes[0]} | std::uint32_t{FBytes[1]} << 8 |
           std::uint32_t{FBytes[2]} << 16;
  }

  std::uint8_t FBytes[3] = {0xFF, 0xFF, 0xFF};
};

// One captured TCP segment. Date is a local date-time: whole days since 30 December 1899,
// the fraction being the time of day. Data is the payload as 8-bit text, up to its first zero
// byte; ZeroCut tells whether there was one and what followed it.
struct TTrameTCP {
  // Provided, so that a new record, value-initialized, is not first cleared whole: every field
  // gets its value below, and the addresses' text, most of the record, needs none.
  TTrameTCP() {}

  double Date = 0.0;
  TIpPort Source;
  TIpPort Dest;
  TDrapeauxTCP Drapeaux;
  TZeroCut ZeroCut;
  std::string Data;
};

static_assert(sizeof(TTrameTCP) <= 128, "a record fills two cache lines");
