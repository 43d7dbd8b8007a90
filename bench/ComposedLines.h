#pragma once

#include <string>

// A line of about 110 characters, as the window composes them, numbered so that no two are
// alike.
inline std::string ComposedLine(unsigned long long n) {
  std::string line =
      "07/12/2026 04:10:31     192.168.0.5:1025 =>        10.0.0.1:80     ACK PSH             ";
  line += "GET /item/" + std::to_string(n) + " HTTP/1.1 sequence";
  line.resize(110, '.');
  return line;
}
