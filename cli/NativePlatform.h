// The machine's own HID devices, on the systems update-cli knows. One source file per
// system, chosen by CMake.
#pragma once

#include <memory>

#include "base/Error.h"
#include "hid/HidPlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateNativePlatform();

}  // namespace cli
