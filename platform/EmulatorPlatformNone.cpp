#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path,
                                                                 const base::DebugSink&) {
  return base::Error{base::ErrorKind::kUnsupported,
                     "this build has no emulator link: cannot reach " + path};
}

}  // namespace platform
