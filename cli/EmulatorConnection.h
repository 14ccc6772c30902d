// The link to an external device emulator, on the systems that have it (its socket is
// a Unix-domain one). One source file per case, chosen by CMake.
#pragma once

#include <memory>
#include <string>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path,
                                                                 base::DebugSink debug);

}  // namespace cli
