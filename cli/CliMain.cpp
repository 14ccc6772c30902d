#include "cli/CliMain.h"

#include <BuildInfo.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "cli/UsageError.h"
#include "text/UiLanguage.h"

namespace cli {
namespace {

// What must be known before the command line is parsed, as parsing may fail: whether
// the answer is JSON, and the language to say it in. Read from the words themselves.
struct EarlyLook {
  bool json = false;
  std::optional<std::string> lang;
};

EarlyLook LookAtArguments(int argc, const char* const* argv) {
  EarlyLook look;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      break;
    }
    if (word == "--json") {
      look.json = true;
    } else if (word == "--lang" && i + 1 < argc) {
      look.lang = argv[i + 1];
    } else if (word.starts_with("--lang=")) {
      look.lang = std::string(word.substr(7));
    }
  }
  return look;
}

std::string VersionText() {
  return Fmt(Tr("update-cli {0}\nbuild {1}"), {UPDATE_VERSION, UPDATE_BUILD});
}

// The parser's formatter pads the column of options by bytes: a Chinese word there
// ("必需", required) takes fewer columns than it has bytes and would pull its description
// out of line. This one pads by the columns a terminal gives each character.
class CHelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* option, bool positional) const override {
    std::string text = "  " + make_option_name(option, positional) + make_option_opts(option);
    const std::string description = make_option_desc(option);
    const int column = static_cast<int>(get_column_width());
    const int width = DisplayWidth(text);
    if (!description.empty() && width >= column) {
      text += '\n';
      text.append(static_cast<std::size_t>(column), ' ');
    } else {
      text.append(static_cast<std::size_t>(std::max(0, column - width)), ' ');
    }
    for (const char c : description) {
      text += c;
      if (c == '\n') {
        text.append(static_cast<std::size_t>(column), ' ');
      }
    }
    return text + '\n';
  }
};

// The parser's own words in the help, in the messages' language. The placeholders of
// values (PATH, FILE, TEXT...) stay as they are: they name what to type.
void TranslateHelpLabels(CLI::App& app) {
  app.formatter(std::make_shared<CHelpFormatter>());
  const auto formatter = app.get_formatter();
  formatter->label("Usage", Tr("Usage"));
  formatter->label("OPTIONS", Tr("OPTIONS"));
  formatter->label("SUBCOMMAND", Tr("SUBCOMMAND"));
  formatter->label("SUBCOMMANDS", Tr("SUBCOMMANDS"));
  formatter->label("Positionals", Tr("Positionals"));
  formatter->label("REQUIRED", Tr("REQUIRED"));
  formatter->label("Excludes", Tr("Excludes"));
  formatter->label("Needs", Tr("Needs"));
  formatter->label("Env", Tr("Env"));
}

// A command's own help flag, which the parser makes before the command inherits the
// group of its parent's options: put with the command's other options, under the
// translated heading, instead of under an English "Options" of its own.
void GroupHelpFlag(CLI::App& command) {
  if (CLI::Option* help = command.get_help_ptr()) {
    help->group(Tr("Options"));
  }
}

// Returns the --simulate flag, whose count (after "=") lands in simulateCount.
CLI::Option* AddGlobalOptions(CLI::App& app, GlobalOptions& options, std::string& simulateCount) {
  app.set_help_flag("-h,--help", Tr("Print this help message and exit"));
  app.set_version_flag("-V,--version", VersionText(),
                       Tr("Print the version of the program and of its build, and exit"));
  auto* simulate = app.add_flag("--simulate", simulateCount,
                                Tr("Use the simulated controller (application mode, type "
                                   "0x600A, 2.14); --simulate=N: N of them"));
  auto* emulator =
      app.add_option("--emulator", options.emulator,
                     Tr("Reach the controller through an emulator socket (or $UPDATE_EMULATOR)"))
          ->type_name("PATH");
  simulate->excludes(emulator);
  app.add_option("--device", options.device,
                 Tr("Which controller, when several are present (a path from devices)"))
      ->type_name("PATH");
  app.add_flag("--json", options.json,
               Tr("Print one JSON document on stdout (devices, flash, doctor, image inspect, image "
                  "pack)"));
  app.add_flag("-v,--verbose", options.verbose, Tr("Print debug lines on stderr"));
  app.add_option("--trace", options.trace,
                 Tr("Write every frame written and read to FILE, one JSON line each"))
      ->type_name("FILE");
  app.add_option("--lang", options.lang,
                 Tr("Language of the messages: en or zh, or a locale name (default from LANG)"))
      ->type_name("LANG");
  return simulate;
}

}  // namespace

int RunMain(int argc, const char* const* argv, CliContext& context) {
  std::ostream& out = *context.out;
  std::ostream& err = *context.err;

  // The language first: every message from here on is in it, a usage error's too.
  const EarlyLook look = LookAtArguments(argc, argv);
  GlobalOptions early;
  early.lang = look.lang;
  if (context.useMessageLanguage) {
    context.useMessageLanguage(CSession(context, early).LanguageId());
  }

  CLI::App app(
      Tr("Writes new firmware into the Corvane controller through its USB HID bootloader."),
      "update-cli");
  TranslateHelpLabels(app);
  // Global options may come after the command as well: `flash IMAGE --yes --emulator P`.
  app.fallthrough();
  app.require_subcommand(1);
  app.option_defaults()->group(Tr("Options"));
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
  add(app, std::make_unique<CDoctorCommand>());
  CLI::App* image = app.add_subcommand("image", Tr("Inspect or make .dat firmware images"));
  image->require_subcommand(1);
  add(*image, std::make_unique<CImageInspectCommand>());
  add(*image, std::make_unique<CImagePackCommand>());
  // Set after the commands, which would otherwise inherit them.
  app.footer(
      Tr("Exit codes: 0 success, 1 other failure, 2 usage, 3 no controller, 4 permission "
         "denied,\n5 image refused, 6 declined, 7 controller stopped answering, 8 "
         "verification failed,\n9 interrupted, 10 not back in boot mode in time, 11 several "
         "controllers (use --device)."));
  for (CLI::App* sub : {static_cast<CLI::App*>(image), commands[0].first, commands[1].first,
                        commands[2].first, commands[3].first, commands[4].first}) {
    sub->footer(
        Tr("Options for every command (--simulate, --emulator PATH, --device PATH, "
           "--json, --verbose,\n--trace FILE, --lang LANG) and the exit codes: see "
           "update-cli --help."));
    sub->group(Tr("Subcommands"));
    GroupHelpFlag(*sub);
  }

  CommandResult result;
  bool parsed = false;
  try {
    app.parse(argc, argv);
    parsed = true;
  } catch (const CLI::CallForHelp&) {
    // The help of the command named last: the parser hands it down.
    out << app.help() << std::flush;
    return 0;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << '\n' << std::flush;
    return 0;
  } catch (const CLI::ParseError& error) {
    result = Failure(ExitCode::kUsage, DescribeUsageError(app, error));
  }
  if (parsed && options.lang && !text::LanguageIdFromOption(*options.lang)) {
    result = Failure(ExitCode::kUsage,
                     Fmt(Tr("--lang {0}: give en or zh, or a locale name such as zh_CN.UTF-8 (see "
                            "update-cli --help)"),
                         {*options.lang}));
    parsed = false;
  }

  if (parsed) {
    if (simulate->count() > 0) {
      // CLI11 gives a flag without "=N" the value "true": one controller.
      options.simulate = simulateCount == "true" ? std::string() : simulateCount;
    }
    CSession session(context, options);
    result = Failure(ExitCode::kUsage, Tr("no command was run (see update-cli --help)"));
    for (auto& [parser, command] : commands) {
      if (parser->parsed()) {
        result = command->Run(session);
        break;
      }
    }
  }

  if (options.json || look.json) {
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
