#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "capture/UnitGlobal.h"

// Turns one received IPv4 datagram (IP header first, exactly the bytes the receive filled)
// into a record stamped with the local time, or into nothing when it is not a TCP segment
// with a port of FPortStart..FPortEnd at either end, or is too short or malformed to tell.
// Never reads outside `received`.
std::unique_ptr<TTrameTCP> DecodeDatagram(std::span<const std::uint8_t> received,
                                          std::uint16_t FPortStart, std::uint16_t FPortEnd);
