#include "hid/emulator/EmulatorPlatform.h"
#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path,
                                                                 const base::DebugSink& debug) {
  hid::emulator::EmulatorOptions options;
  options.debug = debug;
  auto connected = hid::emulator::CEmulatorPlatform::Connect(path, options);
  if (!connected) {
    return connected.error();
  }
  return std::shared_ptr<hid::IHidPlatform>(std::move(connected.value()));
}

}  // namespace platform
