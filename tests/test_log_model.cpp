// The log view's model, which both front ends share: line breaks, capacity, selection, hit
// testing, words, scrolling and following the newest line, and the code page it reads.
#include <gtest/gtest.h>

#include <array>

#include "ui/LogModel.h"

namespace {

// Every character six pixels wide, tabs every 48, lines 10 high, 600 x 100 in sight.
TLogModel Model(std::uint64_t capacity = 1 << 20) {
  TLogModel model(capacity, TCodePage::Windows1252());
  std::array<float, 256> advance;
  advance.fill(6);
  model.SetMetrics(advance, 48, 10);
  model.SetViewport(600, 100);
  return model;
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
    TLogModel model = Model();
    Append(model, {c.Text});
    EXPECT_EQ(Lines(model), c.Lines) << c.Name;
  }
}

TEST(LogModel, AnAppendThatDoesNotFitIsRefusedWhole) {
  TLogModel model = Model(20);
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
  TLogModel model = Model();
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
  TLogModel model = Model();
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
  TLogModel model = Model();
  Append(model, {"GET /index.html HTTP/1.1 caf\xE9_au"});
  model.SelectWordAt({0, 7});
  EXPECT_EQ(model.SelectedBytes(""), "index");
  model.SelectWordAt({0, 4});
  EXPECT_EQ(model.SelectedBytes(""), "/");
  model.SelectWordAt({0, 26});
  EXPECT_EQ(model.SelectedBytes(""), "caf\xE9_au");
}

TEST(LogModel, FollowsTheNewestLineUntilScrolledAway) {
  TLogModel model = Model();  // ten rows in sight
  const std::vector<std::string> batch(100, "a line");
  Append(model, batch);
  EXPECT_EQ(model.Rows(), 10);
  EXPECT_EQ(model.MaxTop(), 90u);
  EXPECT_EQ(model.Top(), 90u);
  EXPECT_TRUE(model.Following());
  model.ScrollTo(0);
  Append(model, batch);
  EXPECT_EQ(model.Top(), 0u);
  EXPECT_EQ(model.UnseenLines(), 100u);
  model.ScrollPages(1);
  model.ScrollBy(1);
  EXPECT_EQ(model.Top(), 11u);
  model.ScrollToEnd();
  EXPECT_EQ(model.UnseenLines(), 0u);
  Append(model, batch);
  EXPECT_EQ(model.Top(), 290u);
  // A shown match holds the view, even at the bottom, until the end is asked for.
  model.Hold(true);
  Append(model, batch);
  EXPECT_EQ(model.Top(), 290u);
  model.ScrollToEnd();
  EXPECT_EQ(model.Top(), 390u);
}

TEST(LogModel, RevealBringsAPartOfALineIntoSight) {
  TLogModel model = Model();
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
