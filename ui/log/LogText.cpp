#include "ui/log/LogText.h"

#include <algorithm>
#include <cstring>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "ui/log/LineBreaks.h"
#include "ui/log/VisibleText.h"

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Calls `line` for each line of `text` + a final break: CR LF, a lone LF and a lone CR each end
// a line.
template <class F>
void ForEachLine(std::string_view text, F&& line) {
  std::size_t begin = 0;
  for (std::size_t at = NextBreak(text, 0); at < text.size(); at = NextBreak(text, begin)) {
    line(text.substr(begin, at - begin));
    begin = at + BreakLength(text, at);
  }
  line(text.substr(begin));
}

}  // namespace

TAdvances::TAdvances() {
  Set({}, 48);
}

void TAdvances::Set(TMeasure measure, float tab_width) {
  FMeasure = std::move(measure);
  FTabWidth = tab_width > 0 ? tab_width : 48;
  for (char32_t c = 0; c < 0x80; ++c)
    FAscii[c] = FMeasure ? FMeasure(VisibleCharacter(c)) : 6.0f;
  FBasic.clear();
  FBasic.shrink_to_fit();
  FOthers.clear();
}

float TAdvances::Measured(char32_t c) const {
  if (!FMeasure) return 6.0f;
  if (c >= 0x10000) {
    const auto [at, added] = FOthers.try_emplace(c, 0.0f);
    if (added) at->second = FMeasure(VisibleCharacter(c));
    return at->second;
  }
  if (FBasic.empty()) FBasic.assign(0x10000, -1.0f);
  float& width = FBasic[c];
  if (width < 0) width = FMeasure(VisibleCharacter(c));
  return width;
}

TLogText::TLogText(std::uint64_t capacity) : FCapacity(capacity) {}

std::uint64_t TLogText::Cost(std::string_view text) {
  std::uint64_t cost = 0;
  ForEachLine(text, [&cost](std::string_view line) { cost += line.size() + 1; });
  return cost;
}

bool TLogText::Append(std::string_view text) {
  if (NextBreak(text, 0) == text.size()) {  // most lines hold no break: one pass is enough
    if (text.size() + 1 > Free()) return false;
    StoreLine(text);
    return true;
  }
  if (Cost(text) > Free()) return false;
  ForEachLine(text, [this](std::string_view line) { StoreLine(line); });
  return true;
}

void TLogText::Clear() {
  std::vector<std::unique_ptr<char[]>>().swap(FChunks);
  std::vector<std::unique_ptr<std::uint64_t[]>>().swap(FStarts);
  FCharacters = 0;
  FStored = 0;
  FLineCount = 0;
  FWidest = 0;
#ifdef __GLIBC__
  // What the chunks and blocks leave inside the heap goes back too, not only its top.
  ::malloc_trim(0);
#endif
}

void TLogText::StoreLine(std::string_view bytes) {
  if ((FLineCount & (kStartBlock - 1)) == 0 && (FLineCount >> kStartBits) == FStarts.size())
    FStarts.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(kStartBlock));
  FStarts[FLineCount >> kStartBits][FLineCount & (kStartBlock - 1)] = FStored;
  ++FLineCount;
  Write(bytes);
  FCharacters += bytes.size() + 1;
  if (FAdvances) FWidest = std::max(FWidest, WidthOf(bytes));
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

// Most of a line is ASCII without tabs: such runs are summed eight bytes at a time, in four
// sums, which the processor adds side by side.
float TLogText::WidthOf(std::string_view bytes) const {
  const float* ascii = FAdvances->Ascii();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  float x = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (std::uint64_t word; at + 8 <= bytes.size(); at += 8) {
      std::memcpy(&word, data + at, 8);
      const std::uint64_t tabs = word ^ (kOnes * '\t');
      if ((word & kHighs) || ((tabs - kOnes) & ~tabs & kHighs)) break;
      const unsigned char* b = data + at;
      s0 += ascii[b[0]];
      s1 += ascii[b[1]];
      s2 += ascii[b[2]];
      s3 += ascii[b[3]];
      s0 += ascii[b[4]];
      s1 += ascii[b[5]];
      s2 += ascii[b[6]];
      s3 += ascii[b[7]];
    }
    for (; at < bytes.size() && data[at] < 0x80 && data[at] != '\t'; ++at)
      s0 += ascii[data[at]];
    x += (s0 + s1) + (s2 + s3);
    if (at == bytes.size()) break;
    const TCodePage::TCharacter c = FCodePage->At(bytes, at);
    x = FAdvances->After(x, c.Code);
    at += c.Length;
  }
  return x;
}

std::size_t TLogText::LineLength(std::uint64_t line) const {
  const std::uint64_t end = line + 1 < FLineCount ? StartOf(line + 1) : FStored;
  return static_cast<std::size_t>(end - StartOf(line));
}

std::string_view TLogText::Line(std::uint64_t line, std::string& scratch) const {
  const std::uint64_t start = StartOf(line);
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
