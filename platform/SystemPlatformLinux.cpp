#include "hid/linux/LinuxHidPlatform.h"
#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateSystemPlatform() {
  return hid::CreateLinuxHidPlatform();
}

}  // namespace platform
