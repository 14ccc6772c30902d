// The window program `update`.
#include <BuildInfo.h>

#include <QApplication>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/AppIcon.h"
#include "app/UpdateApp.h"
#include "text/UiLanguage.h"

namespace {

constexpr const char* kNeedsDisplay =
    "update: the window needs a display, and %s: run it in a desktop session (update-cli "
    "does the same on a terminal)\n";

int Print(const app::CommandLine& command) {
  std::fputs(command.output->c_str(), command.exitCode == 0 ? stdout : stderr);
  return command.exitCode;
}

// While the application object starts, Qt's complaint that no platform plugin could be
// started (a DISPLAY that does not answer) is fatal and aborts: said in one line and
// ended with exit code 1 instead. Qt's messages until then are held back: on success
// they are passed on, on failure the one that names the display is the reason. The
// handler is process-wide by nature, and so is what it keeps.
struct StartupMessage {
  QtMsgType type;
  std::string category;
  QString text;
};
std::vector<StartupMessage> g_StartupMessages;

void OnStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    g_StartupMessages.push_back(
        {type, context.category != nullptr ? context.category : "", message});
    return;
  }
  std::string reason = "none could be reached";
  for (const StartupMessage& kept : g_StartupMessages) {
    if (kept.category.starts_with("qt.qpa.xcb") || kept.category.starts_with("qt.qpa.wayland")) {
      reason += " (" + kept.text.toStdString() + ")";  // "could not connect to display :0"
      break;
    }
  }
  std::fprintf(stderr, kNeedsDisplay, reason.c_str());
  std::_Exit(1);
}

void PassOnStartupMessages() {
  qInstallMessageHandler(nullptr);
  for (const StartupMessage& kept : g_StartupMessages) {
    const QByteArray category = QByteArray::fromStdString(kept.category);
    qt_message_output(kept.type, QMessageLogContext(nullptr, 0, nullptr, category.constData()),
                      kept.text);
  }
  g_StartupMessages.clear();
}

bool NamesPlatform(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("update"));
  QCoreApplication::setApplicationVersion(QStringLiteral(UPDATE_VERSION));
  const auto environment = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> emulatorVariable = environment(platform::kEmulatorVariable);

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
  if (const auto missing = app::MissingDisplay(environment);
      missing && !NamesPlatform(argc, argv)) {
    std::fprintf(stderr, kNeedsDisplay, missing->c_str());
    return 1;
  }

  qInstallMessageHandler(OnStartupMessage);
  QApplication application(argc, argv);
  PassOnStartupMessages();
  if (command.output) {
    // Qt has taken its own options away; what is left must be ours.
    command = app::ParseCommandLine(QApplication::arguments(), emulatorVariable);
    if (command.output) {
      return Print(command);
    }
  }
  // Qt's own words (the boxes' and the file dialog's buttons) in the texts' language.
  QTranslator qtTexts;
  if (app::LoadQtTranslations(
          qtTexts, command.options.languageId.value_or(text::GetUserDefaultUILanguage()))) {
    QApplication::installTranslator(&qtTexts);
  }
  QApplication::setWindowIcon(app::ApplicationIcon());
  // The window system finds the menu entry, and with it the icon, by this name; Wayland
  // shows no other icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(UPDATE_APP_ID));
  app::CUpdateApp theApp(command.options);
  return theApp.InitInstance();
}
