#include "cli/NativePlatform.h"
#include "hid/linux/LinuxHidPlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateNativePlatform() {
  return hid::CreateLinuxHidPlatform();
}

}  // namespace cli
