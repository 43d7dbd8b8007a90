#include "ui/qt/FindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "ui/log/LogTexts.h"

TFindBar::TFindBar(QWidget* parent)
    : QWidget(parent),
      FText(new QLineEdit(this)),
      FMatchCase(new QCheckBox(QString::fromUtf8(TLogTexts::kMatchCase), this)),
      FPrevious(new QPushButton(QString::fromUtf8(TLogTexts::kPrevious), this)),
      FNext(new QPushButton(QString::fromUtf8(TLogTexts::kNext), this)),
      FStatus(new QLabel(this)),
      FClose(new QToolButton(this)) {
  setObjectName(QStringLiteral("FindBar"));
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Window);
  FText->setObjectName(QStringLiteral("FindText"));
  FText->setPlaceholderText(QString::fromUtf8(TLogTexts::kFindPlaceholder));
  FText->setClearButtonEnabled(true);
  FMatchCase->setObjectName(QStringLiteral("FindCase"));
  FPrevious->setObjectName(QStringLiteral("FindPrevious"));
  FPrevious->setToolTip(QStringLiteral("Résultat précédent (Maj+F3)"));
  FPrevious->setAutoDefault(false);
  FNext->setObjectName(QStringLiteral("FindNext"));
  FNext->setToolTip(QStringLiteral("Résultat suivant (F3)"));
  FNext->setAutoDefault(false);
  FClose->setObjectName(QStringLiteral("FindClose"));
  FClose->setText(QStringLiteral("\u2715"));
  FClose->setToolTip(QString::fromUtf8(TLogTexts::kClose) + " (Échap)");
  for (QWidget* control : {static_cast<QWidget*>(FText), static_cast<QWidget*>(FMatchCase),
                           static_cast<QWidget*>(FPrevious), static_cast<QWidget*>(FNext),
                           static_cast<QWidget*>(FClose)})
    control->installEventFilter(this);
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
  connect(FPrevious, &QPushButton::clicked, this, &TFindBar::Previous);
  connect(FNext, &QPushButton::clicked, this, &TFindBar::Next);
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
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == FText && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
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
