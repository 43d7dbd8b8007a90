#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <functional>

#include "testsupport/DatagramFixtures.h"
#include "testsupport/ScriptedServices.h"
#include "ui/Layout.h"
#include "ui/qt/Application.h"
#include "ui/qt/LogView.h"
#include "ui/qt/UnitMain.h"
#include "ui/qt/UpDown.h"

namespace {

struct TBox {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon;
  QMessageBox::StandardButtons Buttons;
  std::uint64_t LinesShown;  // when the box came
};

// The window over a scripted capture layer and scripted interfaces, with every error box
// caught instead of shown.
struct TFixture {
  std::shared_ptr<TCaptureScript> Script = std::make_shared<TCaptureScript>();
  std::shared_ptr<std::vector<TInterfaceAddress>> Interfaces =
      std::make_shared<std::vector<TInterfaceAddress>>();
  std::unique_ptr<TMainForm> Form;
  std::vector<TBox> Boxes;

  explicit TFixture(std::uint64_t capacity = TMainForm::kLogCapacity, bool root = false) {
    TCaptureServices services = ScriptedServices(Script);
    services.InterfaceAddresses = [interfaces = Interfaces] { return *interfaces; };
    services.RunsAsRoot = [root] { return root; };
    Form = std::make_unique<TMainForm>(std::move(services), capacity);
    static_cast<TApplication*>(qApp)->SetBoxHook([this](QMessageBox& box) {
      Boxes.push_back(
          {box.windowTitle(), box.text(), box.icon(), box.standardButtons(), Ecr()->LineCount()});
    });
  }
  ~TFixture() { static_cast<TApplication*>(qApp)->SetBoxHook({}); }

  template <class T = QWidget>
  T* Get(const char* name) const {
    T* widget = Form->findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no control %s", name);
    return widget;
  }
  TLogView* Ecr() const { return Get<TLogView>("Ecr"); }
  QString Button() const { return Get<QPushButton>("Btn_StartStop")->text(); }
  QTimer* Timer() const { return Form->findChild<QTimer*>("TimerInData"); }
  TCaptureTarget Target() const {
    return Script->Read([](TCaptureScript& s) { return s.Target; });
  }
  // Through the application, as a user's click, so that a handler's exception reaches the
  // default handler.
  void Click(const char* name) {
    QWidget* button = Get(name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
  }
  QStringList Lines() const {
    QStringList lines;
    for (std::uint64_t i = 0; i < Ecr()->LineCount(); ++i)
      lines << Ecr()->LineText(i);
    return lines;
  }
  void Queue(const std::string& payload, std::uint8_t flags = 0x18) {
    auto trame = std::make_unique<TTrameTCP>();
    trame->Date = 1'796'616'631'000'000;  // 7 December 2026, 04:10:31 UTC
    trame->Source = {"192.168.0.5", 1025};
    trame->Dest = {"10.0.0.1", 80};
    trame->Drapeaux = TDrapeauxTCP(static_cast<std::uint8_t>(
        ((flags & 0x20) ? 1 : 0) | ((flags & 0x10) ? 2 : 0) | ((flags & 0x08) ? 4 : 0) |
        ((flags & 0x04) ? 8 : 0) | ((flags & 0x02) ? 16 : 0) | ((flags & 0x01) ? 32 : 0)));
    trame->Data = payload;
    Form->Controller().Pile()->Push(std::move(trame));
  }
  // Runs one tick as the timer does, through the application's default handler.
  void Tick() {
    QMetaObject::invokeMethod(Form.get(), &TMainForm::TimerInDataTimer, Qt::QueuedConnection);
    QCoreApplication::processEvents();
  }
};

// The Qt class each kind of control is, in the order of TControlKind.
const char* QtClassOf(TControlKind kind) {
  constexpr const char* kClasses[] = {"TLogView",  "QFrame",     "QGroupBox",    "QLabel",
                                      "QLineEdit", "QComboBox",  "QRadioButton", "TUpDown",
                                      "QCheckBox", "QPushButton"};
  return kClasses[static_cast<int>(kind)];
}

// Where Tab finds a control: its containers' places in their parents' tab order, from the
// window's down, then its own place. Empty for a control the table does not hold.
std::vector<int> TabPath(std::string_view name) {
  std::vector<int> path;
  while (name != kMainFormName) {
    const auto entry = std::find_if(std::begin(kMainFormLayout), std::end(kMainFormLayout),
                                    [&](const TLayoutEntry& e) { return name == e.Name; });
    if (entry == std::end(kMainFormLayout)) return {};
    path.insert(path.begin(), entry->TabOrder);
    name = entry->Parent;
  }
  return path;
}

QString CaptionOf(QWidget* widget) {
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* box = qobject_cast<QComboBox*>(widget)) return box->currentText();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return {};
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void LayoutTable() {
    TFixture f;
    QCOMPARE(f.Form->windowTitle(), QString("Quorvel v2.0"));
    QCOMPARE(f.Form->size(), QSize(940, 685));
    QCOMPARE(f.Form->font().pointSize(), 8);
    for (const TLayoutEntry& c : kMainFormLayout) {
      QWidget* widget = f.Get(c.Name);
      QCOMPARE(widget->metaObject()->className(), QtClassOf(c.Kind));
      QCOMPARE(widget->parentWidget()->objectName(), QString(c.Parent));
      QCOMPARE(widget->geometry(), QRect(c.Left, c.Top, c.Width, c.Height));
      // A caption that only names the control gives way to the program's text.
      if (c.Caption && std::string_view(c.Caption) != c.Name)
        QCOMPARE(CaptionOf(widget), QString(c.Caption));
      QVERIFY2(widget->isEnabled(), c.Name);
      if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->isChecked(), c.Checked);
    }
    QCOMPARE(CaptionOf(f.Get("EditIp")), QString("10.0.0.1"));
    QCOMPARE(f.Button(), QString("Start"));
    QVERIFY(!f.Timer()->isActive());
    QCOMPARE(f.Timer()->interval(), 500);
    QCOMPARE(f.Ecr()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(f.Ecr()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(f.Ecr()->BackgroundColor(), f.Ecr()->palette().color(QPalette::Base));
    QCOMPARE(f.Ecr()->LineCount(), 0u);
  }

  // Tab visits every control that takes the focus once, in the table's tab order.
  void TabOrderAndFocus() {
    TFixture f;
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.Form.get()));
    QCOMPARE(QApplication::focusWidget(), f.Get("Btn_StartStop"));
    std::vector<std::vector<int>> paths;
    QStringList chain;
    QWidget* widget = f.Get("Btn_StartStop");
    do {
      if (widget->focusPolicy() & Qt::TabFocus && widget->isVisible() &&
          !widget->objectName().isEmpty()) {
        paths.push_back(TabPath(widget->objectName().toStdString()));
        chain << widget->objectName();
      }
      widget = widget->nextInFocusChain();
    } while (widget != f.Get("Btn_StartStop"));
    QVERIFY2(std::adjacent_find(paths.begin(), paths.end(), std::greater_equal<>()) == paths.end(),
             qPrintable(chain.join(' ')));
    QCOMPARE(paths.size(), std::size_t{16});  // all but the labels and the spin buttons
  }

  void WideningGrowsTheLogAndTheFirstGroupOnly() {
    TFixture f;
    f.Form->show();
    f.Form->resize(1140, 785);
    QCOMPARE(f.Get("Ecr")->geometry(), QRect(0, 0, 1140, 685));
    QCOMPARE(f.Get("PanelBottom")->geometry(), QRect(0, 685, 1140, 100));
    QCOMPARE(f.Get("GroupBox1")->geometry(), QRect(8, 10, 1074, 45));
    QCOMPARE(f.Get("GroupBox2")->geometry(), QRect(8, 56, 249, 39));
    QCOMPARE(f.Get("Btn_StartStop")->geometry(), QRect(580, 60, 133, 34));
  }

  void StartAndStop() {
    TFixture f;
    f.Click("Btn_StartStop");
    QCOMPARE(f.Button(), QString("Stop"));
    QVERIFY(f.Timer()->isActive());
    QCOMPARE(f.Ecr()->BackgroundColor(), QColor(Qt::black));
    QCOMPARE(f.Ecr()->TextColor(), QColor(Qt::white));
    QTRY_COMPARE(f.Target().Ip, std::string("10.0.0.1"));
    QCOMPARE(f.Target().PortStart, 1);
    QCOMPARE(f.Target().PortEnd, 65535);
    f.Click("Btn_StartStop");
    QCOMPARE(f.Button(), QString("Start"));
    QVERIFY(!f.Timer()->isActive());
    QTRY_COMPARE(f.Script->Read([](TCaptureScript& s) { return s.Closes; }), 1);
    QCOMPARE(f.Ecr()->BackgroundColor(), QColor(Qt::black));  // stays
    QVERIFY(f.Boxes.empty());
  }

  // The conversion itself is the controller's; here, the texts reach it from the edits and
  // its error reaches the default handler's box whole.
  void PortTextsReachTheController_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("box");
    QTest::newRow("valid") << "80"
                           << "";
    QTest::newRow("empty") << ""
                           << "'' is not a valid integer value.";
    QTest::newRow("reversed") << "90"
                              << "'90' is greater than '81'";  // no full stop after a quote
    QTest::newRow("pasted_nul") << QString::fromUtf8(
                                       "8\0"
                                       "0",
                                       3)
                                << QString::fromUtf8(
                                       "'8\u2400"
                                       "0' is not a valid integer value.");
  }
  void PortTextsReachTheController() {
    QFETCH(QString, start);
    QFETCH(QString, box);
    TFixture f;
    f.Click("PortStartPortEnd");
    f.Get<QLineEdit>("StartPort")->setText(start);  // as pasted: no key filter
    f.Get<QLineEdit>("EndPort")->setText("81");
    f.Click("Btn_StartStop");
    if (box.isEmpty()) {
      QCOMPARE(f.Button(), QString("Stop"));
      QTRY_COMPARE(f.Script->Read([](TCaptureScript& s) { return s.Receiving; }), 1);
      QCOMPARE(int(f.Target().PortStart), 80);
      QCOMPARE(int(f.Target().PortEnd), 81);
      QVERIFY(f.Boxes.empty());
      return;
    }
    QCOMPARE(f.Boxes.size(), 1u);
    QCOMPARE(f.Boxes[0].Text, box);
    QCOMPARE(f.Boxes[0].Title, QString("Rivezava REV"));
    QCOMPARE(f.Boxes[0].Icon, QMessageBox::Critical);
    QCOMPARE(f.Boxes[0].Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(f.Button(), QString("Start"));
    QVERIFY(!f.Timer()->isActive());
  }

  void HostAddressFillsTheField() {
    TFixture f;
    QCOMPARE(f.Get<QComboBox>("EditIp")->currentText(), QString("10.0.0.1"));
    QCOMPARE(f.Get<QComboBox>("EditIp")->count(), 0);
  }

  // The list is the controller's, read at each opening; what is typed stays as typed, and an
  // entry chosen puts its address alone into the field, which Start reads.
  void AddressList() {
    TFixture f;
    *f.Interfaces = {{"::1", "lo"}, {"127.0.0.1", "lo"}, {"192.0.2.2", "eth0"}};
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    auto* box = f.Get<QComboBox>("EditIp");
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), "10.9");
    box->showPopup();
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
      entries << box->itemText(i);
    QCOMPARE(entries, (QStringList{"127.0.0.1 (lo)", "192.0.2.2 (eth0)", "::1 (lo)"}));
    QCOMPARE(box->currentText(), QString("10.9"));
    QAbstractItemView* list = box->view();
    QTRY_VERIFY(list->isVisible());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(2, 0)).center());
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(box->currentText(), QString("::1"));

    // Typed over, with entries in the list: no completion from them.
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), "1");
    QCOMPARE(box->currentText(), QString("1"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->currentText(), QString("1"));

    f.Interfaces->push_back({"fe80::a00:27ff:fe4e:66a1%enp0s31f6", "enp0s31f6"});
    box->showPopup();
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(box->count(), 4);
    QCOMPARE(box->itemText(3), QString("fe80::a00:27ff:fe4e:66a1%enp0s31f6 (enp0s31f6)"));
    QVERIFY(list->viewport()->width() >= list->sizeHintForColumn(0));  // no entry cut short
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(box->currentText(), QString("fe80::a00:27ff:fe4e:66a1%enp0s31f6"));
    f.Click("Btn_StartStop");
    QTRY_COMPARE(f.Target().Ip, std::string("fe80::a00:27ff:fe4e:66a1%enp0s31f6"));
  }

  void AWindowRunAsRootSaysSoFirst() {
    TFixture f(TMainForm::kLogCapacity, true);
    QCOMPARE(f.Lines(), QStringList{"*** Quorvel runs as root: members of the group quorvel "
                                    "capture without it ***"});
  }

  void PortEditsTakeDigitsAndBackspaceOnly() {
    TFixture f;
    auto* edit = f.Get<QLineEdit>("StartPort");
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, "1a-2 x.3");
    QCOMPARE(edit->text(), QString("0123"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString("012"));
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QString("12"));
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(edit->text(), QString("12"));
  }

  // The editing shortcuts act in a port field; a paste by key stays out, the context menu's
  // paste is left as it is (Start refuses what does not convert).
  void PortEditsEditingShortcuts() {
    TFixture f;
    f.Click("PortStartPortEnd");
    auto* edit = f.Get<QLineEdit>("StartPort");
    QClipboard* clipboard = QGuiApplication::clipboard();
    // With Ctrl held, X11 and Wayland send the control character as the key's text.
    const auto control = [edit](Qt::Key key, char16_t typed) {
      QTest::sendKeyEvent(QTest::Click, edit, key, QString(QChar(typed)), Qt::ControlModifier);
    };
    edit->setText("8080");
    control(Qt::Key_A, 0x01);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString(""));
    edit->setText("8080");
    control(Qt::Key_A, 0x01);
    control(Qt::Key_C, 0x03);
    QCOMPARE(clipboard->text(), QString("8080"));
    QCOMPARE(edit->text(), QString("8080"));
    clipboard->setText("12ab");
    edit->end(false);
    control(Qt::Key_V, 0x16);
    QCOMPARE(edit->text(), QString("8080"));
    control(Qt::Key_A, 0x01);
    control(Qt::Key_X, 0x18);
    QCOMPARE(edit->text(), QString(""));
    QCOMPARE(clipboard->text(), QString("8080"));
    clipboard->setText("12ab");
    const std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
    const QList<QAction*> actions = menu->actions();
    const auto paste = std::find_if(actions.begin(), actions.end(), [](QAction* action) {
      return action->text().startsWith(QStringLiteral("&Paste"));
    });
    QVERIFY(paste != actions.end());
    (*paste)->trigger();
    QCOMPARE(edit->text(), QString("12ab"));
  }

  void RadioButtonsEnableThePortEdits() {
    TFixture f;
    f.Click("Touslesports");
    QVERIFY(!f.Get("StartPort")->isEnabled());
    QVERIFY(!f.Get("EndPort")->isEnabled());
    QVERIFY(f.Get("UpDown1")->isEnabled());
    f.Get<TUpDown>("UpDown1")->StepBy(1);  // still writes into its disabled edit
    QCOMPARE(f.Get<QLineEdit>("StartPort")->text(), QString("1"));
    f.Click("PortStartPortEnd");
    QVERIFY(f.Get("StartPort")->isEnabled());
    QVERIFY(f.Get("EndPort")->isEnabled());
  }

  void SpinButtons() {
    TFixture f;
    auto* edit = f.Get<QLineEdit>("EndPort");
    auto* spin = f.Get<TUpDown>("UpDown2");
    QTest::mouseClick(spin->findChildren<QToolButton*>()[0], Qt::LeftButton);
    QCOMPARE(edit->text(), QString("1"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QString("2"));
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QString("0"));  // no wrap-around
    edit->setText("99");
    spin->StepBy(1);
    spin->StepBy(1);
    QCOMPARE(edit->text(), QString("100"));
    edit->setText("8080");  // typed above the range: the spin takes up its top
    spin->StepBy(-1);
    QCOMPARE(edit->text(), QString("99"));
  }

  void ColumnsAndFlagsAreReadForEachTick() {
    TFixture f;
    f.Click("Btn_StartStop");
    f.Queue("abc\r\n");
    f.Tick();
    f.Click("VoirDate");
    f.Click("VoirDrapeaux");
    f.Queue("second");
    f.Queue("", 0x02);  // a bare SYN
    f.Click("FiltreSYN");
    f.Tick();
    f.Click("VoirIpPort");
    f.Queue("payload only");
    f.Queue("", 0x10);  // nothing to show at all
    f.Tick();
    QCOMPARE(f.Lines(),
             (QStringList{"07/12/2026 04:10:31     192.168.0.5:1025 =>        10.0.0.1:80     "
                          "ACK PSH             abc",
                          "    192.168.0.5:1025 =>        10.0.0.1:80 second", "payload only"}));
  }

  void PayloadIsPlainText() {
    TFixture f;
    f.Click("Btn_StartStop");
    f.Click("VoirDate");
    f.Click("VoirIpPort");
    f.Click("VoirDrapeaux");
    f.Queue("<b>bold?</b> &lt; \xE9\r\nnext line");
    f.Tick();
    QCOMPARE(f.Lines(),
             (QStringList{QString::fromUtf8("<b>bold?</b> &lt; \xC3\xA9"), "next line"}));
  }

  // A failed capture's lines are in the view before its box shows.
  void AFailureBoxComesAfterTheLines() {
    TFixture f;
    f.Script->Add(BuildDatagram(WithPayload("last words")));
    f.Script->AddFailure({TCaptureStep::Receive, 5, "The interface disappeared", false});
    f.Click("Btn_StartStop");
    QTRY_COMPARE(f.Boxes.size(), 1u);
    QCOMPARE(f.Boxes[0].LinesShown, 1u);
    QVERIFY(f.Lines()[0].endsWith("last words"));
    QCOMPARE(f.Button(), QString("Start"));
  }

  // A full log stops the capture and says so once; cleared, it takes lines again and a new
  // capture starts.
  void AFullLogCanBeClearedAndCaptureStartedAgain() {
    TFixture f(400);
    for (const char* name : {"VoirDate", "VoirIpPort", "VoirDrapeaux"})
      f.Click(name);
    for (int i = 0; i < 100; ++i)
      f.Script->Add(BuildDatagram(WithPayload(std::string(30, static_cast<char>('a' + i % 26)))));
    f.Click("Btn_StartStop");
    QTRY_COMPARE(f.Boxes.size(), 1u);
    QCOMPARE(f.Boxes[0].Text, QString("RichEdit line insertion error."));
    QCOMPARE(f.Button(), QString("Start"));
    const std::uint64_t shown = f.Ecr()->LineCount();
    QVERIFY(shown > 0);
    f.Ecr()->setFocus();
    QTest::keyClick(f.Ecr(), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(f.Ecr()->LineCount(), 0u);
    QCOMPARE(f.Ecr()->FreeCharacters(), 400u);
    f.Script->Add(BuildDatagram(WithPayload("after the clear")));
    f.Click("Btn_StartStop");
    QCOMPARE(f.Button(), QString("Stop"));
    QTRY_COMPARE(f.Ecr()->LineCount(), 1u);
    QVERIFY(f.Lines()[0].endsWith("after the clear"));
    QCOMPARE(f.Boxes.size(), 1u);
  }

  void MinimumSizeShowsTheWholePanel() {
    TFixture f;
    f.Form->show();
    f.Form->resize(600, 300);
    QVERIFY(f.Form->width() >= 721);
    const QRect button = f.Get("Btn_StartStop")->geometry();
    QVERIFY(f.Get("PanelBottom")->rect().contains(button));
    QCOMPARE(f.Get("PanelBottom")->geometry().bottom(), f.Form->height() - 1);
  }

  // Docks group the window with its desktop entry: on Wayland by the entry's name, on X11 by
  // the class, which Qt takes from the application's name.
  void DesktopIdentity() {
    QCOMPARE(QGuiApplication::desktopFileName(), QString("quorvel"));
    QFile entry(QStringLiteral(QUORVEL_SOURCE_DIR "/data/quorvel.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
    QCOMPARE(lines.filter(QRegularExpression("^StartupWMClass=")),
             QStringList{"StartupWMClass=" + QCoreApplication::applicationName()});
    QVERIFY(!QApplication::windowIcon().pixmap(48).isNull());
  }

  void ExceptionBox() {
    const auto box = TApplication::CreateExceptionBox("'' is not a valid integer value");
    QCOMPARE(box->windowTitle(), QString("Rivezava REV"));
    QCOMPARE(box->text(), QString("'' is not a valid integer value."));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(TApplication::CreateExceptionBox("")->text(), QString(""));
    QCOMPARE(TApplication::CreateExceptionBox("(error 99)")->text(), QString("(error 99)"));
  }
};

int main(int argc, char** argv) {
  qputenv("TZ", "UTC0");  // the lines' dates read as the records' UTC
  TApplication application(argc, argv);
  MainFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_form.moc"
