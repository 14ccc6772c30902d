// update-cli: the terminal front end. Everything but the process itself lives in
// CliMain, so that tests run the same code in-process.
#include <unistd.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdlib>
#include <iostream>

#include "base/Wake.h"
#include "cli/CliMain.h"
#include "cli/Messages.h"
#include "cli/Terminal.h"

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The texts are UTF-8 (the Chinese ones too); a console shows them right only when told.
  ::SetConsoleOutputCP(CP_UTF8);
#endif
  base::CWakeFd interrupt;
  const base::CInterruptRoute route(interrupt);
  cli::CliContext context;
  context.out = &std::cout;
  context.err = &std::cerr;
  context.inputFd = STDIN_FILENO;
  context.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
  context.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  context.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  context.errColumns = [] { return cli::TerminalColumns(STDERR_FILENO); };
  context.environment = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  context.interrupt = &interrupt;
  context.interruptCause = [&route] { return route.LastCause(); };
  context.useMessageLanguage = [](std::uint16_t languageId) {
    cli::UseMessageLanguage(languageId, cli::MessageCatalogDirectory());
  };
  return cli::RunMain(argc, argv, context);
}
