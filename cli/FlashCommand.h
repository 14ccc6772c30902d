// `flash IMAGE [--yes]`: the road a user takes through the window, driven from the
// terminal. The controller object does everything the device sees: identification at
// start, the boot-mode command (the update button), the notices as the device leaves
// and comes back, and the flashing run it starts in boot mode. This command only
// feeds it notices, answers its questions, shows its progress, and says how it ended.
#pragma once

#include <string>

#include "cli/Command.h"

namespace cli {

class CFlashCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_ImagePath;
  bool m_Yes = false;
  bool m_All = false;
};

}  // namespace cli
