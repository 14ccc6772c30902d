// The backends this build has, each in a source file that CMake picks for the system.
#pragma once

#include <memory>
#include <string>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"

namespace platform {

// The machine's own HID devices, or kUnsupported where this build has no link for them.
// debug receives the link's own diagnostic lines (how it hears of devices).
base::Result<std::shared_ptr<hid::IHidPlatform>> CreateSystemPlatform(const base::DebugSink& debug);

// Connects to the emulator listening at path, or says why not.
base::Result<std::shared_ptr<hid::IHidPlatform>> ConnectEmulator(const std::string& path,
                                                                 const base::DebugSink& debug);

}  // namespace platform
