#include "ui/qt/UnitMain.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
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

#include <langinfo.h>

#include <algorithm>
#include <exception>
#include <functional>

#include "ui/Layout.h"
#include "ui/LocaleSeparators.h"
#include "ui/qt/Application.h"
#include "ui/qt/LogView.h"
#include "ui/qt/UpDown.h"

namespace {

// The control at its place in the layout table, named as there.
template <class T>
T* Placed(T* widget, TControlName name) {
  const TLayoutEntry& entry = LayoutOf(name);
  widget->setObjectName(QString::fromLatin1(entry.Name));
  widget->setGeometry(entry.Left, entry.Top, entry.Width, entry.Height);
  return widget;
}

QString CaptionOf(TControlName name) {
  return QString::fromLatin1(LayoutOf(name).Caption);
}

QCheckBox* CheckBox(QWidget* parent, TControlName name) {
  auto* box = Placed(new QCheckBox(CaptionOf(name), parent), name);
  box->setChecked(LayoutOf(name).Checked);
  return box;
}

// An editable combo box that tells before its list opens, so that the list can be filled then.
class TDropDownBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;

  void showPopup() override {
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
  }
};

// Each handler keeps what it raises from the toolkit's frames: the default handler shows it.
template <class F>
void Handle(F&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    TApplication::HandleException(error);
  }
}

}  // namespace

TMainForm::TMainForm(TCaptureServices services, std::uint64_t log_capacity, QWidget* parent)
    : QWidget(parent), FController(*this, std::move(services)) {
  setObjectName(QString::fromLatin1(kMainFormName));
  setWindowTitle(QString::fromLatin1(kMainFormCaption));
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kMinClientWidth, kMinClientHeight);
  CreateLogView(log_capacity);
  CreateBottomPanel();
  CreateTimers();
  SetTabOrder();
  if (const QScreen* where = screen()) move(where->availableGeometry().center() - rect().center());
  FormCreate();
}

TMainForm::~TMainForm() {
  FormDestroy();
}

void TMainForm::CreateLogView(std::uint64_t capacity) {
  Ecr = Placed(new TLogView(capacity, this), "Ecr");
}

void TMainForm::CreateBottomPanel() {
  PanelBottom = Placed(new QFrame(this), "PanelBottom");
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
  Btn_StartStop =
      Placed(new QPushButton(CaptionOf("Btn_StartStop"), PanelBottom), "Btn_StartStop");
  connect(Btn_StartStop, &QPushButton::clicked, this, &TMainForm::Btn_StartStopClick);
}

void TMainForm::CreateAddressGroup() {
  GroupBox1 = Placed(new QGroupBox(CaptionOf("GroupBox1"), PanelBottom), "GroupBox1");
  Label1 = Placed(new QLabel(CaptionOf("Label1"), GroupBox1), "Label1");
  auto* address = Placed(new TDropDownBox(GroupBox1), "EditIp");
  // Typed as into a plain edit: no completion from the list, no entry added by Enter.
  address->setEditable(true);
  address->setInsertPolicy(QComboBox::NoInsert);
  address->setCompleter(nullptr);
  address->setEditText(CaptionOf("EditIp"));
  address->OnDropDown = [this] { Handle([this] { EditIpDropDown(); }); };
  EditIp = address;
  Touslesports = Placed(new QRadioButton(CaptionOf("Touslesports"), GroupBox1), "Touslesports");
  Touslesports->setChecked(LayoutOf("Touslesports").Checked);
  PortStartPortEnd =
      Placed(new QRadioButton(CaptionOf("PortStartPortEnd"), GroupBox1), "PortStartPortEnd");
  StartPort = Placed(new QLineEdit(CaptionOf("StartPort"), GroupBox1), "StartPort");
  UpDown1 = Placed(new TUpDown(GroupBox1), "UpDown1");
  UpDown1->SetAssociate(StartPort);
  Label2 = Placed(new QLabel(CaptionOf("Label2"), GroupBox1), "Label2");
  Label2->setFixedSize(Label2->size());
  EndPort = Placed(new QLineEdit(CaptionOf("EndPort"), GroupBox1), "EndPort");
  UpDown2 = Placed(new TUpDown(GroupBox1), "UpDown2");
  UpDown2->SetAssociate(EndPort);
  StartPort->installEventFilter(this);
  EndPort->installEventFilter(this);
  connect(EditIp, &QComboBox::activated, this,
          [this](int index) { Handle([this, index] { EditIpSelect(index); }); });
  connect(Touslesports, &QRadioButton::clicked, this, &TMainForm::TouslesportsClick);
  connect(PortStartPortEnd, &QRadioButton::clicked, this, &TMainForm::PortStartPortEndClick);
}

void TMainForm::CreateViewGroup() {
  GroupBox2 = Placed(new QGroupBox(CaptionOf("GroupBox2"), PanelBottom), "GroupBox2");
  VoirDate = CheckBox(GroupBox2, "VoirDate");
  VoirIpPort = CheckBox(GroupBox2, "VoirIpPort");
  VoirDrapeaux = CheckBox(GroupBox2, "VoirDrapeaux");
}

void TMainForm::CreateFilterGroup() {
  GroupBox3 = Placed(new QGroupBox(CaptionOf("GroupBox3"), PanelBottom), "GroupBox3");
  FiltreURG = CheckBox(GroupBox3, "FiltreURG");
  FiltreACK = CheckBox(GroupBox3, "FiltreACK");
  FiltrePSH = CheckBox(GroupBox3, "FiltrePSH");
  FiltreRST = CheckBox(GroupBox3, "FiltreRST");
  FiltreSYN = CheckBox(GroupBox3, "FiltreSYN");
  FiltreFIN = CheckBox(GroupBox3, "FiltreFIN");
}

void TMainForm::CreateTimers() {
  TimerInData = new QTimer(this);
  TimerInData->setObjectName(QStringLiteral("TimerInData"));
  TimerInData->setInterval(TMainController::kTick);
  connect(TimerInData, &QTimer::timeout, this, &TMainForm::TimerInDataTimer);
  FDrainAgain = new QTimer(this);
  FDrainAgain->setSingleShot(true);
  connect(FDrainAgain, &QTimer::timeout, this, &TMainForm::TimerInDataTimer);
}

// The table's tab order; the containers themselves take no focus here.
void TMainForm::SetTabOrder() {
  QWidget* previous = nullptr;
  for (const std::size_t row : kTabOrder) {
    const TLayoutEntry& entry = kMainFormLayout[row];
    if (IsContainer(entry)) continue;
    QWidget* widget = findChild<QWidget*>(QString::fromLatin1(entry.Name));
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
  Btn_StartStop->setFocus();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int panel_top = std::max(0, height() - kPanelHeight);
  Ecr->setGeometry(0, 0, width(), panel_top);
  PanelBottom->setGeometry(0, panel_top, width(), kPanelHeight);
  const int group_width = LayoutOf("GroupBox1").Width;
  GroupBox1->resize(std::max(0, group_width + width() - kClientWidth), GroupBox1->height());
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LocaleChange) ReadLocaleSeparators();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == StartPort || watched == EndPort) && event->type() == QEvent::KeyPress &&
      !StartPortKeyPress(*static_cast<QKeyEvent*>(event)))
    return true;
  return QWidget::eventFilter(watched, event);
}

void TMainForm::FormCreate() {
  EditIp->setEditText(QString::fromStdString(FController.FormCreate()));
  ReadLocaleSeparators();
}

void TMainForm::FormDestroy() {
  FController.FormDestroy();
}

void TMainForm::Btn_StartStopClick() {
  Handle([this] { FController.Btn_StartStopClick(); });
}

void TMainForm::TimerInDataTimer() {
  Handle([this] { FController.TimerInDataTimer(); });
}

// Filling the list would make its first entry the field's text: what was typed stays.
void TMainForm::EditIpDropDown() {
  const QString typed = EditIp->currentText();
  QStringList entries;
  for (const std::string& entry : FController.EditIpDropDown())
    entries << QString::fromStdString(entry);
  EditIp->clear();
  EditIp->addItems(entries);
  EditIp->setCurrentIndex(-1);
  EditIp->setEditText(typed);
  // The list as wide as its widest entry, with room for its frame and scroll bar.
  QAbstractItemView* list = EditIp->view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                        list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

// The box has just put the whole entry into the field.
void TMainForm::EditIpSelect(int index) {
  if (index < 0) return;
  if (const auto address = FController.EditIpSelect(static_cast<std::size_t>(index)))
    EditIp->setEditText(QString::fromStdString(*address));
}

std::size_t TMainForm::AppendLines(std::span<const std::string> lines) {
  return Ecr->Controller().Append(lines);
}

void TMainForm::ShowRunning(bool running) {
  Btn_StartStop->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
  if (running == TimerInData->isActive()) return;
  if (running) {
    Ecr->SetColors(Qt::black, Qt::white);  // and so it stays, also once stopped
    TimerInData->start();
  } else {
    TimerInData->stop();
  }
}

void TMainForm::DrainAgain(TNextDrain next) {
  if (next == TNextDrain::Now) FDrainAgain->start(0);
  if (next == TNextDrain::Soon) FDrainAgain->start(TMainController::kSoon);
}

void TMainForm::ShowError(const std::string& message) {
  TApplication::ShowException(message);
}

void TMainForm::TouslesportsClick() {
  StartPort->setEnabled(false);
  EndPort->setEnabled(false);
}

void TMainForm::PortStartPortEndClick() {
  StartPort->setEnabled(true);
  EndPort->setEnabled(true);
}

bool TMainForm::StartPortKeyPress(const QKeyEvent& key) {
  // Keys that type no character, and the focus keys, are not the edit's to filter; the
  // editing shortcuts are the edit's own.
  if (key.text().isEmpty() || key.key() == Qt::Key_Delete || key.key() == Qt::Key_Tab ||
      key.key() == Qt::Key_Backtab)
    return true;
  return PortKeyOf(key.text().front().unicode()) != TPortKey::Discard;
}

TStartTexts TMainForm::StartTexts() const {
  return {EditIp->currentText().toStdString(), Touslesports->isChecked(),
          StartPort->text().toStdString(), EndPort->text().toStdString()};
}

TDisplayOptions TMainForm::DisplayOptions() const {
  return DisplayOptionsFrom([this](const TLayoutEntry& entry) {
    return findChild<QCheckBox*>(QString::fromLatin1(entry.Name))->isChecked();
  });
}

// The user's date and time separators, as the C library's locale states them; where it
// states none, "/" and ":".
void TMainForm::ReadLocaleSeparators() {
  const auto separator = [](std::optional<std::string> found, const char* fallback) {
    return found ? *found : std::string(fallback);
  };
  SetDateTimeSeparators(separator(SeparatorInPosixFormat(nl_langinfo(D_FMT)), "/"),
                        separator(SeparatorInPosixFormat(nl_langinfo(T_FMT)), ":"));
}
