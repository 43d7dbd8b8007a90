#pragma once

// The font each character of the log is drawn and measured with: the log's own where it has
// the character, otherwise the first that has it among the system's fallback fonts, then among
// every other font installed. Each character's font is chosen once.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Windows' font of that face at that height (in the log's pixels, negative for the em).
HFONT CreateFace(int height, const wchar_t* name);

class TFontFallback {
 public:
  // `primary`, the log's font, stays the caller's.
  TFontFallback(HFONT primary, int height);
  ~TFontFallback();
  TFontFallback(const TFontFallback&) = delete;
  TFontFallback& operator=(const TFontFallback&) = delete;

  HFONT FontOf(char32_t shown);
  // The glyph of a character outside the Basic Multilingual Plane in its font, when it has one:
  // drawn by their glyphs, such characters need no surrogate pairs of the system.
  std::optional<WORD> GlyphOf(char32_t shown);

 private:
  // A run of characters of a font and the glyph of its first.
  struct TGlyphRange {
    char32_t First, Last;
    std::uint32_t Glyph;
    bool operator<(char32_t c) const { return Last < c; }
  };
  struct TFace {
    explicit TFace(std::wstring name, HFONT font = nullptr)
        : Name(std::move(name)), Font(font), Opened(font != nullptr) {}
    std::wstring Name;
    HFONT Font = nullptr;
    bool Opened = false;
    bool AstralRead = false;
    std::vector<TGlyphRange> Astral;
    std::optional<WORD> GlyphOf(char32_t c) const;
  };

  static std::vector<TGlyphRange> AstralRanges(HDC dc);
  std::size_t Choose(char32_t c);
  bool Open(TFace& face);
  bool Has(TFace& face, char32_t c);
  void AddInstalledFaces();

  HDC FDc;
  int FHeight;
  std::vector<TFace> FFaces;  // the first, the log's font, is not owned
  bool FInstalledAdded = false;
  std::vector<std::uint16_t> FBasic;  // each character's face, plus one; 0 until chosen
  std::unordered_map<char32_t, std::uint16_t> FOthers;
};
