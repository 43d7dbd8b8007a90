#include "ui/LocaleSeparators.h"

namespace {

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Past a conversion such as "%d", "%-d", "%Ey" or "%04Y" that starts at `i`.
std::size_t PastConversion(std::string_view format, std::size_t i) {
  ++i;
  while (i < format.size() && !IsLetter(format[i]))
    ++i;  // flags and width
  if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
  return i < format.size() ? i + 1 : i;
}

}  // namespace

std::optional<std::string> SeparatorInPosixFormat(std::string_view format) {
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      i += 2;
    } else if (format[i] == '%') {
      break;
    } else {
      ++i;
    }
  }
  if (i >= format.size()) return std::nullopt;
  i = PastConversion(format, i);
  std::string separator;
  while (i < format.size()) {
    if (format[i] != '%') {
      separator += format[i++];
    } else if (i + 1 < format.size() && format[i + 1] == '%') {
      separator += '%';
      i += 2;
    } else {
      return separator;
    }
  }
  return std::nullopt;
}
