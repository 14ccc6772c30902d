#include "platform/DeviceAccess.h"

namespace platform {

base::Result<DeviceAccess> ChooseDeviceAccess(bool simulate,
                                              const std::optional<std::string>& emulatorOption,
                                              const std::optional<std::string>& emulatorVariable) {
  if (simulate && emulatorOption) {
    return base::Error{base::ErrorKind::kInvalidData,
                       "--simulate and --emulator name two devices: choose one"};
  }
  if (simulate) {
    return DeviceAccess{DeviceAccessKind::kSimulated, {}};
  }
  if (emulatorOption) {
    if (emulatorOption->empty()) {
      return base::Error{base::ErrorKind::kInvalidData,
                         "--emulator needs the path of the emulator's socket"};
    }
    return DeviceAccess{DeviceAccessKind::kEmulator, *emulatorOption};
  }
  // An empty variable is as good as none: a shell's `UPDATE_EMULATOR= update` unsets it.
  if (emulatorVariable && !emulatorVariable->empty()) {
    return DeviceAccess{DeviceAccessKind::kEmulator, *emulatorVariable};
  }
  return DeviceAccess{};
}

std::string Describe(const DeviceAccess& access) {
  switch (access.kind) {
    case DeviceAccessKind::kSystem:
      return "the system's HID devices";
    case DeviceAccessKind::kSimulated:
      return "the simulated controller";
    case DeviceAccessKind::kEmulator:
      return "the emulator at " + access.emulatorPath;
  }
  return "an unknown device access";
}

}  // namespace platform
