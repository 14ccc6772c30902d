#include "update/UserInterface.h"

namespace update {

std::optional<FilterEntry> FirstFilterEntry(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos || bar == 0) {
    return std::nullopt;
  }
  const auto end = filter.find('|', bar + 1);
  const std::string pattern =
      filter.substr(bar + 1, end == std::string::npos ? std::string::npos : end - bar - 1);
  if (pattern.empty()) {
    return std::nullopt;
  }
  return FilterEntry{filter.substr(0, bar), pattern};
}

}  // namespace update
