#include "ui/qt/Application.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QMessageBox>

#include "ui/DefaultHandler.h"
#include "ui/Layout.h"

namespace {

// The program's icon as installed: from the icon theme, else where it is installed beside the
// executable, else in the build tree.
QIcon ProgramIcon() {
  QIcon icon = QIcon::fromTheme(QStringLiteral("quorvel"));
  if (!icon.isNull()) return icon;
  const QDir bin(QCoreApplication::applicationDirPath());
  for (const char* path :
       {"../share/icons/hicolor/scalable/apps/quorvel.svg", "../data/quorvel.svg"}) {
    const QString file = bin.filePath(QString::fromLatin1(path));
    if (QFileInfo::exists(file)) return QIcon(file);
  }
  return icon;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The class of the program's windows on X11 (WM_CLASS "quorvel", "Quorvel", which the
  // desktop entry's StartupWMClass names) and, on Wayland, the desktop entry they belong to:
  // docks group the window with its entry. Not the display name: Qt would append that to the
  // window's caption.
  setApplicationName(QStringLiteral("Quorvel"));
  setDesktopFileName(QStringLiteral("quorvel"));
  setWindowIcon(ProgramIcon());
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
  auto box =
      std::make_unique<QMessageBox>(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle),
                                    text, QMessageBox::Ok, activeWindow());
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
