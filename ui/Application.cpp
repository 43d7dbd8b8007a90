#include "ui/Application.h"

#include <QFontDatabase>
#include <QMessageBox>

#include <exception>

#include "ui/PortConversion.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The title of the task-bar entry and of message boxes. Not the display name: Qt would
  // append that to the window's caption.
  setApplicationName(QStringLiteral("Rivezava REV"));
  // Wine's Tahoma stands in for the Windows font where the system lacks one.
  if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowException(QStringLiteral("Unknown exception"));
  }
  return false;
}

std::unique_ptr<QMessageBox> TApplication::CreateExceptionBox(const QString& message) {
  const QString text = QString::fromStdString(WithFinalPeriod(message.toStdString()));
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, applicationName(), text,
                                           QMessageBox::Ok, activeWindow());
  box->setTextFormat(Qt::PlainText);
  return box;
}

void TApplication::ShowException(const QString& message) {
  const std::unique_ptr<QMessageBox> box = CreateExceptionBox(message);
  if (FBoxHook)
    FBoxHook(*box);
  else
    box->exec();
}
