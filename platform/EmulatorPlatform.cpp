#include "hid/emulator/EmulatorPlatform.h"
#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path) {
  auto connected = hid::emulator::CEmulatorPlatform::Connect(path);
  if (!connected) {
    return connected.error();
  }
  return std::shared_ptr<hid::IHidPlatform>(std::move(connected.value()));
}

}  // namespace platform
