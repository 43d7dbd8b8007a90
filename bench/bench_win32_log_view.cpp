// The Win32 log view: appending a million composed lines in batches, the memory each line
// holds, one full repaint of a 940x585 view with ten million lines held, saving those lines in
// slices as the view does (CR LF), and clearing them, with the memory committed before the
// lines came, with them and after the clear. Run it under wine on a display
// (cmake/wine-run.sh does both): the figures sit beside bench_log_view's.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ComposedLines.h"
#include "ui/win32/LogView.h"

namespace {

constexpr int kBatch = 10'000;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now;
}

// Memory committed to this process alone, walked region by region: wine does not keep the
// process counters that would say it.
SIZE_T PrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < at) break;
  }
  return total;
}

// A top-level window holding one view of 940x585.
struct THost {
  HWND Window = ::CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  1000, 700, nullptr, nullptr, nullptr, nullptr);
  TLogView View{Window, 1, std::uint64_t{4} << 30};
  THost() { ::MoveWindow(View.Handle(), 0, 0, 940, 585, TRUE); }
  ~THost() { ::DestroyWindow(Window); }
};

void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

int main() {
  std::vector<std::string> batch(kBatch);
  for (int i = 0; i < kBatch; ++i)
    batch[i] = ComposedLine(i);
  {
    THost host;
    Pump();
    const SIZE_T before = PrivateBytes();
    const LARGE_INTEGER start = Now();
    for (int done = 0; done < 1'000'000; done += kBatch)
      host.View.AppendLines(batch);
    const double seconds = Seconds(start, Now());
    const double bytes = static_cast<double>(PrivateBytes() - before) / 1e6;
    std::printf("Win32 TLogView  append %9.0f lines/s  memory %6.1f bytes/line\n", 1e6 / seconds,
                bytes);
  }
  for (const int lines : {10'000, 10'000'000}) {
    const SIZE_T before = PrivateBytes();
    THost host;
    for (int done = 0; done < lines; done += kBatch)
      host.View.AppendLines(batch);
    Pump();
    double total = 0, worst = 0;
    constexpr int kPaints = 200;
    for (int i = 0; i < kPaints; ++i) {
      ::InvalidateRect(host.View.Handle(), nullptr, FALSE);
      const LARGE_INTEGER start = Now();
      ::UpdateWindow(host.View.Handle());  // the whole WM_PAINT, now
      const double ms = Seconds(start, Now()) * 1e3;
      total += ms;
      worst = std::max(worst, ms);
    }
    std::printf("Win32 TLogView paint 940x585 with %8d lines: %.2f ms a repaint, worst %.2f ms\n",
                lines, total / kPaints, worst);
    if (lines < 10'000'000) continue;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "quorvel-bench.txt";
    const LARGE_INTEGER start = Now();
    double longest = 0;
    {
      TLogSave save(host.View.Model().Text(), host.View.Model().CodePage(), file, "\r\n");
      for (bool more = true; more;) {
        const LARGE_INTEGER slice = Now();
        more = save.Continue(std::chrono::milliseconds(10));
        longest = std::max(longest, Seconds(slice, Now()) * 1e3);
      }
    }
    std::printf("Win32 TLogView save %d lines (%.0f MB): %.2f s, longest slice %.1f ms\n", lines,
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, Seconds(start, Now()),
                longest);
    std::filesystem::remove(file);
    const SIZE_T with = PrivateBytes();
    host.View.ClearLog();
    std::printf(
        "Win32 TLogView clear: %.0f MB committed before the lines, %.0f MB with them, "
        "%.0f MB after the clear\n",
        static_cast<double>(before) / 1e6, static_cast<double>(with) / 1e6,
        static_cast<double>(PrivateBytes()) / 1e6);
  }
  return 0;
}
