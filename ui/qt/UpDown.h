#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// A pair of spin buttons attached to an edit, as the common controls offer them: range 0 to
// 100, step 1, vertical, no wrap-around; the up and down arrow keys in the edit step it too.
// A step takes up the edit's number first when it holds one, then writes the new position
// into the edit as decimal text.
class TUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TUpDown(QWidget* parent = nullptr);

  static constexpr int kMinimum = 0;
  static constexpr int kMaximum = 100;

  void SetAssociate(QLineEdit* edit);
  void StepBy(int steps);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* FUp;
  QToolButton* FDown;
  QLineEdit* FAssociate = nullptr;
  int FPosition = 0;
};
