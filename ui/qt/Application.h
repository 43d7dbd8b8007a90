#pragma once

#include <QApplication>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QMessageBox;

// The application with its identity on the desktop (its windows' class, its desktop entry, its
// icon) and its default handler: what an event handler raises is shown in a modal box titled
// with the application's title. Handlers catch what they raise and pass it here;
// notify only keeps a last resort, since exceptions must not cross Qt's own frames.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The default handler.
  static void HandleException(const std::exception& error);
  static void ShowException(const std::string& message);

  // The box the default handler shows for `message`: a stop icon, one OK button, the
  // application's title, and the message as BoxText has it.
  static std::unique_ptr<QMessageBox> CreateExceptionBox(const std::string& message);

  // Tests look at the box instead of waiting for a click on it.
  using TBoxHook = std::function<void(QMessageBox&)>;
  void SetBoxHook(TBoxHook hook) { FBoxHook = std::move(hook); }

 private:
  TBoxHook FBoxHook;
};
