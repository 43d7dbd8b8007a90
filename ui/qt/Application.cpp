#include "ui/qt/Application.h"

#include <QFontDatabase>
#include <QMessageBox>

#include "ui/DefaultHandler.h"
#include "ui/Layout.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The title of the task-bar entry and of message boxes. Not the display name: Qt would
  // append that to the window's caption.
  setApplicationName(QString::fromLatin1(kApplicationTitle));
  // Wine's Tahoma stands in for the Windows font where the system lacks one.
  if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    HandleException(error);
  } catch (...) {
    ShowException("Unknown exception");
  }
  return false;
}

void TApplication::HandleException(const std::exception& error) {
  ShowException(MessageOf(error));
}

std::unique_ptr<QMessageBox> TApplication::CreateExceptionBox(const std::string& message) {
  const QString text =
      QString::fromStdU16String(BoxText(QString::fromStdString(message).toStdU16String()));
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, applicationName(), text,
                                           QMessageBox::Ok, activeWindow());
  box->setTextFormat(Qt::PlainText);
  return box;
}

void TApplication::ShowException(const std::string& message) {
  const std::unique_ptr<QMessageBox> box = CreateExceptionBox(message);
  auto* application = qobject_cast<TApplication*>(qApp);
  if (application && application->FBoxHook)
    application->FBoxHook(*box);
  else
    box->exec();
}
