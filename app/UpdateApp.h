// CUpdateApp: the program. Reads the command line, builds the way to the device, runs
// the main dialog modally until the user closes it, then ends.
#pragma once

#include <QStringList>
#include <QTranslator>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/Error.h"
#include "platform/DeviceAccess.h"

namespace app {

struct AppOptions {
  platform::DeviceAccess access;
  std::optional<std::uint16_t> languageId;  // nullopt: the user's UI language
  bool verbose = false;                     // diagnostic lines to the standard error
  // A .dat image given on the command line (a file manager's "open with"): the next run
  // takes it instead of asking with the file dialog. The full path.
  std::optional<std::string> imagePath;
};

// What the command line asks for: a run with options, or text to print and an exit
// code (help, version, a mistake).
struct CommandLine {
  AppOptions options;
  std::optional<std::string> output;
  int exitCode = 0;
  // An option this program does not know; it may be one of Qt's own (-platform ...),
  // which only the application object takes away.
  bool unknownOption = false;
};

// Parses the arguments (the program name first). emulatorVariable is UPDATE_EMULATOR.
CommandLine ParseCommandLine(const QStringList& arguments,
                             const std::optional<std::string>& emulatorVariable);

// Why the window cannot be shown on this system, before Qt is asked to try (which would
// abort the program): no display named by the environment. nullopt when one may be
// there. environment reads one variable.
std::optional<std::string> MissingDisplay(
    const std::function<std::optional<std::string>(const char*)>& environment);

// Loads Qt's own translations (the buttons of the boxes and the file dialog) for the
// language, where Qt has them: Chinese (PRC) from Debian's qt6-translations-l10n.
// False when there are none to load (English, or the package is missing).
bool LoadQtTranslations(QTranslator& translator, std::uint16_t languageId);

class CUpdateApp {
 public:
  explicit CUpdateApp(AppOptions options) : m_Options(std::move(options)) {}

  // Runs the dialog until it ends; the program's exit code.
  int InitInstance();

 private:
  const AppOptions m_Options;
};

}  // namespace app
