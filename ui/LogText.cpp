#include "ui/LogText.h"

#include <algorithm>
#include <cstring>

namespace {

// Where the next `c` at or after `from` lies, or the end of `text`.
std::size_t Next(std::string_view text, std::size_t from, char c) {
  const void* found = std::memchr(text.data() + from, c, text.size() - from);
  return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
               : text.size();
}

// Calls `line` for each line of `text` + a final break. Most lines hold no break at all, so
// the breaks are looked for with memchr rather than byte by byte.
template <class F>
void ForEachLine(std::string_view text, F&& line) {
  std::size_t begin = 0;
  std::size_t cr = Next(text, 0, '\r');
  std::size_t lf = Next(text, 0, '\n');
  while (cr < text.size() || lf < text.size()) {
    const std::size_t at = std::min(cr, lf);
    line(text.substr(begin, at - begin));
    begin = at + (at == cr && lf == at + 1 && lf < text.size() ? 2 : 1);
    if (cr < begin) cr = Next(text, begin, '\r');
    if (lf < begin) lf = Next(text, begin, '\n');
  }
  line(text.substr(begin));
}

}  // namespace

TLogText::TLogText(std::uint64_t capacity) : FCapacity(capacity) {}

std::uint64_t TLogText::Cost(std::string_view text) {
  std::uint64_t cost = 0;
  ForEachLine(text, [&cost](std::string_view line) { cost += line.size() + 1; });
  return cost;
}

bool TLogText::Append(std::string_view text) {
  if (Cost(text) > Free()) return false;
  ForEachLine(text, [this](std::string_view line) { StoreLine(line); });
  return true;
}

void TLogText::StoreLine(std::string_view bytes) {
  FLineStarts.push_back(FStored);
  Write(bytes);
  FCharacters += bytes.size() + 1;
  if (FMetrics.Advance) FWidest = std::max(FWidest, WidthOf(bytes));
}

void TLogText::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t used = FStored & (kChunkSize - 1);
    if (used == 0 && (FStored >> kChunkBits) == FChunks.size())
      FChunks.push_back(std::make_unique_for_overwrite<char[]>(kChunkSize));
    const std::size_t count = std::min(bytes.size(), kChunkSize - used);
    std::memcpy(FChunks[FStored >> kChunkBits].get() + used, bytes.data(), count);
    FStored += count;
    bytes.remove_prefix(count);
  }
}

float TLogText::WidthOf(std::string_view bytes) const {
  float x = 0;
  for (const char c : bytes)
    x = FMetrics.After(x, static_cast<unsigned char>(c));
  return x;
}

std::size_t TLogText::LineLength(std::uint64_t line) const {
  const std::uint64_t end = line + 1 < FLineStarts.size() ? FLineStarts[line + 1] : FStored;
  return static_cast<std::size_t>(end - FLineStarts[line]);
}

std::string_view TLogText::Line(std::uint64_t line, std::string& scratch) const {
  const std::uint64_t start = FLineStarts[line];
  const std::size_t length = LineLength(line);
  const std::size_t offset = start & (kChunkSize - 1);
  const char* chunk = length ? FChunks[start >> kChunkBits].get() : nullptr;
  if (offset + length <= kChunkSize) return {chunk ? chunk + offset : "", length};
  scratch.clear();
  std::uint64_t position = start;
  std::size_t left = length;
  while (left > 0) {
    const std::size_t at = position & (kChunkSize - 1);
    const std::size_t count = std::min(left, kChunkSize - at);
    scratch.append(FChunks[position >> kChunkBits].get() + at, count);
    position += count;
    left -= count;
  }
  return scratch;
}
