#include "helper/CaptureFilter.h"

#include <cstdio>

std::string CaptureFilter(std::uint16_t start, std::uint16_t end) {
  // "and" and "or" bind alike, left to right: every group is in parentheses.
  char text[512];
  std::snprintf(text, sizeof text,
                "(ip and tcp and ip[6:2] & 0x1fff = 0 and "
                "((tcp[0:2] >= %u and tcp[0:2] <= %u) or (tcp[2:2] >= %u and tcp[2:2] <= %u))) or "
                "(ip6 and ((ip6[6] = 6 and "
                "((ip6[40:2] >= %u and ip6[40:2] <= %u) or (ip6[42:2] >= %u and ip6[42:2] <= %u)))"
                " or ip6[6] = 0 or ip6[6] = 43 or ip6[6] = 44 or ip6[6] = 51 or ip6[6] = 60))",
                unsigned{start}, unsigned{end}, unsigned{start}, unsigned{end}, unsigned{start},
                unsigned{end}, unsigned{start}, unsigned{end});
  return text;
}
