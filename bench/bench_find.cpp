// Finding a text that is absent from ten million lines of 110 characters held by the log:
// the search for the next match and the count of all matches, in slices as the view runs
// them, beside memmem over the same bytes and grep -c over the same text in a file.
// Usage: bench_find [lines]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ComposedLines.h"
#include "ui/LogFind.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
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

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10'000'000;
  const char* needle = "absent text";
  TLogText text(std::uint64_t{4} << 30);
  std::string bytes;
  bytes.reserve(lines * 111);
  for (std::uint64_t i = 0; i < lines; ++i) {
    const std::string line = ComposedLine(i);
    text.Append(line);
    bytes += line;
    bytes += '\n';
  }
  TLogFinder finder(text, TCodePage::Windows1252());
  for (const bool match_case : {false, true}) {
    finder.SetNeedle(needle, match_case);
    const TSliced search = Slices([&] {
      if (!finder.Searching()) finder.StartSearch({0, 0}, true);
      return finder.ContinueSearch(10ms) == TLogFinder::TProgress::More;
    });
    const TSliced count =
        Slices([&] { return finder.ContinueCount(10ms) == TLogFinder::TProgress::More; });
    std::printf(
        "find in %llu lines, %s: search %.0f ms, count %.0f ms (longest slice %.1f ms), "
        "found %s\n",
        static_cast<unsigned long long>(lines), match_case ? "match case" : "any case",
        search.TotalMs, count.TotalMs, std::max(search.LongestSliceMs, count.LongestSliceMs),
        finder.Found() ? "something" : "nothing");
  }
  const auto start = TClock::now();
  const void* hit = ::memmem(bytes.data(), bytes.size(), needle, std::strlen(needle));
  std::printf("memmem over the same %zu bytes: %.0f ms (%s)\n", bytes.size(),
              Ms(TClock::now() - start), hit ? "found" : "not found");
  const std::string file = "/tmp/quorvel-bench-find.txt";
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  TimeCommand("cat " + file + " >/dev/null");  // in the page cache, as the log is in memory
  const double grep = TimeCommand(std::string("grep -c '") + needle + "' " + file + " >/dev/null");
  const double grep_i =
      TimeCommand(std::string("grep -ci '") + needle + "' " + file + " >/dev/null");
  std::printf("grep -c: %.0f ms, grep -ci: %.0f ms\n", grep, grep_i);
  std::remove(file.c_str());
  return 0;
}
