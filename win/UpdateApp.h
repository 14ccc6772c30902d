// CUpdateApp on Windows: reads the command line, builds the way to the device, runs
// the main dialog modally until the user closes it, then ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "platform/DeviceAccess.h"

namespace win {

struct AppOptions {
  platform::DeviceAccess access;
  std::optional<std::uint16_t> languageId;  // nullopt: the user's UI language
  bool verbose = false;                     // diagnostic lines to the standard error too
};

// What the command line asks for: a run with options, or a message to show and an exit
// code (help, the version, a mistake, which then names the options).
struct CommandLine {
  AppOptions options;
  std::optional<std::string> message;
  int exitCode = 0;
};

// Parses the arguments, UTF-8, the program name first. emulatorVariable is
// UPDATE_EMULATOR.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::optional<std::string>& emulatorVariable);

// Diagnostic lines go to the debugger output channel, as they always did; with verbose
// also to the standard error, when there is one (a console the program was started
// from, or a redirection).
base::DebugSink DebugSinkFor(bool verbose);

class CUpdateApp {
 public:
  explicit CUpdateApp(AppOptions options) : m_Options(std::move(options)) {}

  // Runs the dialog until it ends; the program's exit code.
  int InitInstance();

 private:
  const AppOptions m_Options;
};

}  // namespace win
