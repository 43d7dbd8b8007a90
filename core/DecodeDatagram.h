#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/UnitGlobal.h"

// Fills `trame` from one received IP datagram (IP header first, exactly the bytes the receive
// filled; IPv6 when its version reads 6, IPv4 otherwise) and returns true; or returns false,
// leaving `trame` unspecified, when it is not a TCP segment with a port of
// FPortStart..FPortEnd at either end, or is too short or malformed to tell. Never reads
// outside `received`. The record is stamped with the time at which the system saw the
// datagram (`unix_microseconds`, UTC), or, for 0, with the system clock's time. A failure
// while the record is filled (no memory for its payload) only costs this datagram: false.
bool DecodeDatagram(std::span<const std::uint8_t> received, std::uint16_t FPortStart,
                    std::uint16_t FPortEnd, std::int64_t unix_microseconds, TTrameTCP& trame);

// The same into a new record, or nothing.
std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd,
                                          std::int64_t unix_microseconds = 0);
