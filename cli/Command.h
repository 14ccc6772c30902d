// One object per command: its name, help and options (registered with the parser,
// the help text next to each option) and what it does. A command never prints its
// failure itself: it returns it, and CliMain turns it into a message and an exit code.
#pragma once

#include "cli/Session.h"

namespace CLI {
class App;
}

namespace cli {

class ICommand {
 public:
  virtual ~ICommand() = default;
  // Adds the command with its options to the parser, under parent; returns its parser.
  virtual CLI::App* Register(CLI::App& parent) = 0;
  virtual CommandResult Run(CSession& session) = 0;
};

}  // namespace cli
