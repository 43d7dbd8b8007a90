#pragma once

#include <QApplication>

#include <functional>
#include <memory>

class QMessageBox;

// The application with its default handler: an exception that leaves an event handler ends
// that handler and is shown in a modal box titled with the application's title.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The box the default handler shows for `message`: a stop icon, one OK button, the
  // application's title, and a final "." where the message calls for one.
  static std::unique_ptr<QMessageBox> CreateExceptionBox(const QString& message);
  void ShowException(const QString& message);

  // Tests look at the box instead of waiting for a click on it.
  using TBoxHook = std::function<void(QMessageBox&)>;
  void SetBoxHook(TBoxHook hook) { FBoxHook = std::move(hook); }

 private:
  TBoxHook FBoxHook;
};
