// The window program `update`.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppIcon.h"
#include "app/UpdateApp.h"

namespace {

int Print(const app::CommandLine& command) {
  std::fputs(command.output->c_str(), command.exitCode == 0 ? stdout : stderr);
  return command.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("update"));
  QCoreApplication::setApplicationVersion(QStringLiteral(UPDATE_VERSION));
  std::optional<std::string> emulatorVariable;
  if (const char* value = std::getenv(platform::kEmulatorVariable)) {
    emulatorVariable = value;
  }

  // Help, the version and mistakes in our own options are answered before the window
  // system starts, so that they work without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  app::CommandLine command = app::ParseCommandLine(arguments, emulatorVariable);
  if (command.output && !command.unknownOption) {
    return Print(command);
  }

  QApplication application(argc, argv);
  if (command.output) {
    // Qt has taken its own options away; what is left must be ours.
    command = app::ParseCommandLine(QApplication::arguments(), emulatorVariable);
    if (command.output) {
      return Print(command);
    }
  }
  QApplication::setWindowIcon(app::ApplicationIcon());
  // The window system finds the menu entry, and with it the icon, by this name; Wayland
  // shows no other icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(UPDATE_APP_ID));
  app::CUpdateApp theApp(command.options);
  return theApp.InitInstance();
}
