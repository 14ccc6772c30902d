// Builds the platform layer for each way of reaching a device.
#include "platform/DeviceAccess.h"
#include "platform/PlatformBackends.h"
#include "sim/SimPlatform.h"

#include <vector>

namespace platform {

sim::SimConfig SimulatedControllerConfig() {
  sim::SimConfig config;
  config.typeCode = 0x600A;
  config.version = 214;
  config.updatedVersion = 215;  // what it runs after an update: the sample image's 2.15
  // Slow enough to watch: an erase that spans a few reads, a restart that takes a
  // moment, a reply that is not instant.
  config.eraseTime = std::chrono::milliseconds(400);
  config.replyLatency = std::chrono::microseconds(400);
  config.reenumerateDelay = std::chrono::milliseconds(700);
  return config;
}

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateHidPlatform(const DeviceAccess& access,
                                                                   const PlatformOptions& options) {
  switch (access.kind) {
    case DeviceAccessKind::kSystem:
      return CreateSystemPlatform(options.debug);
    case DeviceAccessKind::kSimulated: {
      std::vector<std::shared_ptr<sim::CSimController>> controllers;
      for (int i = 0; i < access.simulatedControllers; ++i) {
        controllers.push_back(std::make_shared<sim::CSimController>(
            options.simulated.value_or(SimulatedControllerConfig())));
      }
      return std::shared_ptr<hid::IHidPlatform>(
          std::make_shared<sim::CSimPlatform>(std::move(controllers)));
    }
    case DeviceAccessKind::kEmulator:
      return ConnectEmulator(access.emulatorPath, options.debug);
  }
  return base::Error{base::ErrorKind::kUnsupported, "no such device access"};
}

}  // namespace platform
