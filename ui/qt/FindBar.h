#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The log view's find bar: a text to find, "Respecter la casse", next and previous, and what
// the search found. Enter and Shift+Enter in the text find the next and previous match, Escape
// in any of its controls closes the bar.
class TFindBar : public QWidget {
  Q_OBJECT

 public:
  explicit TFindBar(QWidget* parent);

  QString Text() const;
  bool MatchCase() const;
  void SetStatus(const QString& status);
  QString Status() const;
  // The focus to the text, all of it selected, as a new search begins.
  void Focus();

 signals:
  void Changed();
  void Next();
  void Previous();
  void Closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* FText;
  QCheckBox* FMatchCase;
  QPushButton* FPrevious;
  QPushButton* FNext;
  QLabel* FStatus;
  QToolButton* FClose;
};
