// The one place that decides how update-cli reaches a controller: the simulated
// controller in this process (--simulate), an external emulator over its socket
// (--emulator PATH or UPDATE_EMULATOR), or the machine's own HID devices.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"
#include "sim/SimController.h"

namespace cli {

struct PlatformRequest {
  bool simulate = false;
  std::optional<std::string> emulatorPath;  // the option, else the environment
  // The firmware a simulated controller reports after a completed update: the image's,
  // as a real controller reports the version of the firmware it now runs.
  std::optional<std::uint16_t> simulatedNewVersion;
  std::optional<std::uint16_t> simulatedNewBeta;
  base::DebugSink debug;
};

using PlatformFactory =
    std::function<base::Result<std::shared_ptr<hid::IHidPlatform>>(const PlatformRequest&)>;

base::Result<std::shared_ptr<hid::IHidPlatform>> ChoosePlatform(const PlatformRequest& request);

// What --simulate puts on the bus: application mode, type 0x600A, firmware 2.14.
sim::SimConfig SimulatedControllerConfig(const PlatformRequest& request);

}  // namespace cli
