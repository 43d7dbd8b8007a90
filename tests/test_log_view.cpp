#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QStringDecoder>
#include <QtTest>

#include "ui/qt/FindBar.h"
#include "ui/qt/LogView.h"

namespace {

std::vector<std::string> Lines(std::initializer_list<const char*> texts) {
  return {texts.begin(), texts.end()};
}

QStringList Shown(const TLogView& view) {
  QStringList lines;
  for (std::uint64_t i = 0; i < view.LineCount(); ++i)
    lines << view.LineText(i);
  return lines;
}

// The middle of character `column` of the first line in view.
QPoint PointOf(const TLogView& view, const QString& line, int column) {
  const QFontMetricsF metrics(view.font());
  const qreal x = 2 + metrics.horizontalAdvance(line.left(column)) +
                  metrics.horizontalAdvance(line.at(column)) / 2;
  return QPoint(static_cast<int>(x), metrics.height() / 2);
}

}  // namespace

class LogViewTest : public QObject {
  Q_OBJECT

 private slots:
  void AnAppendThatDoesNotFitRaises() {
    TLogView view(20);
    view.AppendLine("0123456789");
    const auto batch = Lines({"abc", "defghijklmn"});
    QVERIFY_THROWS_EXCEPTION(ELineInsertionError, view.AppendLines(batch));
    QCOMPARE(Shown(view), (QStringList{"0123456789", "abc"}));
  }

  void BytesShowAsWindows1252() {
    std::string all;
    for (int byte = 1; byte < 256; ++byte)
      if (byte != '\r' && byte != '\n') all.push_back(static_cast<char>(byte));
    TLogView view(1000);
    view.AppendLine(all);
    const QString shown = view.LineText(0);
    QCOMPARE(shown.size(), static_cast<qsizetype>(all.size()));
    QStringDecoder windows1252("windows-1252");
    for (qsizetype i = 0; i < shown.size(); ++i) {
      const auto byte = static_cast<unsigned char>(all[static_cast<std::size_t>(i)]);
      const bool undefined =
          byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
      const QString expected = undefined
                                   ? QString(QChar(byte))
                                   : windows1252.decode(QByteArray(1, static_cast<char>(byte)));
      QVERIFY2(shown.mid(i, 1) == expected, qPrintable(QString::number(byte, 16)));
    }
    QCOMPARE(shown[shown.indexOf(QChar(0x20AC))], QChar(0x20AC));
    QCOMPARE(view.LineText(0).at(0xE9 - 3), QChar(0xE9));
  }

  // The selection is the model's; the view reads it as text and copies it.
  void SelectionAndCopy() {
    TLogView view(1000);
    view.AppendLines(Lines({"hello world", "second line", "\xE9t\xE9"}));
    view.SelectAll();
    QCOMPARE(view.SelectedText(),
             QString::fromUtf8("hello world\nsecond line\n\xC3\xA9t\xC3\xA9"));
    view.Copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), view.SelectedText());
  }

  void KeyboardSelectAllAndCopy() {
    TLogView view(1000);
    view.AppendLines(Lines({"one", "two"}));
    view.show();
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.SelectedText(), QString("one\ntwo"));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("one\ntwo"));
  }

  void MouseDragSelects() {
    TLogView view(1000);
    view.resize(400, 200);
    view.AppendLines(Lines({"first line here", "second line here", "third"}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const int height = QFontMetrics(view.font()).lineSpacing();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(1, height / 2));
    QTest::mouseMove(view.viewport(), QPoint(399, height + height / 2));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(399, height + height / 2));
    QCOMPARE(view.SelectedText(), QString("first line here\nsecond line here"));
    // A click without a drag leaves nothing selected.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(5, height / 2));
    QVERIFY(!view.HasSelection());
  }

  void DoubleClickSelectsAWord() {
    TLogView view(1000);
    view.resize(400, 200);
    view.AppendLines(Lines({"GET /index.html HTTP/1.1"}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint inside_index = PointOf(view, "GET /index.html HTTP/1.1", 7);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, inside_index);
    QCOMPARE(view.SelectedText(), QString("index"));
  }

  void FollowsTheBottomUntilScrolledAway() {
    TLogView view(1 << 20);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    std::vector<std::string> batch(1000, "a line");
    view.AppendLines(batch);
    QScrollBar* bar = view.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(bar->value(), 0);
    view.AppendLines(batch);
    QCOMPARE(bar->value(), 0);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(bar->value(), bar->pageStep());
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(bar->value(), bar->pageStep() + 1);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(bar->value(), bar->maximum());
    view.AppendLines(batch);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(view.LineCount(), 3000u);
  }

  void WideLinesScrollHorizontally() {
    TLogView view(1 << 20);
    view.resize(200, 100);
    view.AppendLine(std::string(500, 'W'));
    QVERIFY(view.horizontalScrollBar()->maximum() > 1000);
    view.AppendLine("tab\there");
  }

  void ColoursAndPainting() {
    TLogView view(1000);
    view.resize(300, 100);
    QCOMPARE(view.BackgroundColor(), view.palette().color(QPalette::Base));
    QCOMPARE(view.TextColor(), view.palette().color(QPalette::Text));
    view.SetColors(Qt::black, Qt::white);
    view.AppendLine("MMMMMMMMMMMMMMMMMMMM");
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    view.viewport()->render(&image);
    QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), QColor(Qt::black));
    int bright = 0;
    for (int x = 0; x < 100; ++x)
      for (int y = 0; y < 14; ++y)
        bright += qGray(image.pixel(x, y)) > 128;
    QVERIFY(bright > 20);
  }

  // Ctrl+F, typing, F3 round the end, Escape: the match stays selected for Ctrl+C.
  void FindInTheLog() {
    TLogView view(1 << 20);
    view.resize(400, 200);
    view.AppendLines(Lines({"GET /a", "200 OK", "GET /b", "tail"}));
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
    TFindBar* bar = view.FindBar();
    QVERIFY(bar->isVisible());
    QTest::keyClicks(QApplication::focusWidget(), "get");
    QTRY_COMPARE(bar->Status(), QString("1 of 2"));
    QCOMPARE(view.SelectedText(), QString("GET"));
    QCOMPARE(view.Model().Selection().first.Line, 0u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(bar->Status(), QString("2 of 2"));
    QTest::keyClick(&view, Qt::Key_F3);
    QTRY_COMPARE(bar->Status(), QString("1 of 2 (passed the end, went on from the top)"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), &view);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("GET"));
  }

  // A match past the right edge is scrolled into sight; the count follows a growing log.
  void FindScrollsAndCounts() {
    TLogView view(1 << 20);
    view.resize(300, 200);
    view.AppendLines(Lines({"short",
                            "a long line that goes on and on and on past the edge, "
                            "then the needle"}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.OpenFind();
    QTest::keyClicks(view.FindBar()->findChild<QLineEdit*>("FindText"), "needle");
    QTRY_COMPARE(view.FindBar()->Status(), QString("1 of 1"));
    const auto [from, to] = view.Model().Selection();
    const std::string_view line = view.Model().Line(from.Line);
    QVERIFY(view.Model().XOf(line, from.Column) >= 0);
    QVERIFY(view.Model().XOf(line, to.Column) <= view.viewport()->width());
    QVERIFY(view.Model().Left() > 0);
    view.AppendLines(Lines({"another needle", "and a needle again"}));
    QTRY_COMPARE(view.FindBar()->Status(), QString("1 of 3"));
  }
};

QTEST_MAIN(LogViewTest)
#include "test_log_view.moc"
