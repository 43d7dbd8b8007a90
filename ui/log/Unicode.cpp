#include "ui/log/Unicode.h"

#include <algorithm>

namespace {

// The run that may hold `c`: the last that starts at or before it.
const TFoldRun* RunOf(char32_t c) {
  const TFoldRun* end = kFoldRuns + kFoldRunCount;
  const TFoldRun* after = std::upper_bound(
      kFoldRuns, end, c, [](char32_t code, const TFoldRun& run) { return code < run.First; });
  if (after == kFoldRuns) return nullptr;
  const TFoldRun* run = after - 1;
  if (c > run->Last || (c - run->First) % run->Stride != 0) return nullptr;
  return run;
}

}  // namespace

char32_t FoldCase(char32_t c) {
  const TFoldRun* run = RunOf(c);
  return run ? static_cast<char32_t>(static_cast<std::int64_t>(c) + run->Delta) : c;
}

std::u32string CaseVariants(char32_t c) {
  const char32_t folded = FoldCase(c);
  std::u32string variants(1, c);
  if (folded != c) variants.push_back(folded);
  for (std::size_t i = 0; i < kFoldRunCount; ++i) {
    const TFoldRun& run = kFoldRuns[i];
    const std::int64_t source = static_cast<std::int64_t>(folded) - run.Delta;
    if (source < run.First || source > run.Last || (source - run.First) % run.Stride != 0)
      continue;
    if (static_cast<char32_t>(source) != c) variants.push_back(static_cast<char32_t>(source));
  }
  return variants;
}

bool IsWordCharacter(char32_t c) {
  const TCodeRange* end = kWordRanges + kWordRangeCount;
  const TCodeRange* after =
      std::upper_bound(kWordRanges, end, c,
                       [](char32_t code, const TCodeRange& range) { return code < range.First; });
  return after != kWordRanges && c <= (after - 1)->Last;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
}
