// The program entry: the application with its title, the main window, the message loop.

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "privileges/Privileges.h"
#include "ui/qt/Application.h"
#include "ui/qt/UnitMain.h"

namespace {

// Why no window can be shown, or nullptr when one may.
const char* NoDisplay() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY"))
    return "no display available (DISPLAY is not set): run it in a desktop session, or under "
           "xvfb-run";
  return nullptr;
}

// What Qt says while it opens the display, held back until it is known to have succeeded.
std::string g_held_messages;
std::string g_platform_warning;

// Qt reports a display it cannot reach with a trace and an abort; say it in one line.
void HoldPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const std::string why = g_platform_warning.empty() ? text.toStdString() : g_platform_warning;
    std::fprintf(stderr, "quorvel: no display available (%s)\n", why.c_str());
    std::_Exit(1);
  }
  if (g_platform_warning.empty() && context.category &&
      std::string(context.category).rfind("qt.qpa", 0) == 0)
    g_platform_warning = text.toStdString();
  g_held_messages += text.toStdString() + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  // Qt loads plugins named by the environment: a window holding a right would lend it to any
  // code a user can put in its way. Only the capture helper may hold one.
  if (!DropAllCapabilities()) {
    std::fprintf(stderr, "quorvel: cannot give up the capabilities it was started with\n");
    return 1;
  }
  if (const char* why = NoDisplay()) {
    std::fprintf(stderr, "quorvel: %s\n", why);
    return 1;
  }
  qInstallMessageHandler(HoldPlatformMessages);
  TApplication application(argc, argv);
  qInstallMessageHandler(nullptr);
  std::fputs(g_held_messages.c_str(), stderr);
  TMainForm MainForm;
  MainForm.show();
  return application.exec();
}
