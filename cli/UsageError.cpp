#include "cli/UsageError.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "cli/Messages.h"

namespace cli {
namespace {

// The deepest command the parser entered: the root, "image", "image pack"...
const CLI::App& CommandOf(const CLI::App& root) {
  const CLI::App* current = &root;
  for (bool deeper = true; deeper;) {
    deeper = false;
    for (const CLI::App* sub : current->get_subcommands({})) {
      if (sub->parsed()) {
        current = sub;
        deeper = true;
        break;
      }
    }
  }
  return *current;
}

// "update-cli image pack".
std::string PathOf(const CLI::App& command) {
  std::string path = command.get_name();
  for (const CLI::App* parent = command.get_parent(); parent != nullptr;
       parent = parent->get_parent()) {
    path = parent->get_name() + " " + path;
  }
  return path;
}

std::string CommandList(const CLI::App& command) {
  std::string list;
  for (const CLI::App* sub : command.get_subcommands({})) {
    list += (list.empty() ? "" : ", ") + sub->get_name();
  }
  return list;
}

// What the parser left over, the first option-like word first: that is what to name.
std::optional<std::string> LeftOver(const CLI::App& root, bool options) {
  for (const std::string& word : root.remaining(true)) {
    const bool option = word.size() > 1 && word[0] == '-';
    if (option == options && word != "--") {
      return word;
    }
  }
  return std::nullopt;
}

// The name a CLI11 message starts with: "IMAGE is required", "--trace: 1 required ...".
std::string NameIn(const std::string& what, const std::string& end) {
  const auto at = what.find(end);
  return at == std::string::npos ? std::string() : what.substr(0, at);
}

}  // namespace

std::string DescribeUsageError(const CLI::App& root, const CLI::ParseError& error) {
  const CLI::App& command = CommandOf(root);
  const std::string path = PathOf(command);
  const bool atRoot = &command == &root;
  const std::string name = atRoot ? path : path.substr(root.get_name().size() + 1);  // "image"
  const std::string what = error.what();
  std::string line;
  if (const auto option = LeftOver(root, true)) {
    line = Fmt(Tr("unknown option {0}"), {*option});
  } else if (const auto word = LeftOver(root, false);
             word && !command.get_subcommands({}).empty() && command.get_subcommands().empty()) {
    line = atRoot ? Fmt(Tr("unknown command \"{0}\": the commands are {1}"),
                        {*word, CommandList(command)})
                  : Fmt(Tr("unknown command \"{0}\": the commands of {1} are {2}"),
                        {*word, name, CommandList(command)});
  } else if (word) {
    line = Fmt(Tr("unexpected argument \"{0}\""), {*word});
  } else if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
             !command.get_subcommands({}).empty() && command.get_subcommands().empty()) {
    line = atRoot ? Fmt(Tr("no command given: the commands are {0}"), {CommandList(command)})
                  : Fmt(Tr("{0} needs a command: {1}"), {name, CommandList(command)});
  } else if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
             !NameIn(what, " is required").empty()) {
    line = atRoot ? Fmt(Tr("{0} is missing"), {NameIn(what, " is required")})
                  : Fmt(Tr("{0} needs {1}"), {name, NameIn(what, " is required")});
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
             !NameIn(what, ":").empty()) {
    line = Fmt(Tr("{0} needs a value"), {NameIn(what, ":")});
  } else if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    line = Tr("--simulate and --emulator exclude each other: give one of them");
  } else {
    line = Fmt(Tr("the command line is wrong: {0}"), {what});
  }
  return Fmt(Tr("{0} (see {1} --help)"), {line, path});
}

}  // namespace cli
