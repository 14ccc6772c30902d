// Builds the platform layer for each way of reaching a device.
#include "platform/DeviceAccess.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateHidPlatform(const DeviceAccess& access) {
  return base::Error{base::ErrorKind::kUnsupported,
                     Describe(access) + " cannot be reached: this build has no link for it"};
}

}  // namespace platform
