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

// The same with a payload of mixed Cyrillic and ASCII, in UTF-8: 144 bytes, 129 characters.
inline std::string ComposedCyrillicLine(unsigned long long n) {
  std::string line =
      "07/12/2026 04:10:31     192.168.0.5:1025 =>        10.0.0.1:80     ACK PSH             ";
  // "GET /товар/N HTTP/1.1 Привет: заказ"
  line += "GET /\xD1\x82\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x80/" + std::to_string(n % 10'000'000) +
          " HTTP/1.1 \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82: "
          "\xD0\xB7\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7";
  line.resize(144, '.');
  return line;
}
