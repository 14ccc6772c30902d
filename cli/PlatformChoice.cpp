#include "cli/PlatformChoice.h"

#include "platform/DeviceAccess.h"

namespace cli {

sim::SimConfig SimulatedControllerConfig(const PlatformRequest& request) {
  sim::SimConfig config = platform::SimulatedControllerConfig();
  // After an update a real controller reports the version of the firmware it now runs:
  // the image's.
  config.updatedVersion = request.simulatedNewVersion.value_or(config.updatedVersion);
  config.updatedBeta = request.simulatedNewBeta.value_or(config.updatedBeta);
  return config;
}

base::Result<std::shared_ptr<hid::IHidPlatform>> ChoosePlatform(const PlatformRequest& request) {
  platform::DeviceAccess access;
  if (request.simulate) {
    access.kind = platform::DeviceAccessKind::kSimulated;
  } else if (request.emulatorPath) {
    access.kind = platform::DeviceAccessKind::kEmulator;
    access.emulatorPath = *request.emulatorPath;
  }
  return platform::CreateHidPlatform(access, {SimulatedControllerConfig(request), request.debug});
}

}  // namespace cli
