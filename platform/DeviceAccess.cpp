#include "platform/DeviceAccess.h"

#include <charconv>

namespace platform {
namespace {

std::optional<int> SimulatedCount(const std::string& text) {
  if (text.empty()) {
    return 1;
  }
  int count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || count < 1 ||
      count > kMaxSimulatedControllers) {
    return std::nullopt;
  }
  return count;
}

}  // namespace

base::Result<DeviceAccess> ChooseDeviceAccess(const std::optional<std::string>& simulate,
                                              const std::optional<std::string>& emulatorOption,
                                              const std::optional<std::string>& emulatorVariable) {
  if (simulate && emulatorOption) {
    return base::Error{base::ErrorKind::kInvalidData,
                       "--simulate and --emulator name two devices: choose one"};
  }
  if (simulate) {
    const std::optional<int> count = SimulatedCount(*simulate);
    if (!count) {
      return base::Error{base::ErrorKind::kInvalidData,
                         "--simulate=N takes the number of simulated controllers, 1 to " +
                             std::to_string(kMaxSimulatedControllers) + ", not '" + *simulate +
                             "'"};
    }
    return DeviceAccess{DeviceAccessKind::kSimulated, {}, *count};
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
      return access.simulatedControllers == 1
                 ? "the simulated controller"
                 : std::to_string(access.simulatedControllers) + " simulated controllers";
    case DeviceAccessKind::kEmulator:
      return "the emulator at " + access.emulatorPath;
  }
  return "an unknown device access";
}

}  // namespace platform
