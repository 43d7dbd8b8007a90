#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// A text that does not convert.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message)
      : std::runtime_error(message), FMessage(message) {}
  // The whole message: what() ends at the first NUL, which a pasted text may hold.
  const std::string& Message() const { return FMessage; }

 private:
  std::string FMessage;
};

// The integer a text spells: leading blanks (spaces only), at most one sign, then decimal
// digits or hexadecimal ones after "$", "x", "X", "0x" or "0X", up to the end of the text.
// Decimal values must fit 32 signed bits; hexadecimal ones of up to eight significant
// digits give any 32-bit pattern. Anything else raises EConvertError with
// "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// StrToInt, then a port: 0 to 65535; outside it raises EConvertError with
// "'<text>' is not a valid port number".
std::uint16_t StrToPort(std::string_view text);
