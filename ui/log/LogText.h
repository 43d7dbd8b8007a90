#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/log/CodePage.h"

// The width of each character as a view draws it, asked of the view once per character and
// kept, and the distance between tab stops.
class TAdvances {
 public:
  // The width in pixels of `shown`, a character as drawn (control characters as their
  // visible symbols).
  using TMeasure = std::function<float(char32_t shown)>;

  TAdvances();  // six pixels a character, tabs every 48
  void Set(TMeasure measure, float tab_width);

  float TabWidth() const { return FTabWidth; }
  // The widths of the ASCII characters, by code.
  const float* Ascii() const { return FAscii; }
  float Of(char32_t c) const { return c < 0x80 ? FAscii[c] : Measured(c); }
  // Where the next character starts once `c` is drawn at `x`, from the line's start.
  float After(float x, char32_t c) const {
    return c == u'\t' ? (std::floor(x / FTabWidth) + 1) * FTabWidth : x + Of(c);
  }

 private:
  float Measured(char32_t c) const;

  TMeasure FMeasure;
  float FTabWidth = 48;
  float FAscii[0x80];
  mutable std::vector<float> FBasic;  // the Basic Multilingual Plane, measured as met
  mutable std::unordered_map<char32_t, float> FOthers;
};

// The log view's text, held compactly: every byte of every line in large chunks, plus the
// start of each line. Line breaks are not stored: CR LF, a lone LF and a lone CR each end a
// line. Capacity counts characters as the platform's rich-text control does: each byte of
// text, and one for each line break.
class TLogText {
 public:
  explicit TLogText(std::uint64_t capacity);

  // Given, the text keeps the width of its widest line, its characters read as `code_page`
  // reads them.
  void SetMetrics(const TAdvances* advances, const TCodePage* code_page) {
    FAdvances = advances;
    FCodePage = code_page;
  }

  // Characters that `text` takes once appended as a line: its bytes, less its breaks' extra
  // characters, plus the final break.
  static std::uint64_t Cost(std::string_view text);

  // Appends `text` followed by a line break, or nothing when it does not fit whole.
  bool Append(std::string_view text);
  // Empties the text and gives its memory back to the system.
  void Clear();

  std::uint64_t Capacity() const { return FCapacity; }
  std::uint64_t Characters() const { return FCharacters; }
  std::uint64_t Free() const { return FCapacity - FCharacters; }
  std::uint64_t LineCount() const { return FLineCount; }
  std::size_t LineLength(std::uint64_t line) const;
  // Line `line`'s bytes; `scratch` holds them when they cross a chunk boundary.
  std::string_view Line(std::uint64_t line, std::string& scratch) const;
  float WidestLine() const { return FWidest; }

 private:
  static constexpr std::size_t kChunkBits = 20;
  static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
  // Line starts in blocks large enough to go straight back to the system once freed.
  static constexpr std::size_t kStartBits = 16;
  static constexpr std::size_t kStartBlock = std::size_t{1} << kStartBits;

  std::uint64_t StartOf(std::uint64_t line) const {
    return FStarts[line >> kStartBits][line & (kStartBlock - 1)];
  }
  void StoreLine(std::string_view bytes);
  void Write(std::string_view bytes);
  float WidthOf(std::string_view bytes) const;

  std::uint64_t FCapacity;
  std::uint64_t FCharacters = 0;
  std::uint64_t FStored = 0;  // bytes in the chunks
  std::uint64_t FLineCount = 0;
  std::vector<std::unique_ptr<char[]>> FChunks;
  std::vector<std::unique_ptr<std::uint64_t[]>> FStarts;
  const TAdvances* FAdvances = nullptr;
  const TCodePage* FCodePage = nullptr;
  float FWidest = 0;
};
