// Which emulator socket, if any, the program talks to instead of the machine's HID
// devices: the value of --emulator PATH when given, else the environment variable
// UPDATE_EMULATOR. Both front ends use this, so that they agree.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace hid::emulator {

inline constexpr const char* kEmulatorEnvironmentVariable = "UPDATE_EMULATOR";

// Returns the value of a variable, or nullopt when it is not set.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;

// The option wins, even when the variable is set. An empty variable counts as not set
// (a shell's `UPDATE_EMULATOR= update` turns the emulator off); an empty option is
// returned as given, so that connecting to it fails with a clear error.
std::optional<std::string> SelectEmulatorPath(const std::optional<std::string>& option,
                                              const EnvironmentReader& environment);

// The same with the process environment.
std::optional<std::string> SelectEmulatorPath(const std::optional<std::string>& option);

}  // namespace hid::emulator
