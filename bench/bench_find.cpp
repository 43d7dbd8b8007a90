// Finding a text that is absent from ten million lines held by the log: the search for the
// next match and the count of all matches, in slices as the view runs them, beside memmem over
// the same bytes and grep -c over the same text in a file. First over lines of 110 ASCII
// characters read as Windows-1252, then over lines of 144 bytes whose payload mixes Cyrillic
// and ASCII, read as UTF-8, with the memory each line holds.
// Usage: bench_find [lines]
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ComposedLines.h"
#include "ui/log/LogFind.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct TSliced {
  double TotalMs = 0;
  double LongestSliceMs = 0;
};

template <class F>
TSliced Slices(F&& slice) {
  TSliced result;
  const auto start = TClock::now();
  for (bool more = true; more;) {
    const auto before = TClock::now();
    more = slice();
    result.LongestSliceMs = std::max(result.LongestSliceMs, Ms(TClock::now() - before));
  }
  result.TotalMs = Ms(TClock::now() - start);
  return result;
}

// grep -c ends with status 1 when it counts nothing: only the time matters here.
double TimeCommand(const std::string& command) {
  const auto start = TClock::now();
  (void)!std::system(command.c_str());
  return Ms(TClock::now() - start);
}

void Run(const char* title, std::uint64_t lines,
         const std::function<std::string(std::uint64_t)>& make_line, const TCodePage& code_page,
         std::initializer_list<std::pair<const char16_t*, const char*>> needles, bool compare) {
  malloc_trim(0);
  const std::size_t heap_before = HeapInUse();
  TLogText text(std::uint64_t{4} << 30);
  for (std::uint64_t i = 0; i < lines; ++i)
    text.Append(make_line(i));
  std::printf("%s: %llu lines, %.1f bytes a line held\n", title,
              static_cast<unsigned long long>(lines),
              static_cast<double>(HeapInUse() - heap_before) / static_cast<double>(lines));
  TLogFinder finder(text, code_page);
  for (const auto& [needle, name] : needles) {
    for (const bool match_case : {false, true}) {
      finder.SetNeedle(needle, match_case);
      const TSliced search = Slices([&] {
        if (!finder.Searching()) finder.StartSearch({0, 0}, true);
        return finder.ContinueSearch(10ms) == TLogFinder::TProgress::More;
      });
      const TSliced count =
          Slices([&] { return finder.ContinueCount(10ms) == TLogFinder::TProgress::More; });
      std::printf(
          "  find \"%s\", %s: search %.0f ms, count %.0f ms (longest slice %.1f ms), found %s\n",
          name, match_case ? "match case" : "any case", search.TotalMs, count.TotalMs,
          std::max(search.LongestSliceMs, count.LongestSliceMs),
          finder.Found() ? "something" : "nothing");
    }
  }
  if (!compare) return;
  std::string bytes;
  bytes.reserve(lines * 111);
  for (std::uint64_t i = 0; i < lines; ++i) {
    bytes += make_line(i);
    bytes += '\n';
  }
  const char* needle = "absent text";
  const auto start = TClock::now();
  const void* hit = ::memmem(bytes.data(), bytes.size(), needle, std::strlen(needle));
  std::printf("  memmem over the same %zu bytes: %.0f ms (%s)\n", bytes.size(),
              Ms(TClock::now() - start), hit ? "found" : "not found");
  const std::string file = "/tmp/quorvel-bench-find.txt";
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  bytes = {};
  TimeCommand("cat " + file + " >/dev/null");  // in the page cache, as the log is in memory
  const double grep = TimeCommand(std::string("grep -c '") + needle + "' " + file + " >/dev/null");
  const double grep_i =
      TimeCommand(std::string("grep -ci '") + needle + "' " + file + " >/dev/null");
  std::printf("  grep -c: %.0f ms, grep -ci: %.0f ms\n", grep, grep_i);
  std::remove(file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10'000'000;
  Run("ASCII, Windows-1252", lines, ComposedLine, TCodePage::Windows1252(),
      {{u"absent text", "absent text"}}, true);
  Run("Cyrillic and ASCII, UTF-8", lines, ComposedCyrillicLine, TCodePage::Utf8(),
      {{u"absent text", "absent text"},
       {u"\u043E\u0442\u0441\u0443\u0442\u0441\u0442\u0432\u0443\u0435\u0442",
        "\xD0\xBE\xD1\x82\xD1\x81\xD1\x83\xD1\x82\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB5\xD1"
        "\x82"},
       {u"\u0417\u0410\u041A\u0410\u0417 \u0445",
        "\xD0\x97\xD0\x90\xD0\x9A\xD0\x90\xD0\x97 \xD1\x85"}},
      false);
  return 0;
}
