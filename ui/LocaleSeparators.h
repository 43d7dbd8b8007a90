#pragma once

#include <optional>
#include <string>
#include <string_view>

// The separator between the first two fields of a locale's date or time pattern, or nothing
// when the pattern has fewer than two fields.

// POSIX notation, as nl_langinfo(D_FMT) reports it: "%d.%m.%Y" gives ".", "%H:%M:%S" gives
// ":", "%Y%m%d" gives "".
std::optional<std::string> SeparatorInPosixFormat(std::string_view format);

// Qt's notation, as QLocale reports it: letters are fields, quotes enclose literal text;
// "dd/MM/yyyy" gives "/".
std::optional<std::string> SeparatorInQtFormat(std::string_view format);
