#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The log view's text, held compactly: every byte of every line in large chunks, plus the
// start of each line. Line breaks are not stored: CR LF, a lone LF and a lone CR each end a
// line. Capacity counts characters as the platform's rich-text control does: each byte of
// text, and one for each line break.
class TLogText {
 public:
  // The width of a character in pixels, for each byte, and the distance between tab stops;
  // given, the text keeps the width of its widest line.
  struct TMetrics {
    const float* Advance = nullptr;  // 256 entries
    float TabWidth = 48;

    // Where the next character starts once `byte` is drawn at `x`, from the line's start.
    float After(float x, unsigned char byte) const {
      return byte == '\t' ? (std::floor(x / TabWidth) + 1) * TabWidth : x + Advance[byte];
    }
  };

  explicit TLogText(std::uint64_t capacity);

  void SetMetrics(const TMetrics& metrics) { FMetrics = metrics; }

  // Characters that `text` takes once appended as a line: its bytes, less its breaks' extra
  // characters, plus the final break.
  static std::uint64_t Cost(std::string_view text);

  // Appends `text` followed by a line break, or nothing when it does not fit whole.
  bool Append(std::string_view text);

  std::uint64_t Capacity() const { return FCapacity; }
  std::uint64_t Characters() const { return FCharacters; }
  std::uint64_t Free() const { return FCapacity - FCharacters; }
  std::uint64_t LineCount() const { return FLineStarts.size(); }
  std::size_t LineLength(std::uint64_t line) const;
  // Line `line`'s bytes; `scratch` holds them when they cross a chunk boundary.
  std::string_view Line(std::uint64_t line, std::string& scratch) const;
  float WidestLine() const { return FWidest; }

 private:
  static constexpr std::size_t kChunkBits = 20;
  static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;

  void StoreLine(std::string_view bytes);
  void Write(std::string_view bytes);
  float WidthOf(std::string_view bytes) const;

  std::uint64_t FCapacity;
  std::uint64_t FCharacters = 0;
  std::uint64_t FStored = 0;  // bytes in the chunks
  std::vector<std::unique_ptr<char[]>> FChunks;
  std::deque<std::uint64_t> FLineStarts;
  TMetrics FMetrics;
  float FWidest = 0;
};
