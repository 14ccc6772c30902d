// `flash IMAGE [--yes]`: the road a user takes through the window, driven from the
// terminal. The road in the core does everything the device sees: identification at
// start, the boot-mode command (the update button), the notices as the device leaves
// and comes back, and the flashing run in boot mode. This command reads the image, picks
// the controller, asks the question, shows the progress, and says how it ended.
#pragma once

#include <string>

#include "cli/Command.h"
#include "cli/RoadUi.h"

namespace cli {

class CFlashCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_ImagePath;
  FlashFlags m_Flags;
  bool m_All = false;
};

}  // namespace cli
