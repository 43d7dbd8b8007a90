// The log view's model, which both front ends share: line breaks, capacity, selection, hit
// testing, words, scrolling and following the newest line, and the code page it reads.
#include <gtest/gtest.h>

#include <array>
#include <type_traits>

#include "ui/LogModel.h"

namespace {

// Every character six pixels wide, tabs every 48, lines 10 high, 600 x 100 in sight.
struct TModel : TLogModel {
  explicit TModel(std::uint64_t capacity = 1 << 20)
      : TLogModel(capacity, TCodePage::Windows1252()) {
    std::array<float, 256> advance;
    advance.fill(6);
    SetMetrics(advance, 48, 10);
    SetViewport(600, 100);
  }
};

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
  EXPECT_EQ(model.NewLinesMarker(), "\u25BC 1,100 new lines below (End follows)");
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
  while (model.ContinueFind(std::chrono::milliseconds(10))) {
  }
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

}  // namespace
