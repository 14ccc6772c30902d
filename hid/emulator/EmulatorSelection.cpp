#include "hid/emulator/EmulatorSelection.h"

#include <cstdlib>

namespace hid::emulator {

std::optional<std::string> SelectEmulatorPath(const std::optional<std::string>& option,
                                              const EnvironmentReader& environment) {
  if (option) {
    return option;
  }
  std::optional<std::string> value = environment(kEmulatorEnvironmentVariable);
  if (!value || value->empty()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> SelectEmulatorPath(const std::optional<std::string>& option) {
  return SelectEmulatorPath(option, [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) {
      return std::nullopt;
    }
    return std::string(value);
  });
}

}  // namespace hid::emulator
