// Which controller a command works on when several may be present. The choice is made
// once, by ChooseControllers; the chosen one is then reached through a platform that
// hides the other controllers' interfaces from everything above it
// (hid::CDeviceFilterPlatform).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/Session.h"
#include "hid/HidPlatform.h"

namespace cli {

enum class HowMany {
  kEvery,    // each one present, or the one --device names (devices)
  kOnlyOne,  // the only one present, or the one --device names; several is an error (flash)
};

struct ControllerChoice {
  std::vector<hid::InterfaceInfo> present;  // every controller the platform lists
  std::vector<hid::InterfaceInfo> chosen;   // those the command works on, in that order

  // The platform on which `path` is the only controller: the others hidden.
  std::shared_ptr<hid::IHidPlatform> Alone(std::shared_ptr<hid::IHidPlatform> platform,
                                           const std::string& path) const;
};

// The controllers present now, and those a command works on: with --device (`wanted`)
// the one at that path, else as howMany says. Fails with no-device when none is present
// or none is at `wanted` (naming those present), and with several-devices when
// kOnlyOne finds more than one and no --device.
std::variant<ControllerChoice, CommandResult> ChooseControllers(
    hid::IHidPlatform& platform, const std::optional<std::string>& wanted, HowMany howMany);

}  // namespace cli
