// The log view's model, which both front ends share: line breaks, capacity, selection, hit
// testing, words, scrolling and following the newest line, the text rule it reads bytes by,
// clearing, and saving to a file.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <type_traits>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

#include "ui/log/LogModel.h"
#include "ui/log/LogSave.h"

namespace {

// Every character six pixels wide, tabs every 48, lines 10 high, 600 x 100 in sight.
struct TModel : TLogModel {
  explicit TModel(std::uint64_t capacity = 1 << 20,
                  const TCodePage& code_page = TCodePage::Windows1252())
      : TLogModel(capacity, code_page) {
    SetMetrics([](char32_t) { return 6.0f; }, 48, 10);
    SetViewport(600, 100);
  }
};

// The same over UTF-8 text.
struct TUtf8Model : TModel {
  explicit TUtf8Model(std::uint64_t capacity = 1 << 20) : TModel(capacity, TCodePage::Utf8()) {}
};

void RunFind(TLogModel& model) {
  while (model.ContinueFind(std::chrono::milliseconds(10))) {
  }
}

std::vector<std::string> Lines(const TLogModel& model) {
  std::vector<std::string> lines;
  for (std::uint64_t i = 0; i < model.LineCount(); ++i)
    lines.emplace_back(model.Line(i));
  return lines;
}

void Append(TLogModel& model, std::vector<std::string> lines) {
  EXPECT_EQ(model.AppendLines(lines), lines.size());
}

struct TBreakCase {
  const char* Name;
  std::string Text;
  std::vector<std::string> Lines;
};

// The model and its finder refer to their own parts: a copy or a move would leave the finder
// searching the text it came from.
static_assert(!std::is_copy_constructible_v<TLogModel> &&
              !std::is_move_constructible_v<TLogModel>);
static_assert(!std::is_copy_assignable_v<TLogModel> && !std::is_move_assignable_v<TLogModel>);
static_assert(!std::is_move_constructible_v<TLogFinder> && !std::is_move_assignable_v<TLogFinder>);

TEST(LogModel, LineBreaksEndLines) {
  const TBreakCase cases[] = {
      {"crlf", "a\r\nb", {"a", "b"}},
      {"lone_lf", "c\nd", {"c", "d"}},
      {"lone_cr", "e\rf", {"e", "f"}},
      {"cr_then_crlf", "g\r\r\nh", {"g", "", "h"}},
      {"lf_cr", "i\n\rj", {"i", "", "j"}},
      {"final_cr", "k\r", {"k", ""}},
      {"empty", "", {""}},
      {"tab_and_controls", "t\tu\x01\x1b", {"t\tu\x01\x1b"}},
  };
  for (const TBreakCase& c : cases) {
    TModel model;
    Append(model, {c.Text});
    EXPECT_EQ(Lines(model), c.Lines) << c.Name;
  }
}

TEST(LogModel, AnAppendThatDoesNotFitIsRefusedWhole) {
  TModel model(20);
  Append(model, {"0123456789"});  // 10 characters and a line break
  EXPECT_EQ(model.FreeCharacters(), 9u);
  const std::vector<std::string> too_long{"abcdefghij"};
  EXPECT_EQ(model.AppendLines(too_long), 0u);
  const std::vector<std::string> with_breaks{"ab\r\ncd\r\nefg"};  // each break counts
  EXPECT_EQ(model.AppendLines(with_breaks), 0u);
  const std::vector<std::string> batch{"abc", "defgh", "ijk"};
  EXPECT_EQ(model.AppendLines(batch), 1u);
  EXPECT_EQ(Lines(model), (std::vector<std::string>{"0123456789", "abc"}));
}

TEST(LogModel, SelectionIsClampedAndReadAcrossLines) {
  TModel model;
  Append(model, {"hello world", "second line", "\xE9t\xE9"});
  EXPECT_FALSE(model.HasSelection());
  model.Select({0, 6}, {1, 6});
  EXPECT_EQ(model.SelectedBytes("\n"), "world\nsecond");
  model.Select({1, 99}, {0, 6});  // backwards, and past the end of a line
  EXPECT_EQ(model.SelectedBytes("\r\n"), "world\r\nsecond line");
  model.SelectAll();
  EXPECT_EQ(model.SelectedBytes("\n"), "hello world\nsecond line\n\xE9t\xE9");
  const TLogModel::TSpan middle = model.SelectedIn(1);
  EXPECT_EQ(middle.From, 0u);
  EXPECT_EQ(middle.To, 11u);
  EXPECT_TRUE(middle.ThroughEnd);
  EXPECT_FALSE(model.SelectedIn(2).ThroughEnd);
}

TEST(LogModel, HitTestingFollowsTheAdvances) {
  TModel model;
  Append(model, {"abcdef", "a\tb"});
  const int x0 = TLogModel::kMargin;
  EXPECT_EQ(model.PositionAt(x0 + 2, 5), (TLogModel::TPosition{0, 0}));    // left half of 'a'
  EXPECT_EQ(model.PositionAt(x0 + 4, 5), (TLogModel::TPosition{0, 1}));    // right half
  EXPECT_EQ(model.PositionAt(x0 + 999, 5), (TLogModel::TPosition{0, 6}));  // past the end
  EXPECT_EQ(model.PositionAt(x0 + 20, 15), (TLogModel::TPosition{1, 1}));  // in the tab
  EXPECT_EQ(model.PositionAt(x0 + 47, 15), (TLogModel::TPosition{1, 2}));
  EXPECT_EQ(model.PositionAt(x0, -30), (TLogModel::TPosition{0, 0}));  // above: clamped
  EXPECT_EQ(model.PositionAt(x0, 999), (TLogModel::TPosition{1, 0}));
  EXPECT_FLOAT_EQ(model.LeftOf("a\tb", 2), 48);
}

TEST(LogModel, DoubleClickWords) {
  TModel model;
  Append(model, {"GET /index.html HTTP/1.1 caf\xE9_au"});
  model.SelectWordAt({0, 7});
  EXPECT_EQ(model.SelectedBytes(""), "index");
  model.SelectWordAt({0, 4});
  EXPECT_EQ(model.SelectedBytes(""), "/");
  model.SelectWordAt({0, 26});
  EXPECT_EQ(model.SelectedBytes(""), "caf\xE9_au");
}

TEST(LogModel, FollowsTheNewestLineUntilScrolledAway) {
  TModel model;  // ten rows in sight
  const std::vector<std::string> batch(100, "a line");
  Append(model, batch);
  EXPECT_EQ(model.Rows(), 10);
  EXPECT_EQ(model.MaxTop(), 90u);
  EXPECT_EQ(model.Top(), 90u);
  EXPECT_TRUE(model.Following());
  EXPECT_EQ(model.NewLinesMarker(), "");
  model.ScrollTo(0);
  Append(model, batch);
  Append(model, std::vector<std::string>(1000, "more"));
  EXPECT_EQ(model.Top(), 0u);
  EXPECT_EQ(model.UnseenLines(), 1100u);
  EXPECT_EQ(model.NewLinesMarker(),
            "\u25BC 1\u202F100 nouvelles lignes plus bas (Fin pour suivre)");
  model.SetThousandsSeparator(".");
  EXPECT_EQ(model.NewLinesMarker(), "\u25BC 1.100 nouvelles lignes plus bas (Fin pour suivre)");
  model.ScrollPages(1);
  model.ScrollBy(1);
  EXPECT_EQ(model.Top(), 11u);
  model.ScrollToEnd();
  EXPECT_EQ(model.UnseenLines(), 0u);
  EXPECT_EQ(model.NewLinesMarker(), "");
  Append(model, batch);
  EXPECT_EQ(model.Top(), 1290u);
  // A shown match holds the view, even at the bottom, until the end is asked for.
  Append(model, {"needle"});
  model.OpenFind();
  model.FindText(u"needle", true);
  RunFind(model);
  EXPECT_EQ(model.SelectedBytes(""), "needle");
  Append(model, batch);
  EXPECT_EQ(model.Top(), 1291u);
  model.ScrollToEnd();
  EXPECT_EQ(model.Top(), 1391u);
}

// Keys scroll the view; with Shift they move the selection's end instead and bring it into
// sight, keeping its anchor.
TEST(LogModel, KeysScrollOrExtendTheSelection) {
  using TPosition = TLogModel::TPosition;
  struct TKeyCase {
    TLogKey Key;
    bool Control, Shift;
    TPosition Cursor;   // from the cursor at {20, 3}
    std::uint64_t Top;  // from the top at 15
  };
  const TKeyCase cases[] = {
      {TLogKey::Down, false, false, {20, 3}, 16},    {TLogKey::PageUp, false, false, {20, 3}, 5},
      {TLogKey::Home, true, false, {20, 3}, 0},      {TLogKey::End, false, false, {20, 3}, 90},
      {TLogKey::Up, false, true, {19, 3}, 15},       {TLogKey::Down, false, true, {21, 3}, 15},
      {TLogKey::Left, false, true, {20, 2}, 15},     {TLogKey::Right, false, true, {20, 4}, 15},
      {TLogKey::PageDown, false, true, {30, 3}, 21}, {TLogKey::Home, false, true, {20, 0}, 15},
      {TLogKey::End, false, true, {20, 7}, 15},      {TLogKey::Home, true, true, {0, 0}, 0},
      {TLogKey::End, true, true, {99, 7}, 90},
  };
  for (const TKeyCase& c : cases) {
    TModel model;
    Append(model, std::vector<std::string>(100, "line no"));
    model.Select({20, 1}, {20, 3});
    model.ScrollTo(15);
    model.Navigate(c.Key, c.Control, c.Shift);
    SCOPED_TRACE(static_cast<int>(c.Key) * 4 + c.Control * 2 + c.Shift);
    EXPECT_EQ(model.Anchor(), (TPosition{20, 1}));
    EXPECT_EQ(model.Cursor(), c.Cursor);
    EXPECT_EQ(model.Top(), c.Top);
  }
  // At the ends of a line, the selection goes on to the next or the previous one.
  TModel model;
  Append(model, {"ab", "cd"});
  model.Select({0, 2}, {0, 2});
  model.Navigate(TLogKey::Right, false, true);
  EXPECT_EQ(model.Cursor(), (TPosition{1, 0}));
  model.Navigate(TLogKey::Left, false, true);
  EXPECT_EQ(model.Cursor(), (TPosition{0, 2}));
}

// A drag held beyond an edge scrolls that way a step at a time and selects what comes.
TEST(LogModel, ADragBeyondAnEdgeScrolls) {
  TModel model;
  Append(model, std::vector<std::string>(100, std::string(200, 'x')));
  model.ScrollTo(50);
  model.Select({55, 0}, {55, 0});
  EXPECT_FALSE(model.DragBeyondEdge(300, 50));
  EXPECT_TRUE(model.DragBeyondEdge(300, 120));
  model.DragStep(300, 120);
  model.DragStep(300, 120);
  EXPECT_EQ(model.Top(), 52u);
  EXPECT_EQ(model.Cursor().Line, 64u);  // under the pointer, two rows below the view
  model.DragStep(-5, -5);
  EXPECT_EQ(model.Top(), 51u);
  EXPECT_EQ(model.Cursor(), (TLogModel::TPosition{50, 0}));
  model.DragStep(700, 50);
  EXPECT_EQ(model.Left(), TLogModel::kHorizontalStep);
}

TEST(LogModel, RevealBringsAPartOfALineIntoSight) {
  TModel model;
  Append(model, std::vector<std::string>(50, "short"));
  Append(model, {std::string(300, 'w') + "target"});  // 1,800 pixels in
  model.ScrollTo(0);
  model.Reveal(50, 300, 306);
  EXPECT_LE(model.Top(), 50u);
  EXPECT_GT(model.Top() + static_cast<std::uint64_t>(model.Rows()), 50u);
  const float left = model.XOf(model.Line(50), 300);
  const float right = model.XOf(model.Line(50), 306);
  EXPECT_GE(left, 0);
  EXPECT_LE(right, 600);
  EXPECT_GT(model.MaxLeft(), 1000);
}

TEST(CodePage, Windows1252) {
  const TCodePage& page = TCodePage::Windows1252();
  EXPECT_EQ(page.Character(0x80), u'\u20AC');
  EXPECT_EQ(page.Character(0x81), u'\u0081');  // undefined: the C1 control
  EXPECT_EQ(page.Displayed(0x01), u'\u2401');  // control pictures
  EXPECT_EQ(page.Displayed(0x7F), u'\u2421');
  EXPECT_EQ(page.Displayed(0x81), u'\uFFFD');
  EXPECT_EQ(page.Folded('A'), 'a');
  EXPECT_EQ(page.Folded(0xC9), 0xE9);  // É
  EXPECT_EQ(page.Folded(0x8A), 0x9A);  // Š
  EXPECT_EQ(page.Folded(0x9F), 0xFF);  // Ÿ
  EXPECT_EQ(page.Folded(0xD7), 0xD7);  // × has no case
  EXPECT_TRUE(page.InWord(0xE9));
  EXPECT_FALSE(page.InWord(0xD7));
  EXPECT_FALSE(page.InWord('/'));
}

// What the text rule reads a payload as, where the host's text is UTF-8: each well-formed
// sequence one character, any other byte as in Windows-1252.
TEST(TextRule, Utf8WhereWellFormedWindows1252Elsewhere) {
  struct TCase {
    const char* Name;
    std::string Payload;
    std::u16string Characters;
    std::vector<std::size_t> Starts;  // where each character starts
  };
  const TCase cases[] = {
      {"ascii", "GET /", u"GET /", {0, 1, 2, 3, 4}},
      {"two_bytes", "caf\xC3\xA9!", u"café!", {0, 1, 2, 3, 5}},
      {"three_bytes", "\xE2\x82\xAC\xE2\x84\xA2", u"€™", {0, 3}},
      {"four_bytes", "a\xF0\x9F\x98\x80z", u"a\U0001F600z", {0, 1, 5}},
      {"overlong_slash", "\xC0\xAF", u"À¯", {0, 1}},
      {"overlong_three", "\xE0\x80\xAF", u"à€¯", {0, 1, 2}},
      {"surrogate", "\xED\xA0\x80", u"í\u00A0€", {0, 1, 2}},
      {"above_10ffff", "\xF4\x90\x80\x80", u"ô\u0090€€", {0, 1, 2, 3}},
      {"cut_at_the_end", "ok\xE2\x82", u"okâ\u201A", {0, 1, 2, 3}},
      {"stray_continuation", "\xA9\xC3\xA9\xA9", u"©é©", {0, 1, 3}},
      {"windows_1252", "\x80\x96\xE9t\xE9\x81", u"€\u2013été\u0081", {0, 1, 2, 3, 4, 5}},
      {"bom", "\xEF\xBB\xBFhi", u"\uFEFFhi", {0, 3, 4}},
      {"lead_then_ascii", "\xC3(", u"Ã(", {0, 1}},
  };
  const TCodePage& page = TCodePage::Utf8();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(page.Characters(c.Payload), c.Characters);
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < c.Payload.size(); at = page.Next(c.Payload, at))
      starts.push_back(at);
    EXPECT_EQ(starts, c.Starts);
    // Read backwards, from any byte: the same characters.
    for (std::size_t at = 0; at < c.Payload.size(); ++at) {
      const auto start = std::upper_bound(c.Starts.begin(), c.Starts.end(), at) - 1;
      EXPECT_EQ(page.StartOf(c.Payload, at), *start) << "byte " << at;
    }
    std::vector<std::size_t> backwards;
    for (std::size_t at = c.Payload.size(); at > 0;) {
      at = page.Previous(c.Payload, at);
      backwards.insert(backwards.begin(), at);
    }
    EXPECT_EQ(backwards, c.Starts);
  }
  // Control characters keep their visible symbols, whatever their encoding.
  EXPECT_EQ(page.Shown("\x01\xC2\x85\x7F\x9D\xE2\x80\xAE"), u"\u2401\uFFFD\u2421\uFFFD\uFFFD");
  // An 8-bit code page reads each byte alone.
  EXPECT_EQ(TCodePage::Windows1252().Characters("caf\xC3\xA9"), u"cafÃ©");
}

// On every host the same rule; only the code page of the lone bytes differs.
TEST(TextRule, LoneBytesReadAsTheHostsCodePage) {
  char16_t table[256];
  std::copy(std::begin(kWindows1252), std::end(kWindows1252), table);
  table[0xE9] = u'й';  // as Windows-1251 has it
  EXPECT_EQ(TCodePage(table, true)
                .Characters("\xC3\xA9t\xC3\xA9 \xC3\xA0 Z\xC3\xBCrich \xE2\x80\x94 "
                            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE9"),
            u"été à Zürich — 日本語 й");
}

// A copy gives the text as shown, as a save does: control characters as their symbols, tabs as
// they are.
TEST(TextRule, ACopyGivesTheTextAsShown) {
  TUtf8Model model;
  const std::string line = "a\tb\x07\x1B[31mc\xC2\x9B\x7F\xE9";
  Append(model, {line, "\x1B]0;x\x07"});
  model.SelectAll();
  EXPECT_EQ(model.SelectedText(u"\r\n"),
            u"a\tb\u2407\u241B[31mc\uFFFD\u2421é\r\n\u241B]0;x\u2407");
  std::string saved;
  model.CodePage().AppendShownUtf8(saved, line);
  EXPECT_EQ(saved, "a\tb\u2407\u241B[31mc\uFFFD\u2421\u00E9");
}

// A character of several bytes is one character to the selection, hit testing, words, keys
// and copy.
TEST(TextRule, ACharacterOfSeveralBytesIsOneCharacter) {
  using TPosition = TLogModel::TPosition;
  TUtf8Model model;
  // "при 😀 café"
  const std::string line = "\xD0\xBF\xD1\x80\xD0\xB8 \xF0\x9F\x98\x80 caf\xC3\xA9";
  Append(model, {line, "x"});
  const int x0 = TLogModel::kMargin;
  EXPECT_EQ(model.PositionAt(x0 + 4, 5), (TPosition{0, 2}));   // right half of п
  EXPECT_EQ(model.PositionAt(x0 + 26, 5), (TPosition{0, 7}));  // the emoji, left half
  EXPECT_EQ(model.PositionAt(x0 + 28, 5), (TPosition{0, 11}));
  EXPECT_FLOAT_EQ(model.LeftOf(line, 11), 30);
  model.Select({0, 0}, {0, 0});
  for (const std::size_t column : {2u, 4u, 6u, 7u, 11u}) {
    model.Navigate(TLogKey::Right, false, true);
    EXPECT_EQ(model.Cursor(), (TPosition{0, column}));
  }
  model.Navigate(TLogKey::Left, false, true);
  EXPECT_EQ(model.Cursor(), (TPosition{0, 7}));
  EXPECT_EQ(model.SelectedText(u"\n"), u"при ");
  model.Navigate(TLogKey::End, false, true);
  EXPECT_EQ(model.SelectedText(u"\n"), u"при 😀 café");
  // A place inside a character is its start.
  model.Select({0, 1}, {0, 9});
  EXPECT_EQ(model.Anchor(), (TPosition{0, 0}));
  EXPECT_EQ(model.Cursor(), (TPosition{0, 7}));
  model.SelectWordAt({0, 3});
  EXPECT_EQ(model.SelectedText(u""), u"при");
  model.SelectWordAt({0, 16});
  EXPECT_EQ(model.SelectedText(u""), u"café");
  model.SelectWordAt({0, 8});
  EXPECT_EQ(model.SelectedText(u""), u"😀");
  model.SelectAll();
  EXPECT_EQ(model.SelectedText(u"\r\n"), u"при 😀 café\r\nx");
}

// A text typed into the find bar that matches nowhere leaves the selection as it was before
// its first letters matched, and says so.
TEST(LogModel, AFindThatFailsLeavesTheSelectionWhereItBegan) {
  TModel model;
  Append(model, {"alpha", "GET /index", "beta"});
  model.Select({2, 1}, {2, 3});
  model.OpenFind();
  for (const std::u16string_view typed : {u"g", u"ge", u"get"}) {
    model.FindText(typed, false);
    RunFind(model);
  }
  EXPECT_EQ(model.SelectedBytes(""), "GET");
  EXPECT_EQ(model.FindStatus(), "1 sur 1");
  model.FindText(u"getx", false);
  RunFind(model);
  EXPECT_EQ(model.FindStatus(), "Introuvable");
  EXPECT_EQ(model.Anchor(), (TLogModel::TPosition{2, 1}));
  EXPECT_EQ(model.Cursor(), (TLogModel::TPosition{2, 3}));
  // A text no line can hold: the same at once.
  model.FindText(u"g\u4E2D", false);
  EXPECT_FALSE(model.ContinueFind(std::chrono::milliseconds(10)));
  EXPECT_EQ(model.FindStatus(), "Introuvable");
  EXPECT_EQ(model.SelectedBytes(""), "et");
}

TEST(LogModel, ClearEmptiesClosesFindAndFollowsNewLines) {
  TModel model(1000);
  Append(model, std::vector<std::string>(90, "0123456789"));  // 990 characters of 1000
  EXPECT_EQ(model.AppendLines(std::vector<std::string>{"0123456789"}), 0u);  // full
  model.ScrollTo(3);
  model.SelectAll();
  model.OpenFind();
  model.FindText(u"345", true);
  RunFind(model);
  model.Clear();
  EXPECT_EQ(model.LineCount(), 0u);
  EXPECT_EQ(model.FreeCharacters(), 1000u);
  EXPECT_FALSE(model.FindOpen());
  EXPECT_FALSE(model.HasSelection());
  EXPECT_EQ(model.Finder().Total(), 0u);
  EXPECT_EQ(model.MaxLeft(), 0);
  Append(model, std::vector<std::string>(30, "new"));
  EXPECT_TRUE(model.Following());
  EXPECT_EQ(model.Top(), 20u);
  EXPECT_EQ(model.Line(29), "new");
}

// --- Saving: the lines there when the save began, as shown, in UTF-8.

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct TSaveFixture {
  std::filesystem::path Folder =
      std::filesystem::temp_directory_path() /
      ("quorvel-save-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  TSaveFixture() { std::filesystem::create_directories(Folder); }
  ~TSaveFixture() { std::filesystem::remove_all(Folder); }
};

TEST(LogSave, WritesTheLinesAsShownInUtf8) {
  TSaveFixture f;
  TUtf8Model model;
  Append(model, {"GET / caf\xC3\xA9", "\xE9t\xE9 \x80", "tab\there \x01\x7F", ""});
  for (const auto& [line_break, name] : {std::pair{"\n", "lf.txt"}, {"\r\n", "crlf.txt"}}) {
    const std::filesystem::path path = f.Folder / name;
    std::ofstream(path) << std::string(1000, '#');  // longer: what it held goes
    TLogSave save(model.Text(), model.CodePage(), path, line_break);
    Append(model, {"after the save began"});  // not written: not there when it began
    while (save.Continue(std::chrono::nanoseconds(0))) {
    }
    EXPECT_TRUE(save.Done());
    EXPECT_EQ(save.Progress(), "Enregistrement : 100 %");
    const std::string lf =
        "GET / caf\xC3\xA9\n\xC3\xA9t\xC3\xA9 \xE2\x82\xAC\ntab\there "
        "\xE2\x90\x81\xE2\x90\xA1\n\n";
    std::string expected;
    for (const char c : lf)
      expected += c == '\n' ? std::string(line_break) : std::string(1, c);
    EXPECT_EQ(Contents(path), expected) << name;
    model.Clear();
    Append(model, {"GET / caf\xC3\xA9", "\xE9t\xE9 \x80", "tab\there \x01\x7F", ""});
  }
}

std::ptrdiff_t Entries(const std::filesystem::path& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

// Cancelled, a save leaves the folder as it was: no file where there was none, the old file
// byte for byte where there was one.
TEST(LogSave, ACancelledSaveLeavesTheFolderAsItWas) {
  TSaveFixture f;
  TModel model(1 << 26);
  Append(model, std::vector<std::string>(100'000, std::string(100, 'x')));
  const std::filesystem::path path = f.Folder / "cancelled.txt";
  {
    TLogSave save(model.Text(), model.CodePage(), path, "\n");
    EXPECT_TRUE(save.Continue(std::chrono::nanoseconds(0)));
    EXPECT_LT(save.Written(), save.Lines());
    EXPECT_EQ(save.Progress().rfind("Enregistrement : ", 0), 0u);
    save.Cancel();
    EXPECT_EQ(Entries(f.Folder), 0);
  }
  std::ofstream(path, std::ios::binary) << "the old log\n";
  {
    TLogSave dropped(model.Text(), model.CodePage(), path, "\n");
    dropped.Continue(std::chrono::nanoseconds(0));
  }  // dropped unfinished: cancelled
  EXPECT_EQ(Contents(path), "the old log\n");
  EXPECT_EQ(Entries(f.Folder), 1);
}

#ifndef _WIN32
// Through a symbolic link, the file it leads to is replaced, with its mode, and the link stays;
// a hard link's other name keeps the old text whole while a save through it goes.
TEST(LogSave, ThroughALinkNoFileIsLeftHalfWritten) {
  TSaveFixture f;
  TModel model(1 << 26);
  Append(model, std::vector<std::string>(100'000, std::string(100, 'x')));
  const std::filesystem::path target = f.Folder / "target.txt";
  std::ofstream(target) << "the old log\n";
  ::chmod(target.c_str(), 0600);
  std::filesystem::create_symlink("target.txt", f.Folder / "symbolic.txt");
  std::filesystem::create_hard_link(target, f.Folder / "hard.txt");
  {
    TLogSave save(model.Text(), model.CodePage(), f.Folder / "hard.txt", "\n");
    EXPECT_TRUE(save.Continue(std::chrono::nanoseconds(0)));
    EXPECT_EQ(Contents(target), "the old log\n");
  }
  EXPECT_EQ(Contents(f.Folder / "hard.txt"), "the old log\n");
  TLogSave save(model.Text(), model.CodePage(), f.Folder / "symbolic.txt", "\n");
  while (save.Continue(std::chrono::milliseconds(10))) {
  }
  EXPECT_TRUE(std::filesystem::is_symlink(f.Folder / "symbolic.txt"));
  EXPECT_EQ(std::filesystem::file_size(target), 100'000u * 101);
  EXPECT_EQ(std::filesystem::status(target).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(Entries(f.Folder), 3);
}

// Refused at once, never opened: opening a FIFO to write waits for a reader. The alarm ends a
// test that waits.
TEST(LogSave, WhatIsNotARegularFileIsRefused) {
  TSaveFixture f;
  TModel model;
  ASSERT_EQ(::mkfifo((f.Folder / "fifo").c_str(), 0600), 0);
  ::alarm(10);
  for (const std::filesystem::path& path :
       {f.Folder / "fifo", f.Folder, std::filesystem::path("/dev/null"), f.Folder / "no" / "log"})
    EXPECT_THROW(TLogSave(model.Text(), model.CodePage(), path, "\n"), ELogSaveError) << path;
  ::alarm(0);
  EXPECT_EQ(Entries(f.Folder), 1);
}
#endif

TEST(LogSave, AFailureSaysWhereAndWhyAndLeavesNoFile) {
  TSaveFixture f;
  TModel model;
  Append(model, {"a line"});
  std::ofstream(f.Folder / "a-file") << "not a folder";
  const std::filesystem::path path = f.Folder / "a-file" / "log.txt";
  try {
    TLogSave save(model.Text(), model.CodePage(), path, "\n");
    FAIL() << "saved under a file";
  } catch (const ELogSaveError& error) {
    const std::string message = error.what();
    const std::u8string where = path.u8string();
    const std::string start = "Impossible d'enregistrer le journal dans '" +
                              std::string(where.begin(), where.end()) + "' : ";
    EXPECT_EQ(message.rfind(start, 0), 0u) << message;
    EXPECT_NE(message.find(" (erreur "), std::string::npos) << message;
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

#ifdef __linux__
// A file system that fills as the log goes: the box says so, the old file stays byte for byte,
// nothing is left beside it. The small file system is a child's, in a mount namespace of its own.
TEST(LogSave, AFullFileSystemKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system takes root";
  TSaveFixture f;
  TModel model(1 << 26);
  Append(model, std::vector<std::string>(10'000, std::string(100, 'x')));  // 1 MB
  const std::filesystem::path path = f.Folder / "log.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("quorvel-full", f.Folder.c_str(), "tmpfs", 0, "size=64k") != 0)
      ::_exit(77);
    std::ofstream(path) << "the old log\n";
    std::string said = "saved";
    try {
      TLogSave save(model.Text(), model.CodePage(), path, "\n");
      while (save.Continue(std::chrono::milliseconds(10))) {
      }
    } catch (const ELogSaveError& error) {
      said = error.what();
    }
    std::fprintf(stderr, "%s\n", said.c_str());
    ::_exit(said.rfind("Impossible d'enregistrer le journal dans '" + path.string() +
                           "' : " + std::strerror(ENOSPC),
                       0) == 0 &&
                    Contents(path) == "the old log\n" && Entries(f.Folder) == 1
                ? 0
                : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(status, 0);
}
#endif

TEST(LogSave, TheProposedNameIsTheLocalTime) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 6;
  local.tm_mday = 12;
  local.tm_hour = 4;
  local.tm_min = 10;
  local.tm_sec = 31;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  EXPECT_EQ(DefaultLogFileName(when), "quorvel-20260712-041031.txt");
}

}  // namespace
