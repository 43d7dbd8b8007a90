#pragma once

#include <cstdint>
#include <string>

// The kernel filter's text (pcap-filter syntax): TCP over IPv4 and IPv6 with a port of
// start..end at either end, compared unsigned, so that a reversed range passes nothing. For
// IPv4 it is exactly the decoder's test, later fragments excluded. For IPv6 the filter cannot
// walk extension headers: it tests the ports of TCP that follows the fixed header, and lets
// through whatever starts with an extension header the decoder walks, for it to decide.
std::string CaptureFilter(std::uint16_t start, std::uint16_t end);
