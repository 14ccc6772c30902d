#include "cli/PlatformChoice.h"

#include "cli/EmulatorConnection.h"
#include "cli/NativePlatform.h"
#include "sim/SimPlatform.h"

namespace cli {

sim::SimConfig SimulatedControllerConfig(const PlatformRequest& request) {
  sim::SimConfig config;
  config.typeCode = 0x600A;
  config.version = 214;
  config.updatedVersion = request.simulatedNewVersion.value_or(215);
  config.updatedBeta = request.simulatedNewBeta.value_or(0);
  // Slow enough to watch: an erase that spans a few reads, a restart that takes a
  // moment, a reply that is not instant.
  config.eraseTime = std::chrono::milliseconds(400);
  config.replyLatency = std::chrono::microseconds(400);
  config.reenumerateDelay = std::chrono::milliseconds(700);
  return config;
}

base::Result<std::shared_ptr<hid::IHidPlatform>> ChoosePlatform(const PlatformRequest& request) {
  if (request.simulate) {
    auto controller = std::make_shared<sim::CSimController>(SimulatedControllerConfig(request));
    return std::shared_ptr<hid::IHidPlatform>(
        std::make_shared<sim::CSimPlatform>(std::move(controller)));
  }
  if (request.emulatorPath) {
    return ConnectEmulator(*request.emulatorPath, request.debug);
  }
  return CreateNativePlatform();
}

}  // namespace cli
