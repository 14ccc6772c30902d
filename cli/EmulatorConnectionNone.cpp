#include "cli/EmulatorConnection.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string&,
                                                                 base::DebugSink) {
  return base::Error{base::ErrorKind::kUnsupported,
                     "this build has no emulator link (it needs Unix-domain sockets)"};
}

}  // namespace cli
