#include <windows.h>

#include "text/UiLanguage.h"

namespace text {

std::uint16_t GetUserDefaultUILanguage() {
  return ::GetUserDefaultUILanguage();
}

}  // namespace text
