#include "ui/qt/FindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

TFindBar::TFindBar(QWidget* parent)
    : QWidget(parent),
      FText(new QLineEdit(this)),
      FMatchCase(new QCheckBox(QStringLiteral("Match case"), this)),
      FPrevious(new QToolButton(this)),
      FNext(new QToolButton(this)),
      FStatus(new QLabel(this)),
      FClose(new QToolButton(this)) {
  setObjectName(QStringLiteral("FindBar"));
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Window);
  FText->setObjectName(QStringLiteral("FindText"));
  FText->setPlaceholderText(QStringLiteral("Find"));
  FText->setClearButtonEnabled(true);
  FText->installEventFilter(this);
  FPrevious->setArrowType(Qt::UpArrow);
  FPrevious->setToolTip(QStringLiteral("Previous match (Shift+F3)"));
  FNext->setArrowType(Qt::DownArrow);
  FNext->setToolTip(QStringLiteral("Next match (F3)"));
  FClose->setText(QStringLiteral("\u2715"));
  FClose->setToolTip(QStringLiteral("Close (Escape)"));
  FClose->setAutoRaise(true);
  FStatus->setObjectName(QStringLiteral("FindStatus"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(6);
  layout->addWidget(FText, 2);
  layout->addWidget(FMatchCase);
  layout->addWidget(FPrevious);
  layout->addWidget(FNext);
  layout->addWidget(FStatus, 3);
  layout->addWidget(FClose);
  connect(FText, &QLineEdit::textChanged, this, &TFindBar::Changed);
  connect(FMatchCase, &QCheckBox::toggled, this, &TFindBar::Changed);
  connect(FPrevious, &QToolButton::clicked, this, &TFindBar::Previous);
  connect(FNext, &QToolButton::clicked, this, &TFindBar::Next);
  connect(FClose, &QToolButton::clicked, this, &TFindBar::Closed);
}

QString TFindBar::Text() const {
  return FText->text();
}

bool TFindBar::MatchCase() const {
  return FMatchCase->isChecked();
}

void TFindBar::SetStatus(const QString& status) {
  FStatus->setText(status);
}

QString TFindBar::Status() const {
  return FStatus->text();
}

void TFindBar::Focus() {
  FText->setFocus();
  FText->selectAll();
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FText && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      emit(key->modifiers() & Qt::ShiftModifier) ? Previous() : Next();
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      emit Closed();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
