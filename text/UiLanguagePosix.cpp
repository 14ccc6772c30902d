#include <cstdlib>

#include "text/UiLanguage.h"

namespace text {

std::uint16_t GetUserDefaultUILanguage() {
  return LanguageIdFromEnvironment([](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) {
      return std::nullopt;
    }
    return std::string(value);
  });
}

}  // namespace text
