#pragma once

#include <QWidget>

#include <cstdint>
#include <span>
#include <string>

#include "ui/MainController.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class TLogView;
class TUpDown;

// The program's one window: the log view above a panel with the interface address, the port
// range, the column and flag check boxes and the Start/Stop button. Its behaviour is the
// controller's; the window composes the controls, lets the controller read them and shows
// what it is told to.
class TMainForm : public QWidget, private TMainView {
  Q_OBJECT

 public:
  // The log view's capacity, in characters.
  static constexpr std::uint64_t kLogCapacity = std::uint64_t{1} << 30;

  explicit TMainForm(TCaptureServices services = {}, std::uint64_t log_capacity = kLogCapacity,
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // For tests and benchmarks: the queue the captures fill.
  const TMainController& Controller() const { return FController; }

  // The drain: every tick while running, and between ticks while more is to come.
  void TimerInDataTimer();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateLogView(std::uint64_t capacity);
  void CreateBottomPanel();
  void CreateAddressGroup();
  void CreateViewGroup();
  void CreateFilterGroup();
  void CreateTimers();
  void SetTabOrder();

  void FormCreate();
  void FormDestroy();
  void Btn_StartStopClick();
  void EditIpDropDown();
  void EditIpSelect(int index);
  void TouslesportsClick();
  void PortStartPortEndClick();
  // False when the key's character is discarded before the edit sees it.
  bool StartPortKeyPress(const QKeyEvent& key);
  void ReadLocaleSeparators();

  // What the controller reads and shows.
  TStartTexts StartTexts() const override;
  TDisplayOptions DisplayOptions() const override;
  std::size_t AppendLines(std::span<const std::string> lines) override;
  void ShowRunning(bool running) override;
  void DrainAgain(TNextDrain next) override;
  void ShowError(const std::string& message) override;

  TLogView* Ecr = nullptr;
  QFrame* PanelBottom = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* EditIp = nullptr;
  QRadioButton* Touslesports = nullptr;
  QRadioButton* PortStartPortEnd = nullptr;
  QLineEdit* StartPort = nullptr;
  TUpDown* UpDown1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* EndPort = nullptr;
  TUpDown* UpDown2 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QCheckBox* VoirDate = nullptr;
  QCheckBox* VoirIpPort = nullptr;
  QCheckBox* VoirDrapeaux = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QCheckBox* FiltreURG = nullptr;
  QCheckBox* FiltreACK = nullptr;
  QCheckBox* FiltrePSH = nullptr;
  QCheckBox* FiltreRST = nullptr;
  QCheckBox* FiltreSYN = nullptr;
  QCheckBox* FiltreFIN = nullptr;
  QPushButton* Btn_StartStop = nullptr;
  QTimer* TimerInData = nullptr;
  QTimer* FDrainAgain = nullptr;  // the next slice of a drain, between ticks

  TMainController FController;
};
