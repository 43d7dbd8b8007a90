#include "ui/UnitMain.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#ifndef _WIN32
#include <langinfo.h>
#endif

#include <chrono>
#include <stdexcept>

#include "ui/LocaleSeparators.h"
#include "ui/LogView.h"
#include "ui/PortConversion.h"
#include "ui/UpDown.h"

namespace {

constexpr int kClientWidth = 940;
constexpr int kClientHeight = 685;
constexpr int kPanelHeight = 100;
constexpr int kGroupBox1Width = 874;
constexpr auto kCloseWait = std::chrono::milliseconds(2000);

template <class T>
T* Placed(T* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const char* caption, int left, int width) {
  auto* box =
      Placed(new QCheckBox(QString::fromLatin1(caption), parent), name, left, 16, width, 17);
  box->setChecked(true);
  return box;
}

std::string DroppedLine(std::uint64_t count) {
  return "*** " + std::to_string(count) + " datagrams dropped: the capture could not keep up ***";
}

}  // namespace

TMainForm::TMainForm(TCaptureLayerFactory make_layer, std::uint64_t log_capacity, QWidget* parent)
    : QWidget(parent), FMakeLayer(std::move(make_layer)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Quorvel v2.0"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  resize(kClientWidth, kClientHeight);
  CreateLogView(log_capacity);
  CreateBottomPanel();
  CreateTimer();
  SetTabOrder();
  if (const QScreen* where = screen()) move(where->availableGeometry().center() - rect().center());
  FormCreate();
}

TMainForm::~TMainForm() {
  FormDestroy();
}

void TMainForm::CreateLogView(std::uint64_t capacity) {
  Ecr = Placed(new TLogView(capacity, this), "Ecr", 0, 0, kClientWidth,
               kClientHeight - kPanelHeight);
}

void TMainForm::CreateBottomPanel() {
  PanelBottom = Placed(new QFrame(this), "PanelBottom", 0, kClientHeight - kPanelHeight,
                       kClientWidth, kPanelHeight);
  PanelBottom->setFrameStyle(QFrame::Panel | QFrame::Raised);
  // Group boxes as Windows draws them: the caption sits on the top edge of the frame, which
  // leaves the table's geometry room for the controls inside.
  // A style sheet would otherwise put the panel back on the application's font.
  PanelBottom->setStyleSheet(QStringLiteral(
      "QWidget { font: 8pt \"Tahoma\"; }"
      "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
      " left: 7px; padding: 0px; }"));
  CreateAddressGroup();
  CreateViewGroup();
  CreateFilterGroup();
  Btn_StartStop = Placed(new QPushButton(QStringLiteral("Btn_StartStop"), PanelBottom),
                         "Btn_StartStop", 580, 60, 133, 34);
  connect(Btn_StartStop, &QPushButton::clicked, this, &TMainForm::Btn_StartStopClick);
}

void TMainForm::CreateAddressGroup() {
  GroupBox1 = Placed(new QGroupBox(QStringLiteral(" Trace TCP "), PanelBottom), "GroupBox1", 8, 10,
                     kGroupBox1Width, 45);
  Label1 = Placed(new QLabel(QStringLiteral("Adressse IP carte reseau :"), GroupBox1), "Label1", 5,
                  16, 128, 13);
  EditIp = Placed(new QLineEdit(QStringLiteral("EditIp"), GroupBox1), "EditIp", 138, 14, 121, 25);
  Touslesports = Placed(new QRadioButton(QStringLiteral("Tous les ports"), GroupBox1),
                        "Touslesports", 271, 16, 90, 17);
  Touslesports->setChecked(true);
  PortStartPortEnd = Placed(new QRadioButton(QStringLiteral("De"), GroupBox1), "PortStartPortEnd",
                            363, 16, 41, 17);
  StartPort = Placed(new QLineEdit(QStringLiteral("0"), GroupBox1), "StartPort", 400, 13, 65, 25);
  UpDown1 = Placed(new TUpDown(GroupBox1), "UpDown1", 465, 13, 16, 19);
  UpDown1->SetAssociate(StartPort);
  Label2 = Placed(new QLabel(QStringLiteral("a"), GroupBox1), "Label2", 491, 17, 17, 13);
  Label2->setFixedSize(17, 13);
  EndPort = Placed(new QLineEdit(QStringLiteral("0"), GroupBox1), "EndPort", 512, 14, 61, 25);
  UpDown2 = Placed(new TUpDown(GroupBox1), "UpDown2", 573, 14, 16, 19);
  UpDown2->SetAssociate(EndPort);
  StartPort->installEventFilter(this);
  EndPort->installEventFilter(this);
  connect(Touslesports, &QRadioButton::clicked, this, &TMainForm::TouslesportsClick);
  connect(PortStartPortEnd, &QRadioButton::clicked, this, &TMainForm::PortStartPortEndClick);
}

void TMainForm::CreateViewGroup() {
  GroupBox2 =
      Placed(new QGroupBox(QStringLiteral(" Voir "), PanelBottom), "GroupBox2", 8, 56, 249, 39);
  VoirDate = CheckBox(GroupBox2, "VoirDate", "Date", 8, 97);
  VoirIpPort = CheckBox(GroupBox2, "VoirIpPort", "IP et Ports", 62, 73);
  VoirDrapeaux = CheckBox(GroupBox2, "VoirDrapeaux", "Drapeaux TCP", 148, 97);
}

void TMainForm::CreateFilterGroup() {
  GroupBox3 = Placed(new QGroupBox(QStringLiteral(" Filtre Drapeaux TCP "), PanelBottom),
                     "GroupBox3", 262, 56, 309, 39);
  FiltreURG = CheckBox(GroupBox3, "FiltreURG", "URG", 8, 49);
  FiltreACK = CheckBox(GroupBox3, "FiltreACK", "ACK", 56, 49);
  FiltrePSH = CheckBox(GroupBox3, "FiltrePSH", "PSH", 105, 49);
  FiltreRST = CheckBox(GroupBox3, "FiltreRST", "RST", 154, 49);
  FiltreSYN = CheckBox(GroupBox3, "FiltreSYN", "SYN", 203, 49);
  FiltreFIN = CheckBox(GroupBox3, "FiltreFIN", "FIN", 252, 49);
}

void TMainForm::CreateTimer() {
  TimerInData = new QTimer(this);
  TimerInData->setObjectName(QStringLiteral("TimerInData"));
  TimerInData->setInterval(kTickMilliseconds);
  connect(TimerInData, &QTimer::timeout, this, &TMainForm::TimerInDataTimer);
}

// The panel before the log view; in the panel the button, then the three groups; in each
// group its controls by their tab numbers.
void TMainForm::SetTabOrder() {
  const QWidget* const chain[] = {
      Btn_StartStop, Touslesports, PortStartPortEnd, UpDown1,    UpDown2,      StartPort,
      EndPort,       EditIp,       VoirDate,         VoirIpPort, VoirDrapeaux, FiltreURG,
      FiltreACK,     FiltrePSH,    FiltreRST,        FiltreSYN,  FiltreFIN,    Ecr};
  for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
    QWidget::setTabOrder(const_cast<QWidget*>(chain[i]), const_cast<QWidget*>(chain[i + 1]));
  Btn_StartStop->setFocus();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int panel_top = std::max(0, height() - kPanelHeight);
  Ecr->setGeometry(0, 0, width(), panel_top);
  PanelBottom->setGeometry(0, panel_top, width(), kPanelHeight);
  GroupBox1->resize(std::max(0, kGroupBox1Width + width() - kClientWidth), GroupBox1->height());
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LocaleChange) ReadLocaleSeparators();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == StartPort || watched == EndPort) && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Keys that type no character, and the focus keys, are not the edit's to filter.
    const bool types_character = !key->text().isEmpty() && key->key() != Qt::Key_Delete &&
                                 key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
    if (types_character && !StartPortKeyPress(key->text().front())) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::FormCreate() {
  FPile = std::make_shared<TPileTrameTCP>();
  FRunning = true;
  SetRunning(false);
  EditIp->setText(QString::fromStdString(GetLocalIp()));
  ReadLocaleSeparators();
}

void TMainForm::FormDestroy() {
  for (const auto& capture : FCaptures)
    capture->Terminate();
  const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
  for (const auto& capture : FCaptures) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    capture->WaitEnded(std::max(left, std::chrono::milliseconds(0)));
  }
  FCaptures.clear();
  FSniffer.reset();
  // A capture still running holds the queue itself, so it never pushes onto a released one.
  FPile.reset();
}

void TMainForm::SetRunning(bool value) {
  if (value == FRunning) return;
  FRunning = value;
  if (FRunning) {
    Ecr->SetColors(Qt::black, Qt::white);
    Btn_StartStop->setText(QStringLiteral("Stop"));
    TimerInData->start();
  } else {
    Btn_StartStop->setText(QStringLiteral("Start"));
    TimerInData->stop();
  }
}

void TMainForm::Btn_StartStopClick() {
  if (FRunning) {
    StopCapture();
    return;
  }
  // Everything is read and converted first, so that a rejected text leaves the window
  // stopped; with both ports wrong the start port's text is the one named.
  const std::string ip = EditIp->text().toStdString();
  std::uint16_t port_start = 1;
  std::uint16_t port_end = 65535;
  if (!Touslesports->isChecked()) {
    port_start = StrToPort(StartPort->text().toStdString());
    port_end = StrToPort(EndPort->text().toStdString());
  }
  std::erase_if(FCaptures, [](const auto& capture) { return capture->Ended(); });
  FSniffer = TThreadSniffer::Create(FPile, ip, port_start, port_end, FMakeLayer());
  FCaptures.push_back(FSniffer);
  SetRunning(true);
}

void TMainForm::StopCapture() {
  SetRunning(false);
  if (FSniffer) FSniffer->Terminate();
}

void TMainForm::TouslesportsClick() {
  StartPort->setEnabled(false);
  EndPort->setEnabled(false);
}

void TMainForm::PortStartPortEndClick() {
  StartPort->setEnabled(true);
  EndPort->setEnabled(true);
}

bool TMainForm::StartPortKeyPress(QChar key) {
  return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QChar(8);
}

TDisplayOptions TMainForm::ReadDisplayOptions() const {
  return {VoirDate->isChecked(),  VoirIpPort->isChecked(), VoirDrapeaux->isChecked(),
          FiltreURG->isChecked(), FiltreACK->isChecked(),  FiltrePSH->isChecked(),
          FiltreRST->isChecked(), FiltreSYN->isChecked(),  FiltreFIN->isChecked()};
}

// Takes at most the records queued when the tick began, so that the window returns to its
// events however fast the capture fills the queue, and appends their lines in one batch.
void TMainForm::TimerInDataTimer() {
  const std::int32_t queued = FPile->Count();
  std::vector<std::string> lines;
  std::uint64_t room = Ecr->FreeCharacters();
  bool full = false;
  const auto add = [&](std::string line) {
    const std::uint64_t cost = TLogText::Cost(line);
    full = cost > room;
    room -= full ? 0 : cost;
    lines.push_back(std::move(line));
  };
  for (std::int32_t i = 0; i < queued && !full; ++i) {
    const TPileItem item = FPile->Pop();
    if (!item) break;
    if (!item.Trame)
      add(DroppedLine(item.Dropped));
    else if (std::optional<std::string> line = ComposeLine(*item.Trame, ReadDisplayOptions()))
      add(std::move(*line));
  }
  // A full view stops the capture before its error is shown, so that no further tick opens
  // a further box; what is still queued stays queued.
  if (full) StopCapture();
  Ecr->AppendLines(lines);
  if (FRunning && FSniffer && FSniffer->Ended()) {
    const std::string failure = FSniffer->Failure();
    if (!failure.empty()) {
      SetRunning(false);
      throw std::runtime_error(failure);
    }
  }
}

std::string TMainForm::GetLocalIp() {
  const std::unique_ptr<TCaptureLayer> layer = FMakeLayer();
  layer->Startup();
  std::string result;
  for (const std::string& address : layer->HostAddresses())
    result = address;
  layer->Cleanup();
  return result;
}

// The user's date and time separators, as the C library's locale states them; where it
// states none, "/" and ":".
void TMainForm::ReadLocaleSeparators() {
  const auto separator = [](std::optional<std::string> found, const char* fallback) {
    return found ? *found : std::string(fallback);
  };
#ifdef _WIN32
  const QLocale locale = QLocale::system();
  SetDateTimeSeparators(
      separator(SeparatorInQtFormat(locale.dateFormat(QLocale::ShortFormat).toStdString()), "/"),
      separator(SeparatorInQtFormat(locale.timeFormat(QLocale::LongFormat).toStdString()), ":"));
#else
  SetDateTimeSeparators(separator(SeparatorInPosixFormat(nl_langinfo(D_FMT)), "/"),
                        separator(SeparatorInPosixFormat(nl_langinfo(T_FMT)), ":"));
#endif
}
