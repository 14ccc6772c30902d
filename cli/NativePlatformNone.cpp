#include "cli/NativePlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateNativePlatform() {
  return base::Error{base::ErrorKind::kUnsupported,
                     "this build has no device link for this system: use --simulate or "
                     "--emulator PATH"};
}

}  // namespace cli
