// `devices`: every controller present, with its mode and what it says about itself
// (type and firmware version in application mode, type in boot mode). Each one is
// asked exactly as the window's start-up identification asks it: one query, nothing
// that changes its state.
#pragma once

#include "cli/Command.h"

namespace cli {

class CDevicesCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;
};

}  // namespace cli
