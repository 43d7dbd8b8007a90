#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The host's ANSI code page on Linux: Windows-1252, with its five undefined bytes (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) taken as the C1 controls of the same value, so that every byte is
// exactly one character.
// clang-format off
inline constexpr char16_t kWindows1252[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A,
    0x000B, 0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015,
    0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F, 0x0020,
    0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B,
    0x002C, 0x002D, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036,
    0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041,
    0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047, 0x0048, 0x0049, 0x004A, 0x004B, 0x004C,
    0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F, 0x0060, 0x0061, 0x0062,
    0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D,
    0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077, 0x0078,
    0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,
    // 0x80
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    // 0xA0 onwards is Latin-1
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA,
    0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5,
    0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB,
    0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6,
    0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1,
    0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC,
    0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
// clang-format on

// How the log reads a payload's bytes as characters, on every host: each well-formed UTF-8
// sequence reads as its character, and every other byte alone as the host's ANSI code page
// reads it (Windows-1252 on Linux and under code page 65001; a lead byte of a double-byte code
// page, which stands for no character alone, as in Windows-1252). An 8-bit reading (Windows-1252
// alone) reads every byte as one character. Either way a line's bytes are kept as they came: only
// reading them changes.
class TCodePage {
 public:
  // UTF-8, its lone bytes read as the host's ANSI code page reads them.
  static const TCodePage& Host();
  static const TCodePage& Windows1252();
  static const TCodePage& Utf8();

  explicit TCodePage(const char16_t (&characters)[256], bool utf8 = false);

  bool IsUtf8() const { return FUtf8; }

  // A character of a line: what it stands for and the bytes it takes.
  struct TCharacter {
    char32_t Code;
    std::size_t Length;
  };
  // The character that starts at byte `at` of `bytes` (at < size).
  TCharacter At(std::string_view bytes, std::size_t at) const {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80 || !FUtf8) return {FCharacter[byte], 1};
    return AtUtf8(bytes, at);
  }
  // Where the character after, or before, the one at byte `at` starts.
  std::size_t Next(std::string_view bytes, std::size_t at) const {
    return at < bytes.size() ? at + At(bytes, at).Length : bytes.size();
  }
  std::size_t Previous(std::string_view bytes, std::size_t at) const;
  // The start of the character that holds byte `at` (`at` itself at the end).
  std::size_t StartOf(std::string_view bytes, std::size_t at) const;

  // What a byte reads as on its own: a byte outside any UTF-8 sequence, or any byte of an
  // 8-bit code page.
  char16_t Character(unsigned char byte) const { return FCharacter[byte]; }
  // What a view draws for it: control characters as visible symbols (the Control Pictures, and
  // a replacement mark for C1 controls).
  char16_t Displayed(unsigned char byte) const { return FDisplayed[byte]; }
  // The byte of the character's simple case folding, where the code page has it; for matching
  // an 8-bit code page's text without regard to case.
  unsigned char Folded(unsigned char byte) const { return FFolded[byte]; }
  // Letters, digits and the underscore: what a double click selects as a word.
  bool InWord(unsigned char byte) const { return FInWord[byte]; }
  // The byte that stands for `c` on its own, when the code page has one.
  std::optional<unsigned char> ByteOf(char16_t c) const;

  // The characters of `bytes`, in UTF-16, control characters as they are.
  std::u16string Characters(std::string_view bytes) const;
  // The characters as drawn, tabs as they are, in UTF-16: what a copy gives; appended in
  // UTF-8: what a saved log holds. Raw control characters never leave the log, so that
  // escape sequences from the network cannot act where the text goes.
  std::u16string Shown(std::string_view bytes) const;
  void AppendShownUtf8(std::string& out, std::string_view bytes) const;

 private:
  TCharacter AtUtf8(std::string_view bytes, std::size_t at) const;

  bool FUtf8;
  char16_t FCharacter[256];
  char16_t FDisplayed[256];
  unsigned char FFolded[256];
  bool FInWord[256];
};
