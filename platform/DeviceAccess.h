// How a front end reaches a device: the real HID link of this system, the simulated
// controller inside the process, or an external device emulator over a socket. This is
// the one place that decides it: the window and the command line both hand their
// options and the environment's UPDATE_EMULATOR to ChooseDeviceAccess and build the
// platform layer here, so that they agree on the rules.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"
#include "sim/SimController.h"

namespace platform {

enum class DeviceAccessKind {
  kSystem,     // the operating system's HID devices (hidraw on Linux, SetupDi on Windows)
  kSimulated,  // the simulated controller, in application mode, inside this process
  kEmulator,   // an external emulator listening on a Unix socket
};

struct DeviceAccess {
  DeviceAccessKind kind = DeviceAccessKind::kSystem;
  std::string emulatorPath;      // the socket, for kEmulator
  int simulatedControllers = 1;  // for kSimulated: each at a place of its own

  bool operator==(const DeviceAccess&) const = default;
};

// The environment variable that names an emulator's socket when no option does.
inline constexpr const char* kEmulatorVariable = "UPDATE_EMULATOR";

// The most simulated controllers --simulate=N puts on the bus: a hub's worth and more.
inline constexpr int kMaxSimulatedControllers = 64;

// Decides from what the user asked: --simulate (`simulate` holds what followed its "=",
// empty for none: one controller; nullopt when it was not given), --emulator PATH, else
// a non-empty UPDATE_EMULATOR, else the system's devices. Asking for both a simulation
// and an emulator, an emulator without a path, or a count that is not a whole number
// from 1 to kMaxSimulatedControllers is an error that names the options.
base::Result<DeviceAccess> ChooseDeviceAccess(const std::optional<std::string>& simulate,
                                              const std::optional<std::string>& emulatorOption,
                                              const std::optional<std::string>& emulatorVariable);

// Settings a front end may give the platform it builds.
struct PlatformOptions {
  std::optional<sim::SimConfig> simulated;  // empty: SimulatedControllerConfig()
  base::DebugSink debug;                    // the emulator link's diagnostic lines
};

// Builds the platform layer the choice names. The emulator link connects here and
// fails with the reason when nothing listens at the path.
base::Result<std::shared_ptr<hid::IHidPlatform>> CreateHidPlatform(
    const DeviceAccess& access, const PlatformOptions& options = {});

// What --simulate puts on the bus, once per controller asked for: a controller in
// application mode, type 0x600A, firmware 2.14, which reports 2.15 after an update.
sim::SimConfig SimulatedControllerConfig();

// "the system's HID devices", "the simulated controller", "the emulator at PATH".
std::string Describe(const DeviceAccess& access);

}  // namespace platform
