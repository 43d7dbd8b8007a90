#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "ui/MainController.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class TLogView;
class TUpDown;

// The program's one window: the log view above a panel with the interface address, the port
// range, the column and flag check boxes and the Start/Stop button. Its behaviour is the
// controller's; the window composes the controls, reads them and shows what comes back.
class TMainForm : public QWidget {
  Q_OBJECT

 public:
  // The log view's capacity, in characters.
  static constexpr std::uint64_t kLogCapacity = std::uint64_t{1} << 30;

  explicit TMainForm(TCaptureServices services = {}, std::uint64_t log_capacity = kLogCapacity,
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // For tests and benchmarks.
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
  void TouslesportsClick();
  void PortStartPortEndClick();
  // Lets through digits and backspace only; false when the character is discarded.
  bool StartPortKeyPress(QChar key);
  void SetRunning(bool value);
  TStartTexts ReadStartTexts() const;
  TDisplayOptions ReadDisplayOptions() const;
  void ReadLocaleSeparators();
  // Appends the lines, follows the run state, plans the next drain, then shows the error.
  void Show(const TDrainResult& result);

  TLogView* Ecr = nullptr;
  QFrame* PanelBottom = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* EditIp = nullptr;
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
  bool FRunning = true;  // as presented; FormCreate brings it to the stopped state
};
