#include "ui/log/CodePage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ui/log/Unicode.h"
#include "ui/log/VisibleText.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Eight bytes that are all printable ASCII, which every reading shows as they are.
bool AllPrintableAscii(std::uint64_t word) {
  if (word & kHighs) return false;
  // A byte below 0x20, then DEL: the classic tests for a byte less than n in a word.
  if ((word - kOnes * 0x20) & ~word & kHighs) return false;
  return ((word + kOnes) & kHighs) == 0;
}

bool Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

TCodePage::TCodePage(const char16_t (&characters)[256], bool utf8) : FUtf8(utf8) {
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char16_t c = characters[byte];
    FCharacter[byte] = c;
    FDisplayed[byte] = static_cast<char16_t>(VisibleCharacter(c));
    FInWord[byte] = IsWordCharacter(c);
  }
  for (unsigned byte = 0; byte < 256; ++byte) {
    FFolded[byte] = static_cast<unsigned char>(byte);
    const char32_t folded = FoldCase(FCharacter[byte]);
    if (folded == FCharacter[byte]) continue;
    for (unsigned other = 0; other < 256; ++other) {
      if (FCharacter[other] == folded) FFolded[byte] = static_cast<unsigned char>(other);
    }
  }
}

std::optional<unsigned char> TCodePage::ByteOf(char16_t c) const {
  for (unsigned byte = 0; byte < 256; ++byte)
    if (FCharacter[byte] == c) return static_cast<unsigned char>(byte);
  return std::nullopt;
}

TCodePage::TCharacter TCodePage::AtUtf8(std::string_view bytes, std::size_t at) const {
  const std::size_t length = Utf8SequenceLength(bytes.substr(at, 4));
  if (length == 0) return {FCharacter[static_cast<unsigned char>(bytes[at])], 1};
  return {Utf8Decode(bytes.data() + at, length), length};
}

// A byte that continues a sequence belongs to the nearest byte before it that does not,
// when that one starts a well-formed sequence long enough to hold it: so any place can be
// told from the few bytes before it, without reading the line from its start.
std::size_t TCodePage::StartOf(std::string_view bytes, std::size_t at) const {
  if (!FUtf8 || at >= bytes.size() || !Continuation(bytes[at])) return at;
  for (std::size_t lead = at; lead > 0 && at - lead < 3;) {
    --lead;
    if (!Continuation(bytes[lead]))
      return lead + Utf8SequenceLength(bytes.substr(lead, 4)) > at ? lead : at;
  }
  return at;  // after three continuations, or at the line's start: a byte of its own
}

std::size_t TCodePage::Previous(std::string_view bytes, std::size_t at) const {
  return at == 0 ? 0 : StartOf(bytes, std::min(at, bytes.size()) - 1);
}

std::u16string TCodePage::Characters(std::string_view bytes) const {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const TCharacter c = At(bytes, at);
    AppendUtf16(text, c.Code);
    at += c.Length;
  }
  return text;
}

std::u16string TCodePage::Shown(std::string_view bytes) const {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const TCharacter c = At(bytes, at);
    AppendUtf16(text, c.Code == u'\t' ? c.Code : VisibleCharacter(c.Code));
    at += c.Length;
  }
  return text;
}

void TCodePage::AppendShownUtf8(std::string& out, std::string_view bytes) const {
  const char* data = bytes.data();
  std::size_t at = 0;
  while (at < bytes.size()) {
    // Most of a log is printable ASCII: it goes over in runs, eight bytes tested at a time.
    std::size_t run = at;
    for (std::uint64_t word; run + 8 <= bytes.size(); run += 8) {
      std::memcpy(&word, data + run, 8);
      if (!AllPrintableAscii(word)) break;
    }
    while (run < bytes.size() && static_cast<unsigned char>(data[run]) >= 0x20 &&
           static_cast<unsigned char>(data[run]) < 0x7F)
      ++run;
    out.append(data + at, run - at);
    at = run;
    if (at == bytes.size()) break;
    const TCharacter c = At(bytes, at);
    AppendUtf8(out, c.Code == u'\t' ? c.Code : VisibleCharacter(c.Code));
    at += c.Length;
  }
}

const TCodePage& TCodePage::Windows1252() {
  static const TCodePage page(kWindows1252);
  return page;
}

const TCodePage& TCodePage::Utf8() {
  static const TCodePage page(kWindows1252, true);
  return page;
}

const TCodePage& TCodePage::Host() {
#ifdef _WIN32
  // Under code page 65001 no byte stands alone for a character: lone bytes as in Windows-1252.
  if (::GetACP() == CP_UTF8) return Utf8();
  static const TCodePage page = [] {
    char16_t characters[256];
    for (unsigned byte = 0; byte < 256; ++byte) {
      const char in = static_cast<char>(byte);
      wchar_t out = 0;
      const bool single = !::IsDBCSLeadByte(static_cast<BYTE>(byte)) &&
                          ::MultiByteToWideChar(CP_ACP, 0, &in, 1, &out, 1) == 1;
      characters[byte] = single ? static_cast<char16_t>(out) : kWindows1252[byte];
    }
    return TCodePage(characters, true);
  }();
  return page;
#else
  return Utf8();
#endif
}
