#pragma once

#include <optional>
#include <string>
#include <string_view>

// The separator between the first two fields of a locale's date or time pattern, or nothing
// when the pattern has fewer than two fields.

// POSIX notation, as nl_langinfo(D_FMT) reports it: "%d.%m.%Y" gives ".", "%H:%M:%S" gives
// ":", "%Y%m%d" gives "".
std::optional<std::string> SeparatorInPosixFormat(std::string_view format);
