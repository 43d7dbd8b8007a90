#include "ui/PortConversion.h"

#include <optional>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::int32_t> Convert(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;  // empty, blanks, a sign or a prefix alone

  std::uint64_t value = 0;
  if (hex) {
    int significant = 0;
    for (; i < text.size(); ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0) return std::nullopt;
      if (value != 0 || digit != 0) ++significant;
      if (significant > 8) return std::nullopt;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    const auto pattern = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
  }
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 2147483648u) return std::nullopt;
  }
  if (!negative && value > 2147483647u) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(value)
                                            : static_cast<std::int64_t>(value));
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
  if (const auto value = Convert(text)) return *value;
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::uint16_t StrToPort(std::string_view text) {
  const std::int32_t value = StrToInt(text);
  if (value < 0 || value > 65535)
    throw EConvertError("'" + std::string(text) + "' is not a valid port number");
  return static_cast<std::uint16_t>(value);
}
