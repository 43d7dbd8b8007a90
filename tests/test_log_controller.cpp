// The log view's behaviour without a toolkit, through a view that records what it is asked:
// appends, keys, the menu, find, save, clear, the mouse's selection and what a paint draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "ui/log/LogController.h"

namespace {

struct TPort : TLogViewPort {
  std::vector<std::string> Calls;
  std::vector<std::string> Ops;  // of the paints
  std::u16string Clipboard, Buffer;
  std::filesystem::path SavePath;
  std::vector<std::string> Errors;
  std::string Status, Strip;
  bool FindShown = false;
  TLogRect Marker{150, 20, 200, 30};

  void Repaint() override { Calls.push_back("Repaint"); }
  void SyncScrollBars() override { Calls.push_back("Sync"); }
  void StartWork(TLogWork work) override { Calls.push_back(Work("Start", work)); }
  void StopWork(TLogWork work) override { Calls.push_back(Work("Stop", work)); }
  void StartAutoScroll() override { Calls.push_back("StartAutoScroll"); }
  void StopAutoScroll() override { Calls.push_back("StopAutoScroll"); }
  void PutOnClipboard(std::u16string_view text) override { Clipboard = text; }
  bool HasSelectionBuffer() const override { return true; }
  void PutOnSelectionBuffer(std::u16string_view text) override { Buffer = text; }
  std::filesystem::path AskSavePath() override { return SavePath; }
  void ShowError(const std::exception& error) override { Errors.push_back(error.what()); }
  void ShowFindBar(bool shown) override { FindShown = shown; }
  void FocusFindBar() override { Calls.push_back("FocusFindBar"); }
  void SetFindStatus(const std::string& status) override { Status = status; }
  void ShowSaveStrip(const std::string& text) override { Strip = text; }
  void FocusLog() override { Calls.push_back("FocusLog"); }
  void Fill(TLogRole role, const TLogRect& rect) override {
    Ops.push_back(Op("Fill", role, rect));
  }
  void Frame(TLogRole role, const TLogRect& rect) override {
    Ops.push_back(Op("Frame", role, rect));
  }
  void DrawRun(const TLogRun& run) override {
    std::string text(run.Text.begin(), run.Text.end());
    int width = 0;
    for (int advance : run.Advances)
      width += advance;
    Ops.push_back("Run " + std::to_string(static_cast<int>(run.Role)) + " " + text + " at " +
                  std::to_string(static_cast<int>(run.X)) + "+" + std::to_string(width) + "," +
                  std::to_string(run.Top) + (run.Clip ? " clipped" : ""));
  }
  TLogRect DrawMarker(const std::string& note) override {
    Ops.push_back("Marker " + note);
    return Marker;
  }

  static std::string Work(const char* what, TLogWork work) {
    return std::string(what) + (work == TLogWork::Find ? " Find" : " Save");
  }
  static std::string Op(const char* what, TLogRole role, const TLogRect& r) {
    return std::string(what) + " " + std::to_string(static_cast<int>(role)) + " " +
           std::to_string(static_cast<int>(r.Left)) + "-" +
           std::to_string(static_cast<int>(r.Right)) + "," +
           std::to_string(static_cast<int>(r.Top));
  }
  std::size_t Count(const std::string& call) const {
    return static_cast<std::size_t>(std::count(Calls.begin(), Calls.end(), call));
  }
};

// Every character 6 pixels wide, tabs every 48, lines 10 high, 3 rows in sight.
struct TFixture {
  TPort Port;
  TLogController Log;
  explicit TFixture(std::uint64_t capacity = 1 << 20) : Log(Port, capacity, "\r\n") {
    Log.Model().SetMetrics([](char32_t) { return 6.f; }, 48, 10);
    Log.Model().SetViewport(200, 30);
  }
  void Append(std::vector<std::string> lines) { Log.AppendAll(lines); }
};

using K = TLogKeyPress;

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(LogController, AppendIsTheOneCheckOfWhatFits) {
  TPort port;
  TLogController log(port, 20, "\n");
  const std::vector<std::string> lines{"0123456789", "abc", "defghijklmn"};
  EXPECT_EQ(log.Append(lines), 2u);
  EXPECT_EQ(port.Count("Sync"), 1u);
  EXPECT_EQ(log.Append(std::vector<std::string>{"x"}), 1u);
  EXPECT_THROW(log.AppendAll(std::vector<std::string>{"toolong"}), ELineInsertionError);
  EXPECT_EQ(port.Count("Sync"), 2u);  // nothing went in: nothing to show
  EXPECT_EQ(log.Model().LineCount(), 3u);
  // While find is open, the count goes on over new lines.
  log.OpenFind();
  port.Calls.clear();
  log.ClearLog();
  log.Append(std::vector<std::string>{"y"});
  EXPECT_EQ(port.Count("Start Find"), 0u);  // the clear closed find
  log.OpenFind();
  log.Append(std::vector<std::string>{"z"});
  EXPECT_EQ(port.Count("Start Find"), 1u);
}

TEST(LogController, KeysAndMenu) {
  TFixture f;
  EXPECT_FALSE(f.Log.Key({K::C, false, false}));
  EXPECT_FALSE(f.Log.Key({K::Other, true, false}));
  EXPECT_FALSE(f.Log.Key({K::Escape, false, false}));  // no save to cancel
  const auto entries = [&] {
    std::string shown;
    for (const TLogMenuEntry& entry : f.Log.MenuEntries())
      shown += std::string(entry.SeparatorBefore ? "| " : "") + entry.Text + " " + entry.Shortcut +
               (entry.Enabled ? "" : " (off)") + "; ";
    return shown;
  };
  EXPECT_EQ(entries(),
            "Copier Ctrl+C (off); | Tout sélectionner Ctrl+A (off); | Rechercher... Ctrl+F; | "
            "Enregistrer le journal... Ctrl+S; Effacer le journal Ctrl+L; ");
  f.Append({"one", "two"});
  EXPECT_TRUE(f.Log.Key({K::A, true, false}));
  EXPECT_TRUE(f.Log.Key({K::C, true, false}));
  EXPECT_EQ(f.Port.Clipboard, u"one\r\ntwo");
  EXPECT_EQ(entries(),
            "Copier Ctrl+C; | Tout sélectionner Ctrl+A; | Rechercher... Ctrl+F; | "
            "Enregistrer le journal... Ctrl+S; Effacer le journal Ctrl+L; ");
  f.Log.Select({0, 0}, {0, 2});
  EXPECT_TRUE(f.Log.Key({K::Insert, true, false}));
  EXPECT_EQ(f.Port.Clipboard, u"on");
  // Shift with a navigation key moves the selection's end; F3 with nothing to find opens find.
  EXPECT_TRUE(f.Log.Key({K::Down, false, true}));
  EXPECT_EQ(f.Log.SelectedText(), u"one\r\ntw");
  EXPECT_TRUE(f.Log.Key({K::F3, false, false}));
  EXPECT_TRUE(f.Port.FindShown);
  EXPECT_EQ(f.Port.Count("FocusFindBar"), 1u);
  f.Log.Execute(TLogCommand::Clear);
  EXPECT_EQ(f.Log.Model().LineCount(), 0u);
  EXPECT_FALSE(f.Port.FindShown);
  f.Append({"three"});
  f.Log.Execute(TLogCommand::SelectAll);
  EXPECT_EQ(f.Log.SelectedText(), u"three");
  EXPECT_TRUE(f.Log.Key({K::L, true, true}));
  EXPECT_EQ(f.Log.Model().LineCount(), 0u);
}

TEST(LogController, FindOpensSearchesInSlicesAndCloses) {
  TFixture f;
  f.Append({"GET /a", "200 OK", "GET /b"});
  EXPECT_TRUE(f.Log.Key({K::F, true, false}));
  EXPECT_TRUE(f.Port.FindShown);
  f.Log.FindText(u"get", false);
  while (f.Port.Calls.back() == "Start Find")
    f.Log.FindWork();
  EXPECT_EQ(f.Port.Status, "1 sur 2");
  f.Log.FindNext(true);
  while (f.Port.Calls.back() == "Start Find")
    f.Log.FindWork();
  EXPECT_EQ(f.Port.Status, "2 sur 2");
  EXPECT_EQ(f.Log.Model().Selection().first.Line, 2u);
  f.Log.CloseFind();
  EXPECT_FALSE(f.Port.FindShown);
  EXPECT_EQ(f.Port.Calls.end()[-2], "FocusLog");
  EXPECT_EQ(f.Log.SelectedText(), u"GET");  // the match stays selected
  f.Log.OpenFind();
  f.Log.ClearLog();
  EXPECT_EQ(f.Port.Status, "");
  EXPECT_FALSE(f.Log.Model().FindOpen());
  EXPECT_GE(f.Port.Count("Stop Find"), 1u);
}

TEST(LogController, SaveInSlicesCancelAndFailure) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("quorvel-log-controller-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  TFixture f(std::uint64_t{1} << 30);
  f.Append({"GET /", "tab\there"});
  f.Log.Key({K::S, true, false});  // asked, nowhere chosen
  EXPECT_FALSE(f.Log.Saving());
  f.Port.SavePath = folder / "small.txt";
  f.Log.Execute(TLogCommand::Save);
  EXPECT_FALSE(f.Log.Saving());  // in one slice
  EXPECT_EQ(Contents(f.Port.SavePath), "GET /\r\ntab\there\r\n");
  EXPECT_EQ(f.Port.Strip, "");
  // Large: slices after the event loop's turn, the strip, Escape cancels, no file left.
  f.Append(std::vector<std::string>(1'000'000, std::string(100, 'x')));
  f.Port.SavePath = folder / "large.txt";
  f.Log.SaveLog();
  ASSERT_TRUE(f.Log.Saving());
  EXPECT_EQ(f.Port.Calls.back(), "Start Save");
  EXPECT_EQ(f.Port.Strip.rfind("Enregistrement : ", 0), 0u);
  EXPECT_FALSE(f.Log.MenuEntries()[3].Enabled);
  // Cancelled after its first slice: a quick machine writes the rest in a few more.
  EXPECT_TRUE(f.Log.Key({K::Escape, false, false}));
  EXPECT_FALSE(f.Log.Saving());
  EXPECT_EQ(f.Port.Strip, "");
  EXPECT_FALSE(std::filesystem::exists(f.Port.SavePath));
  // A clear cancels a save too.
  f.Log.SaveLog();
  ASSERT_TRUE(f.Log.Saving());
  f.Log.ClearLog();
  EXPECT_FALSE(f.Log.Saving());
  EXPECT_FALSE(std::filesystem::exists(f.Port.SavePath));
  // Under a file: the default handler's box, once.
  std::ofstream(folder / "a-file") << "not a folder";
  f.Port.SavePath = folder / "a-file" / "log.txt";
  f.Log.SaveLog();
  ASSERT_EQ(f.Port.Errors.size(), 1u);
  EXPECT_EQ(f.Port.Errors[0].rfind("Impossible d'enregistrer le journal dans '", 0), 0u);
  EXPECT_FALSE(f.Log.Saving());
  std::filesystem::remove_all(folder);
}

TEST(LogController, MouseSelects) {
  TFixture f;
  f.Append({"first line", "second line", "third", "4", "5", "6"});
  f.Log.Key({K::Home, true, false});  // to the first line
  // Press, drag to the next line, release: the selection, shared with the X11 buffer.
  EXPECT_TRUE(f.Log.MousePress(2, 5, false));
  EXPECT_TRUE(f.Log.MouseMove(2 + 6 * 6, 15));
  f.Log.MouseRelease();
  EXPECT_EQ(f.Log.SelectedText(), u"first line\r\nsecond");
  EXPECT_EQ(f.Port.Buffer, u"first line\r\nsecond");
  EXPECT_FALSE(f.Log.MouseMove(100, 25));  // released: no selection moves
  // Shift extends from the anchor.
  f.Log.MousePress(2 + 3 * 6, 25, true);
  EXPECT_EQ(f.Log.SelectedText(), u"first line\r\nsecond line\r\nthi");
  // Beyond the bottom edge the view scrolls while the timer runs; back inside it stops.
  f.Log.MouseMove(10, 45);
  EXPECT_EQ(f.Port.Calls.back(), "StartAutoScroll");
  const std::uint64_t top = f.Log.Model().Top();
  f.Log.AutoScrollTick();
  EXPECT_GT(f.Log.Model().Top(), top);
  f.Log.MouseMove(10, 15);
  EXPECT_EQ(f.Port.Calls.back(), "StopAutoScroll");
  f.Log.MouseRelease();
  f.Log.AutoScrollTick();
  EXPECT_EQ(f.Port.Calls.back(), "StopAutoScroll");
  f.Log.Key({K::Home, true, false});
  f.Log.DoubleClick(2 + 8 * 6, 5);
  EXPECT_EQ(f.Log.SelectedText(), u"line");
}

// A notch scrolls the lines asked, or a page; what is less than a notch adds up.
TEST(LogController, TheWheelScrollsLinesOrPagesPerNotch) {
  TFixture f;
  f.Append(std::vector<std::string>(20, "line"));
  const std::uint64_t bottom = f.Log.Model().Top();
  const int page = TLogController::kWheelPage;
  for (const auto& [delta, per_notch, top] : {std::tuple{120, 3, bottom - 3},
                                              {60, 3, bottom - 3},
                                              {60, 3, bottom - 6},
                                              {120, page, bottom - 9},
                                              {-240, page, bottom - 3},
                                              {-120, 1, bottom - 2}}) {
    f.Log.Wheel(delta, per_notch);
    EXPECT_EQ(f.Log.Model().Top(), top) << delta << " " << per_notch;
  }
}

// What a paint draws: the rows in sight; the matches' bands under the text and their text
// again; runs between tabs; the selection's band and text, a selected line break as a blank,
// framed while find is open; the new lines' marker, which a click follows.
TEST(LogController, PaintWalksTheRowsInSight) {
  TFixture f;
  f.Append({"ab\tcd", "xab", "ab", "hidden"});
  f.Log.OpenFind();
  f.Log.FindText(u"ab", true);  // selects the first
  f.Port.Ops.clear();
  f.Log.Paint(200, 25);
  const std::vector<std::string> expected{
      "Fill 0 0-200,0",
      "Fill 2 2-14,0",
      "Run 1 ab at 2+12,0",
      "Run 1 cd at 50+12,0",
      "Run 3 ab at 2+12,0 clipped",
      "Fill 4 2-14,0",
      "Run 5 ab at 2+12,0 clipped",
      "Frame 6 2-14,0",
      "Fill 2 8-20,10",
      "Run 1 xab at 2+18,10",
      "Run 3 ab at 8+12,10 clipped",
      "Fill 2 2-14,20",
      "Run 1 ab at 2+12,20",
      "Run 3 ab at 2+12,20 clipped",
  };
  EXPECT_EQ(f.Port.Ops, expected);
  f.Log.CloseFind();
  f.Log.Select({1, 1}, {2, 0});
  f.Port.Ops.clear();
  f.Log.Paint(200, 15);
  EXPECT_EQ(f.Port.Ops,
            (std::vector<std::string>{"Fill 0 0-200,0", "Run 1 ab at 2+12,0",
                                      "Run 1 cd at 50+12,0", "Run 1 xab at 2+18,10",
                                      "Fill 4 8-26,10", "Run 5 ab at 8+12,10 clipped"}));
  // Scrolled away, lines come: the marker; a click on it follows the newest line.
  f.Log.Key({K::Home, true, false});
  f.Append({"new"});
  f.Port.Ops.clear();
  f.Log.Paint(200, 30);
  EXPECT_EQ(f.Port.Ops.back(), "Marker \u25BC 1 nouvelle ligne plus bas (Fin pour suivre)");
  EXPECT_FALSE(f.Log.MousePress(160, 25, false));
  EXPECT_TRUE(f.Log.Model().Following());
}

}  // namespace
