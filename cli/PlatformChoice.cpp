#include "cli/PlatformChoice.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> ChoosePlatform(const PlatformRequest& request) {
  if (request.simulate) {
    return base::Error{base::ErrorKind::kUnsupported,
                       "the simulated controller is not part of this build"};
  }
  if (request.emulatorPath) {
    return base::Error{base::ErrorKind::kUnsupported,
                       "the emulator link is not part of this build"};
  }
  return base::Error{base::ErrorKind::kUnsupported,
                     "this build has no device link for this system; use --simulate"};
}

}  // namespace cli
