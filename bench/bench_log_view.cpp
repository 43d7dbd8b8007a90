// The log view against QPlainTextEdit: appending a million composed lines in batches, the
// memory each line holds (ASCII, and a payload of mixed Cyrillic and ASCII read as UTF-8),
// painting a full viewport with ten million lines held, saving those ten million lines in
// slices as the view does, and clearing them, with the process's resident size before the
// lines came, with them and after the clear.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench_log_view
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ComposedLines.h"
#include "ui/qt/LogView.h"

namespace {

constexpr int kBatch = 10'000;

std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct TAppendResult {
  double LinesPerSecond;
  double BytesPerLine;
};

double ResidentMb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

template <class F>
TAppendResult MeasureAppend(int total, F&& append_batch,
                            std::string (*compose)(unsigned long long) = ComposedLine) {
  std::vector<std::string> batch(kBatch);
  for (int i = 0; i < kBatch; ++i)
    batch[i] = compose(i);
  malloc_trim(0);
  const std::size_t before = HeapInUse();
  QElapsedTimer timer;
  timer.start();
  for (int done = 0; done < total; done += kBatch)
    append_batch(batch);
  const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
  const std::size_t after = HeapInUse();
  return {total / seconds, static_cast<double>(after - before) / total};
}

double PaintMilliseconds(TLogView& view, int paints, bool random) {
  QImage image(view.viewport()->size(), QImage::Format_RGB32);
  std::mt19937 generator(7);
  QScrollBar* bar = view.verticalScrollBar();
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < paints; ++i) {
    if (random) bar->setValue(static_cast<int>(generator() % (bar->maximum() + 1u)));
    view.viewport()->render(&image);
  }
  return static_cast<double>(timer.nsecsElapsed()) / 1e6 / paints;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int total = 1'000'000;

  {
    TLogView view(std::uint64_t{1} << 30);
    view.resize(940, 585);
    const TAppendResult ours = MeasureAppend(
        total, [&](const std::vector<std::string>& batch) { view.AppendLines(batch); });
    std::printf("TLogView        append %9.0f lines/s  memory %6.1f bytes/line\n",
                ours.LinesPerSecond, ours.BytesPerLine);
  }
  {
    TLogView view(std::uint64_t{1} << 30);
    view.resize(940, 585);
    const TAppendResult ours = MeasureAppend(
        total, [&](const std::vector<std::string>& batch) { view.AppendLines(batch); },
        ComposedCyrillicLine);
    std::printf(
        "TLogView        append %9.0f lines/s  memory %6.1f bytes/line (Cyrillic, UTF-8)\n",
        ours.LinesPerSecond, ours.BytesPerLine);
  }
  {
    QPlainTextEdit edit;
    edit.resize(940, 585);
    edit.setReadOnly(true);
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    const TAppendResult theirs = MeasureAppend(total, [&](const std::vector<std::string>& batch) {
      QString text;
      for (const std::string& line : batch) {
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += QLatin1String(line.data(), static_cast<qsizetype>(line.size()));
      }
      edit.appendPlainText(text);
    });
    std::printf("QPlainTextEdit  append %9.0f lines/s  memory %6.1f bytes/line\n",
                theirs.LinesPerSecond, theirs.BytesPerLine);
  }
  for (const int lines : {10'000, 10'000'000}) {
    malloc_trim(0);
    const double resident_before = ResidentMb();
    TLogView view(std::uint64_t{4} << 30);
    view.resize(940, 585);
    view.show();
    std::vector<std::string> batch(kBatch);
    for (int i = 0; i < kBatch; ++i)
      batch[i] = ComposedLine(i);
    for (int done = 0; done < lines; done += kBatch)
      view.AppendLines(batch);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
    const double middle = PaintMilliseconds(view, 200, false);
    const double anywhere = PaintMilliseconds(view, 200, true);
    std::printf(
        "TLogView paint 940x585 with %8d lines: %.2f ms in the middle, "
        "%.2f ms scrolled anywhere\n",
        lines, middle, anywhere);
    if (lines < 10'000'000) continue;
    // The save as the view runs it: 10 ms slices, the file written between them.
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "quorvel-bench.txt";
    const auto start = std::chrono::steady_clock::now();
    double longest = 0;
    {
      TLogSave save(view.Model().Text(), view.Model().CodePage(), file, "\n");
      for (bool more = true; more;) {
        const auto before = std::chrono::steady_clock::now();
        more = save.Continue(std::chrono::milliseconds(10));
        longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - before)
                                        .count());
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("TLogView save %d lines (%.0f MB): %.2f s, longest slice %.1f ms\n", lines,
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, seconds, longest);
    std::filesystem::remove(file);
    const double resident_with = ResidentMb();
    view.ClearLog();
    std::printf(
        "TLogView clear: resident %.0f MB before the lines, %.0f MB with them, "
        "%.0f MB after the clear\n",
        resident_before, resident_with, ResidentMb());
  }
  return 0;
}
