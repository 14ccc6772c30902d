#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateSystemPlatform(const base::DebugSink&) {
  return base::Error{base::ErrorKind::kUnsupported,
                     "this build has no device link for this system: use --simulate or "
                     "--emulator PATH"};
}

}  // namespace platform
