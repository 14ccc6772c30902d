#include "cli/CliMain.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "cli/DevicesCommand.h"
#include "cli/FlashCommand.h"
#include "cli/ImageCommands.h"

namespace cli {
namespace {

constexpr const char* kFooter =
    "Exit codes: 0 success, 1 other failure, 2 usage, 3 no controller, 4 permission denied,\n"
    "5 image refused, 6 declined, 7 controller stopped answering, 8 verification failed,\n"
    "9 interrupted, 10 not back in boot mode in time, 11 several controllers (use --device).";

constexpr const char* kCommandFooter =
    "Options for every command (--simulate, --emulator PATH, --device PATH, --json, --verbose,\n"
    "--trace FILE, --lang LANG) and the exit codes: see update-cli --help.";

// Returns the --simulate flag, whose count (after "=") lands in simulateCount.
CLI::Option* AddGlobalOptions(CLI::App& app, GlobalOptions& options, std::string& simulateCount) {
  auto* simulate = app.add_flag("--simulate", simulateCount,
                                "Use the simulated controller (application mode, type 0x600A, "
                                "2.14); --simulate=N: N of them");
  auto* emulator = app.add_option("--emulator", options.emulator,
                                  "Reach the controller through an emulator socket "
                                  "(or $UPDATE_EMULATOR)")
                       ->type_name("PATH");
  simulate->excludes(emulator);
  app.add_option("--device", options.device,
                 "Which controller, when several are present (a path from devices)")
      ->type_name("PATH");
  app.add_flag("--json", options.json,
               "Print one JSON document on stdout (devices, image inspect, flash)");
  app.add_flag("-v,--verbose", options.verbose, "Print debug lines on stderr");
  app.add_option("--trace", options.trace,
                 "Write every frame written and read to FILE, one JSON line each")
      ->type_name("FILE");
  app.add_option("--lang", options.lang,
                 "Language of the controller's texts: en or zh (default from LANG)")
      ->type_name("LANG");
  return simulate;
}

}  // namespace

int RunMain(int argc, const char* const* argv, CliContext& context) {
  std::ostream& out = *context.out;
  std::ostream& err = *context.err;

  CLI::App app("Writes new firmware into the Corvane controller through its USB HID bootloader.",
               "update-cli");
  // Global options may come after the command as well: `flash IMAGE --yes --emulator P`.
  app.fallthrough();
  app.require_subcommand(1);
  GlobalOptions options;
  std::string simulateCount;
  CLI::Option* simulate = AddGlobalOptions(app, options, simulateCount);

  std::vector<std::pair<CLI::App*, std::unique_ptr<ICommand>>> commands;
  const auto add = [&](CLI::App& parent, std::unique_ptr<ICommand> command) {
    CLI::App* parser = command->Register(parent);
    commands.emplace_back(parser, std::move(command));
  };
  add(app, std::make_unique<CDevicesCommand>());
  add(app, std::make_unique<CFlashCommand>());
  CLI::App* image = app.add_subcommand("image", "Inspect or make .dat firmware images");
  image->require_subcommand(1);
  add(*image, std::make_unique<CImageInspectCommand>());
  add(*image, std::make_unique<CImagePackCommand>());
  // Set after the commands, which would otherwise inherit them.
  app.footer(kFooter);
  for (CLI::App* sub : {static_cast<CLI::App*>(image), commands[0].first, commands[1].first,
                        commands[2].first, commands[3].first}) {
    sub->footer(kCommandFooter);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help is a "parse error" with exit code 0 in CLI11; everything else is usage.
    const int code = app.exit(error, out, err);
    return code == 0 ? 0 : static_cast<int>(ExitCode::kUsage);
  }

  if (simulate->count() > 0) {
    // CLI11 gives a flag without "=N" the value "true": one controller.
    options.simulate = simulateCount == "true" ? std::string() : simulateCount;
  }
  CSession session(context, options);
  CommandResult result = Failure(ExitCode::kUsage, "no command given: see --help");
  for (auto& [parser, command] : commands) {
    if (parser->parsed()) {
      result = command->Run(session);
      break;
    }
  }

  if (options.json) {
    if (!result.document) {
      result.document = Json{{"error",
                              {{"kind", ToName(result.code)},
                               {"exitCode", static_cast<int>(result.code)},
                               {"message", result.message}}}};
    }
    out << JsonText(*result.document, 2) << '\n' << std::flush;
  }
  if (result.code != ExitCode::kSuccess) {
    err << "update-cli: " << result.message << '\n' << std::flush;
  }
  return static_cast<int>(result.code);
}

}  // namespace cli
