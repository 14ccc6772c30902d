#include "cli/EmulatorConnection.h"
#include "hid/emulator/EmulatorPlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path,
                                                                 base::DebugSink debug) {
  hid::emulator::EmulatorOptions options;
  options.debug = std::move(debug);
  auto connected = hid::emulator::CEmulatorPlatform::Connect(path, options);
  if (!connected) {
    return connected.error();
  }
  return std::shared_ptr<hid::IHidPlatform>(std::move(connected.value()));
}

}  // namespace cli
