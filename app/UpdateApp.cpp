#include "app/UpdateApp.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

#include "app/UpdateDlg.h"

namespace app {

CommandLine ParseCommandLine(const QStringList& arguments,
                             const std::optional<std::string>& emulatorVariable) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Writes new firmware into the Corvane controller through its bootloader."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Use a simulated controller inside the program instead of a device "
                     "(--simulate=N: N of them, the window takes the first)."));
  const QCommandLineOption emulator(
      QStringLiteral("emulator"),
      QStringLiteral("Use the device emulator listening at this socket (also UPDATE_EMULATOR)."),
      QStringLiteral("path"));
  const QCommandLineOption language(
      QStringLiteral("language"),
      QStringLiteral("Show the texts as for this Windows language id: 2052 gives Chinese, "
                     "any other English (default: from the locale)."),
      QStringLiteral("id"));
  const QCommandLineOption verbose(QStringLiteral("verbose"),
                                   QStringLiteral("Write diagnostic lines to the standard error."));
  parser.addOptions({simulate, emulator, language, verbose});

  // --simulate=N carries a value that a flag of QCommandLineParser cannot take: the
  // count is taken out before it parses.
  QStringList rest;
  std::optional<std::string> simulatedCount;
  for (const QString& argument : arguments) {
    if (argument.startsWith(QStringLiteral("--simulate="))) {
      simulatedCount = argument.mid(11).toStdString();
    } else {
      rest << argument;
    }
  }

  CommandLine result;
  if (!parser.parse(rest)) {
    result.output = parser.errorText().toStdString() + "\n";
    result.exitCode = 2;
    result.unknownOption = !parser.unknownOptionNames().isEmpty();
    return result;
  }
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    // The help is answered before any application object exists, and without one Qt
    // writes "<executable_name>" where the program's name belongs. --help-all gets the
    // same text rather than a window: only a parser with an application object can list
    // Qt's own options (-platform, -style, ...).
    result.output =
        parser.helpText()
            .replace(QStringLiteral("<executable_name>"), QFileInfo(arguments.value(0)).fileName())
            .toStdString();
    return result;
  }
  if (parser.isSet(version)) {
    result.output =
        QStringLiteral("%1 %2\n")
            .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion())
            .toStdString();
    return result;
  }

  std::optional<std::string> emulatorPath;
  if (parser.isSet(emulator)) {
    emulatorPath = parser.value(emulator).toStdString();
  }
  if (parser.isSet(simulate) && !simulatedCount) {
    simulatedCount = std::string();
  }
  const auto access = platform::ChooseDeviceAccess(simulatedCount, emulatorPath, emulatorVariable);
  if (!access) {
    result.output = access.error().message + "\n";
    result.exitCode = 2;
    return result;
  }
  result.options.access = access.value();

  if (parser.isSet(language)) {
    bool ok = false;
    const uint id = parser.value(language).toUInt(&ok);
    if (!ok || id > 0xFFFF) {
      result.output = "--language needs a language id such as 2052 or 1033\n";
      result.exitCode = 2;
      return result;
    }
    result.options.languageId = static_cast<std::uint16_t>(id);
  }
  result.options.verbose = parser.isSet(verbose);
  return result;
}

int CUpdateApp::InitInstance() {
  auto platform = platform::CreateHidPlatform(m_Options.access);
  if (!platform) {
    std::fprintf(stderr, "update: %s\n", platform.error().message.c_str());
    return 1;
  }
  DialogOptions options;
  options.languageId = m_Options.languageId;
  if (m_Options.verbose) {
    // One line per event; the link's lines end with their own line break, the title
    // written at a removal has none.
    options.debug = [](std::string_view line) {
      std::fwrite(line.data(), 1, line.size(), stderr);
      if (line.empty() || line.back() != '\n') {
        std::fputc('\n', stderr);
      }
    };
  }
  // The dialog lives exactly as long as its modal run; its result is not used.
  CUpdateDlg dialog(platform.value(), std::move(options));
  dialog.exec();
  return 0;
}

}  // namespace app
