// update-cli: the terminal front end. Everything but the process itself lives in
// CliMain, so that tests run the same code in-process.
#include <cstdio>
#include <cstdlib>

#include "base/Wake.h"
#include "cli/CliMain.h"
#include "cli/Messages.h"
#include "base/ProcessConsole.h"
#include "base/Terminal.h"

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kStderr = 2;

}  // namespace

int main(int argc, char** argv) {
  // First: its console handler is asked after the interrupt route's, and its code pages
  // go back after everything else has written.
  base::CProcessConsole process(argc, argv);
  base::CWakeFd interrupt;
  const base::CInterruptRoute route(interrupt);
  cli::CliContext context;
  context.out = &process.Out();
  context.err = &process.Err();
  context.inputFd = kStdin;
  context.inputIsTerminal = base::IsTerminal(kStdin);
  context.outIsTerminal = base::IsTerminal(kStdout);
  context.errIsTerminal = base::IsTerminal(kStderr);
  context.errColumns = [] { return base::TerminalColumns(kStderr); };
  context.environment = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  context.interrupt = &interrupt;
  context.interruptCause = [&route] { return route.LastCause(); };
  context.useMessageLanguage = [](std::uint16_t languageId) {
    cli::UseMessageLanguage(languageId, cli::MessageCatalogDirectory());
  };
  return cli::RunMain(process.Argc(), process.Argv(), context);
}
