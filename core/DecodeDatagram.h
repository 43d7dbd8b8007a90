#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/UnitGlobal.h"

// What DecodeDatagram made of a datagram.
enum class TDecodeResult : std::uint8_t {
  NotRetained,  // not a TCP segment with a port of the range, or too short or malformed to tell
  Filled,       // `trame` holds the segment
  Unfilled,     // a retained segment whose record could not be filled (no memory for its text)
};

// Fills `trame` from one received IP datagram (IP header first, exactly the bytes the receive
// filled; IPv6 when its version reads 6, IPv4 otherwise) and returns Filled; otherwise
// `trame` is left unspecified. A datagram is retained when it is a TCP segment with a port of
// FPortStart..FPortEnd at either end, whole up to its TCP header by its own length field.
// Never reads outside `received`. The record is stamped with the local time at which the
// system saw the datagram (`unix_microseconds`, UTC), or, for 0, with the local time of the
// call.
TDecodeResult DecodeDatagram(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                             std::uint16_t FPortEnd, std::int64_t unix_microseconds,
                             TTrameTCP& trame);

// The same into a new record, or nothing (also when it could not be filled).
std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds = 0);
