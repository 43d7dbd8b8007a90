#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <iterator>

#include "ui/qt/Application.h"
#include "ui/qt/FindBar.h"
#include "ui/qt/LogView.h"

namespace {

std::string Contents(const QString& path) {
  std::ifstream file(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The default handler's boxes, caught instead of shown.
struct TBoxes {
  QStringList Texts;
  TBoxes() {
    static_cast<TApplication*>(qApp)->SetBoxHook(
        [this](QMessageBox& box) { Texts << box.text(); });
  }
  ~TBoxes() { static_cast<TApplication*>(qApp)->SetBoxHook({}); }
};

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

  // The selection is the model's; the view reads it as text, as shown, and copies it.
  void SelectionAndCopy() {
    TLogView view(1000);
    view.AppendLines(Lines({"hello world", "second\tline\x1B[1m", "\xE9t\xE9"}));
    view.SelectAll();
    QCOMPARE(view.SelectedText(),
             QString::fromUtf8("hello world\nsecond\tline\xE2\x90\x9B[1m\n\xC3\xA9t\xC3\xA9"));
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
    QTRY_COMPARE(bar->Status(), QString("1 sur 2"));
    QCOMPARE(view.SelectedText(), QString("GET"));
    QCOMPARE(view.Model().Selection().first.Line, 0u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(bar->Status(), QString("2 sur 2"));
    QTest::keyClick(&view, Qt::Key_F3);
    QTRY_COMPARE(bar->Status(), QString("1 sur 2 (fin atteinte, reprise au début)"));
    // Escape from any control of the bar closes it.
    bar->findChild<QCheckBox*>("FindCase")->setFocus();
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
    QTRY_COMPARE(view.FindBar()->Status(), QString("1 sur 1"));
    const auto [from, to] = view.Model().Selection();
    const std::string_view line = view.Model().Line(from.Line);
    QVERIFY(view.Model().XOf(line, from.Column) >= 0);
    QVERIFY(view.Model().XOf(line, to.Column) <= view.viewport()->width());
    QVERIFY(view.Model().Left() > 0);
    view.AppendLines(Lines({"another needle", "and a needle again"}));
    QTRY_COMPARE(view.FindBar()->Status(), QString("1 sur 3"));
  }

  // Where the host's text is UTF-8, a sequence is one character: shown, selected by keys and
  // by a double click, copied, and found with its case folded.
  void Utf8IsReadAsCharacters() {
    TLogView view(1 << 20);
    view.resize(400, 200);
    const std::string line = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE9 \xC3";
    view.AppendLines(Lines({line.c_str()}));
    QCOMPARE(view.LineText(0), QString::fromUtf8("Привет é Ã"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.Select(0, 0, 0, 0);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(view.SelectedText(), QString::fromUtf8("Пр"));
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {},
                       PointOf(view, QString::fromUtf8("Привет é Ã"), 3));
    QCOMPARE(view.SelectedText(), QString::fromUtf8("Привет"));
    view.Copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8("Привет"));
    view.OpenFind();
    view.FindBar()->findChild<QLineEdit*>("FindText")->setText(QString::fromUtf8("ПРИ"));
    QTRY_COMPARE(view.FindBar()->Status(), QString("1 sur 1"));
    QCOMPARE(view.SelectedText(), QString::fromUtf8("При"));
  }

  void TheTextsAreFrench() {
    TLogView view(1 << 20);
    QCOMPARE(view.accessibleName(), QString("Journal"));
    QCOMPARE(view.FindBar()->findChild<QLineEdit*>("FindText")->placeholderText(),
             QString("Rechercher"));
    QCOMPARE(view.FindBar()->findChild<QCheckBox*>("FindCase")->text(),
             QString("Respecter la casse"));
    QCOMPARE(view.FindBar()->findChild<QAbstractButton*>("FindPrevious")->text(),
             QString("Précédent"));
    QCOMPARE(view.FindBar()->findChild<QAbstractButton*>("FindNext")->text(), QString("Suivant"));
    QStringList items;
    const std::unique_ptr<QMenu> menu = view.ContextMenu();
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) items << action->text() + " " + action->shortcut().toString();
    QCOMPARE(items,
             (QStringList{"Copier Ctrl+C", "Tout sélectionner Ctrl+A", "Rechercher... Ctrl+F",
                          "Enregistrer le journal... Ctrl+S", "Effacer le journal Ctrl+L"}));
  }

  // Ctrl+S writes the lines there at that moment, as shown, in UTF-8, ended by LF; the
  // progress shows in a strip while it runs.
  void SaveWritesTheLog() {
    QTemporaryDir folder;
    const QString path = folder.filePath("saved.txt");
    TLogView view(1 << 20);
    QString proposed;
    view.SetAskSavePath([&](const QString& offered) {
      proposed = offered;
      return path;
    });
    view.AppendLines(Lines({"GET / caf\xC3\xA9", "\xE9t\xE9\x01", ""}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::keyClick(&view, Qt::Key_S, Qt::ControlModifier);
    QTRY_VERIFY(!view.Saving());
    QCOMPARE(Contents(path), std::string("GET / caf\xC3\xA9\n\xC3\xA9t\xC3\xA9\xE2\x90\x81\n\n"));
    QVERIFY(QRegularExpression("^quorvel-\\d{8}-\\d{6}\\.txt$")
                .match(QFileInfo(proposed).fileName())
                .hasMatch());
    // In the documents folder where there is one, else in the home folder.
    QTemporaryDir home;
    const QByteArray home_was = qgetenv("HOME");
    const auto restore = qScopeGuard([&] { qputenv("HOME", home_was); });
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(QFileInfo(TLogView::ProposedSavePath()).absolutePath(), home.path());
    QVERIFY(QDir(home.path()).mkdir("Documents"));
    QCOMPARE(QFileInfo(TLogView::ProposedSavePath()).absolutePath(), home.filePath("Documents"));
    // Asked, and nothing chosen: nothing saved.
    view.SetAskSavePath([](const QString&) { return QString(); });
    QTest::keyClick(&view, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!view.Saving());
  }

  // A large save goes in slices: lines still come; Escape cancels it and leaves the file saved
  // over as it was.
  void ASaveInProgressCanBeCancelled() {
    QTemporaryDir folder;
    const QString path = folder.filePath("cancelled.txt");
    std::ofstream(path.toStdString()) << "the old log\n";
    TLogView view(std::uint64_t{1} << 30);
    view.SetAskSavePath([&](const QString&) { return path; });
    view.AppendLines(std::vector<std::string>(1'000'000, std::string(100, 'x')));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::keyClick(&view, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(view.Saving());
    QVERIFY(view.SaveProgress().startsWith("Enregistrement : "));
    QVERIFY(view.findChild<QLabel*>("SaveStrip")->isVisible());
    view.AppendLine("still coming");
    QCOMPARE(view.LineCount(), 1'000'001u);
    QVERIFY(QFile::exists(path));
    QTest::keyClick(&view, Qt::Key_Escape);
    QVERIFY(!view.Saving());
    QVERIFY(!view.findChild<QLabel*>("SaveStrip")->isVisible());
    QCOMPARE(Contents(path), std::string("the old log\n"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"cancelled.txt"});
  }

  // A save that cannot be made shows the default handler's box, with the path and the reason.
  void AFailedSaveShowsTheBox() {
    QTemporaryDir folder;
    QFile file(folder.filePath("a-file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString path = folder.filePath("a-file/log.txt");
    TBoxes boxes;
    TLogView view(1 << 20);
    view.SetAskSavePath([&](const QString&) { return path; });
    view.AppendLine("a line");
    view.SaveLog();
    QCOMPARE(boxes.Texts.size(), 1);
    QVERIFY2(boxes.Texts[0].startsWith("Impossible d'enregistrer le journal dans '" + path +
                                       "' : " + QString::fromLocal8Bit(std::strerror(ENOTDIR))),
             qPrintable(boxes.Texts[0]));
    QVERIFY(!view.Saving());
    QVERIFY(!QFile::exists(path));
  }

  // Ctrl+L empties the view and closes find; the lines that come next follow.
  void ClearEmptiesTheView() {
    TLogView view(1 << 20);
    view.resize(300, 200);
    view.AppendLines(std::vector<std::string>(1000, "a line"));
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.OpenFind();
    QTest::keyClicks(QApplication::focusWidget(), "line");
    // Thousands grouped as the locale groups them.
    QTRY_COMPARE(view.FindBar()->Status(), "1 sur 1" + QLocale().groupSeparator() + "000");
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(view.LineCount(), 0u);
    QVERIFY(!view.FindBar()->isVisible());
    QVERIFY(!view.Model().FindOpen());
    QCOMPARE(view.FreeCharacters(), std::uint64_t{1} << 20);
    view.AppendLines(std::vector<std::string>(500, "new"));
    QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    QCOMPARE(view.LineText(499), QString("new"));
  }
};

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  LogViewTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_log_view.moc"
