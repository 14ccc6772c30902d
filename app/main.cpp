// The window program `update`.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppIcon.h"
#include "app/UpdateApp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("update"));
  QApplication::setApplicationVersion(QStringLiteral(UPDATE_VERSION));
  QApplication::setWindowIcon(app::ApplicationIcon());

  std::optional<std::string> emulatorVariable;
  if (const char* value = std::getenv(platform::kEmulatorVariable)) {
    emulatorVariable = value;
  }
  const app::CommandLine command =
      app::ParseCommandLine(QApplication::arguments(), emulatorVariable);
  if (command.output) {
    std::fputs(command.output->c_str(), command.exitCode == 0 ? stdout : stderr);
    return command.exitCode;
  }
  app::CUpdateApp theApp(command.options);
  return theApp.InitInstance();
}
