#include "firmware/ImageText.h"

#include <cstdio>

#include "firmware/VersionPrompt.h"

namespace firmware {

std::optional<std::uint16_t> ParseTypeCode(const std::string& text) {
  if (text.empty()) {
    return std::nullopt;
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 5) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> ParseBeta(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> ParseVersion(const std::string& text) {
  const auto point = text.find('.');
  if (point == std::string::npos || point == 0 || point > 3 || text.size() != point + 3) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == point) {
      continue;
    }
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  if (value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string FormatTypeCode(std::uint32_t type) {
  char text[16];
  std::snprintf(text, sizeof text, type > 0xFFFF ? "0x%08X" : "0x%04X", type);
  return text;
}

std::string FormatVersion(std::uint16_t hundredths, std::uint16_t beta) {
  std::string text = FormatHundredths(hundredths);
  if (beta != 0) {
    text += " beta" + std::to_string(beta);
  }
  return text;
}

}  // namespace firmware
