// CUpdateApp: the program. Reads the command line, builds the way to the device, runs
// the main dialog modally until the user closes it, then ends.
#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "platform/DeviceAccess.h"

namespace app {

struct AppOptions {
  platform::DeviceAccess access;
  std::optional<std::uint16_t> languageId;  // nullopt: the user's UI language
  bool verbose = false;                     // diagnostic lines to the standard error
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

class CUpdateApp {
 public:
  explicit CUpdateApp(AppOptions options) : m_Options(std::move(options)) {}

  // Runs the dialog until it ends; the program's exit code.
  int InitInstance();

 private:
  const AppOptions m_Options;
};

}  // namespace app
