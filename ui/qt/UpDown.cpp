#include "ui/qt/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), FUp(new QToolButton(this)), FDown(new QToolButton(this)) {
  for (QToolButton* button : {FUp, FDown}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
  }
  FUp->setArrowType(Qt::UpArrow);
  FDown->setArrowType(Qt::DownArrow);
  connect(FUp, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(FDown, &QToolButton::clicked, this, [this] { StepBy(-1); });
  setFocusPolicy(Qt::NoFocus);
}

void TUpDown::SetAssociate(QLineEdit* edit) {
  if (FAssociate) FAssociate->removeEventFilter(this);
  FAssociate = edit;
  if (FAssociate) FAssociate->installEventFilter(this);
}

void TUpDown::StepBy(int steps) {
  if (FAssociate) {
    bool number = false;
    const int typed = FAssociate->text().toInt(&number);
    if (number) FPosition = std::clamp(typed, kMinimum, kMaximum);
  }
  FPosition = std::clamp(FPosition + steps, kMinimum, kMaximum);
  if (FAssociate) FAssociate->setText(QString::number(FPosition));
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FAssociate && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
      StepBy(key->key() == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent*) {
  const int half = height() / 2;
  FUp->setGeometry(0, 0, width(), half);
  FDown->setGeometry(0, half, width(), height() - half);
}
