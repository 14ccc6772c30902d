#include "app/UpdateApp.h"

#include <BuildInfo.h>

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLibraryInfo>
#include <cstdio>

#include "app/UpdateDlg.h"
#include "text/LocalizedText.h"
#include "text/UiLanguage.h"

namespace app {

CommandLine ParseCommandLine(const QStringList& arguments,
                             const std::optional<std::string>& emulatorVariable) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Writes new firmware into the Corvane controller through its bootloader."));
  const QCommandLineOption help = parser.addHelpOption();
  // -V as the command line has it: -v is --verbose in both programs.
  const QCommandLineOption version(
      {QStringLiteral("V"), QStringLiteral("version")},
      QStringLiteral("Print the version of the program and of its build, and exit."));
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Use a simulated controller inside the program instead of a device "
                     "(--simulate=N: N of them, the window takes the first)."));
  const QCommandLineOption emulator(
      QStringLiteral("emulator"),
      QStringLiteral("Use the device emulator listening at this socket (also UPDATE_EMULATOR)."),
      QStringLiteral("path"));
  const QCommandLineOption lang(
      QStringLiteral("lang"),
      QStringLiteral("The language of the texts: en or zh, or a locale name such as "
                     "zh_CN.UTF-8 (default: from the locale)."),
      QStringLiteral("lang"));
  const QCommandLineOption language(
      QStringLiteral("language"),
      QStringLiteral("The same as a Windows language id: 2052 gives Chinese, any other "
                     "English."),
      QStringLiteral("id"));
  const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                   QStringLiteral("Write diagnostic lines to the standard error."));
  parser.addOptions({version, simulate, emulator, lang, language, verbose});
  parser.addPositionalArgument(
      QStringLiteral("image"),
      QStringLiteral("A .dat image for the next update, instead of the file dialog."),
      QStringLiteral("[image]"));

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
    result.output = "update: " + parser.errorText().toStdString() + " (see update --help)\n";
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
        std::string("update " UPDATE_VERSION "\nbuild " UPDATE_BUILD ", Qt ") + qVersion() + "\n";
    return result;
  }
  const auto refuse = [&result](const std::string& why) {
    result.output = "update: " + why + "\n";
    result.exitCode = 2;
    return result;
  };

  std::optional<std::string> emulatorPath;
  if (parser.isSet(emulator)) {
    emulatorPath = parser.value(emulator).toStdString();
  }
  if (parser.isSet(simulate) && !simulatedCount) {
    simulatedCount = std::string();
  }
  const auto access = platform::ChooseDeviceAccess(simulatedCount, emulatorPath, emulatorVariable);
  if (!access) {
    return refuse(access.error().message);
  }
  result.options.access = access.value();

  if (parser.isSet(lang)) {
    result.options.languageId = text::LanguageIdFromOption(parser.value(lang).toStdString());
    if (!result.options.languageId) {
      return refuse("--lang " + parser.value(lang).toStdString() +
                    ": give en or zh, or a locale name such as zh_CN.UTF-8");
    }
  }
  if (parser.isSet(language)) {
    bool ok = false;
    const uint id = parser.value(language).toUInt(&ok);
    if (!ok || id > 0xFFFF) {
      return refuse("--language " + parser.value(language).toStdString() +
                    ": give a language id such as 2052 or 1033");
    }
    result.options.languageId = static_cast<std::uint16_t>(id);
  }
  result.options.verbose = parser.isSet(verbose);

  const QStringList images = parser.positionalArguments();
  if (images.size() > 1) {
    return refuse("one image at a time, not " + std::to_string(images.size()));
  }
  if (!images.isEmpty()) {
    const QFileInfo image(images.first());
    if (!image.isFile()) {
      return refuse(images.first().toStdString() + ": no such file");
    }
    result.options.imagePath = image.absoluteFilePath().toStdString();
  }
  return result;
}

std::optional<std::string> MissingDisplay(
    const std::function<std::optional<std::string>(const char*)>& environment) {
#if defined(Q_OS_LINUX)
  const auto set = [&environment](const char* name) {
    const auto value = environment(name);
    return value && !value->empty();
  };
  // A platform chosen by hand (offscreen, vnc, eglfs) needs no display of the desktop.
  if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    return std::string("neither DISPLAY nor WAYLAND_DISPLAY is set");
  }
#else
  (void)environment;
#endif
  return std::nullopt;
}

bool LoadQtTranslations(QTranslator& translator, std::uint16_t languageId) {
  if (languageId != text::kLangChinesePrc) {
    return false;
  }
  return translator.load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath));
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
  if (m_Options.imagePath) {
    dialog.AnswerNextFileDialog(*m_Options.imagePath);
  }
  dialog.exec();
  return 0;
}

}  // namespace app
