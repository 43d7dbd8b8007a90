#include "ui/DefaultHandler.h"

#include "ui/PortConversion.h"
#include "ui/log/VisibleText.h"

std::string MessageOf(const std::exception& error) {
  // what() ends at the first NUL, which a pasted text may hold.
  if (const auto* conversion = dynamic_cast<const EConvertError*>(&error))
    return conversion->Message();
  return error.what();
}

std::u16string BoxText(std::u16string_view message) {
  std::u16string text(message);
  if (!text.empty() && text.back() > u'.') text += u'.';
  if (text.size() > kMaxBoxCharacters) {
    std::size_t cut = kMaxBoxCharacters - 1;
    if (text[cut] >= 0xDC00 && text[cut] <= 0xDFFF) --cut;  // not inside a surrogate pair
    text.resize(cut);
    text += u'\u2026';
  }
  for (char16_t& c : text) {
    if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(VisibleCharacter(c));
  }
  return text;
}
