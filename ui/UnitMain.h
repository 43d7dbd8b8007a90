#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureLayer.h"
#include "capture/UnitPileTrame.h"
#include "capture/UnitThreadSniffer.h"
#include "ui/LineComposition.h"

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
// range, the column and flag check boxes and the Start/Stop button. Every 500 ms while running
// it moves the captured segments from the queue into the log view.
class TMainForm : public QWidget {
  Q_OBJECT

 public:
  // Makes the capture layer of each capture and of the host-address lookup.
  using TCaptureLayerFactory = std::function<std::unique_ptr<TCaptureLayer>()>;

  // The log view's capacity, in characters.
  static constexpr std::uint64_t kLogCapacity = std::uint64_t{1} << 30;
  static constexpr int kTickMilliseconds = 500;

  explicit TMainForm(TCaptureLayerFactory make_layer = MakePlatformCaptureLayer,
                     std::uint64_t log_capacity = kLogCapacity, QWidget* parent = nullptr);
  ~TMainForm() override;

  // For tests and benchmarks: the queue the captures fill, and whether the window runs.
  const std::shared_ptr<TPileTrameTCP>& Pile() const { return FPile; }
  bool Running() const { return FRunning; }

  // Drains the queue into the log view; the timer calls it every tick while running.
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
  void CreateTimer();
  void SetTabOrder();

  void FormCreate();
  void FormDestroy();
  void Btn_StartStopClick();
  void TouslesportsClick();
  void PortStartPortEndClick();
  // Lets through digits and backspace only; false when the character is discarded.
  bool StartPortKeyPress(QChar key);
  void SetRunning(bool value);
  std::string GetLocalIp();
  TDisplayOptions ReadDisplayOptions() const;
  void ReadLocaleSeparators();
  void StopCapture();

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

  std::shared_ptr<TPileTrameTCP> FPile;
  bool FRunning = false;
  std::shared_ptr<TSnifferControl> FSniffer;  // the capture of the last Start

  TCaptureLayerFactory FMakeLayer;
  // Every capture that may still be running; all are ended when the window goes.
  std::vector<std::shared_ptr<TSnifferControl>> FCaptures;
};
