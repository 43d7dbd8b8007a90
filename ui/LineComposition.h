#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/UnitGlobal.h"

// The checked state of the window's nine check boxes: three columns, six flag filters.
struct TDisplayOptions {
  bool ShowDate = true;
  bool ShowAddresses = true;
  bool ShowFlags = true;
  bool AcceptURG = true;
  bool AcceptACK = true;
  bool AcceptPSH = true;
  bool AcceptRST = true;
  bool AcceptSYN = true;
  bool AcceptFIN = true;

  bool Accepts(TDrapeauTCP flag) const;
};

// The line the log view shows for a record, or nothing when none of the flags it carries is
// accepted, or when every part of the line is empty.
std::optional<std::string> ComposeLine(const TTrameTCP& trame, const TDisplayOptions& options);

// Blanks in front of `text` up to `width` characters; a longer text is never cut.
std::string PadLeft(std::string_view text, int width);

// The date and time separators of the user's locale, as the platform reports them: one
// character is used as it is, two or more give "/" and ":", an empty setting gives none.
// Process-wide; a platform that cannot tell passes "/" and ":".
void SetDateTimeSeparators(std::string_view date, std::string_view time);
