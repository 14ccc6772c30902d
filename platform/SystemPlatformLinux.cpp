#include "hid/linux/LinuxHidPlatform.h"
#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateSystemPlatform(
    const base::DebugSink& debug) {
  hid::LinuxHidOptions options;
  options.debug = debug;
  return hid::CreateLinuxHidPlatform(std::move(options));
}

}  // namespace platform
