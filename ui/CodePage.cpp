#include "ui/CodePage.h"

#include "ui/VisibleText.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Lower case for the scripts the ANSI code pages hold: Latin, Greek and Cyrillic.
char16_t Lower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149) {
    // Latin Extended-A pairs upper and lower, even then odd, with a shift in the middle.
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper ? (c % 2 == 1) : (c % 2 == 0)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

bool IsWordCharacter(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         c == u'_' || c == 0xAA || c == 0xB5 || c == 0xBA ||
         (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x370 && c <= 0x52F);
}

}  // namespace

TCodePage::TCodePage(const char16_t (&characters)[256]) {
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char16_t c = characters[byte];
    FCharacter[byte] = c;
    FDisplayed[byte] = static_cast<char16_t>(VisibleCharacter(c));
    FInWord[byte] = IsWordCharacter(c);
  }
  for (unsigned byte = 0; byte < 256; ++byte) {
    FFolded[byte] = static_cast<unsigned char>(byte);
    const char16_t lower = Lower(FCharacter[byte]);
    if (lower == FCharacter[byte]) continue;
    for (unsigned other = 0; other < 256; ++other) {
      if (FCharacter[other] == lower) FFolded[byte] = static_cast<unsigned char>(other);
    }
  }
}

std::optional<unsigned char> TCodePage::ByteOf(char16_t c) const {
  for (unsigned byte = 0; byte < 256; ++byte)
    if (FCharacter[byte] == c) return static_cast<unsigned char>(byte);
  return std::nullopt;
}

const TCodePage& TCodePage::Windows1252() {
  static const TCodePage page(kWindows1252);
  return page;
}

const TCodePage& TCodePage::Host() {
#ifdef _WIN32
  static const TCodePage page = [] {
    char16_t characters[256];
    for (unsigned byte = 0; byte < 256; ++byte) {
      const char in = static_cast<char>(byte);
      wchar_t out = 0;
      const bool single = !::IsDBCSLeadByte(static_cast<BYTE>(byte)) &&
                          ::MultiByteToWideChar(CP_ACP, 0, &in, 1, &out, 1) == 1;
      characters[byte] = single ? static_cast<char16_t>(out) : kWindows1252[byte];
    }
    return TCodePage(characters);
  }();
  return page;
#else
  return Windows1252();
#endif
}
