#include "firmware/VersionPrompt.h"

namespace firmware {

std::string FormatHundredths(std::uint16_t hundredths) {
  // Integer arithmetic gives what "%.02f" of hundredths / 100.0 gives, without the
  // process locale turning the point into a comma.
  const unsigned fraction = hundredths % 100u;
  return std::to_string(hundredths / 100u) + (fraction < 10 ? ".0" : ".") +
         std::to_string(fraction);
}

std::string FormatVersionPrompt(const std::string& newFirmwareText,
                                const std::string& andCurrentIsText, std::uint16_t imageVersion,
                                std::uint16_t imageBeta, std::uint32_t currentFirmwareInfo,
                                const std::string& andCurrentIsUnknownText) {
  const auto currentVersion = static_cast<std::uint16_t>(currentFirmwareInfo & 0xFFFFu);
  const auto currentBeta = static_cast<std::uint16_t>(currentFirmwareInfo >> 16);
  std::string line = newFirmwareText + " " + FormatHundredths(imageVersion);
  if (imageBeta != 0) {
    line += " beta" + std::to_string(imageBeta);
  }
  if (currentFirmwareInfo == kFirmwareInfoUnread && !andCurrentIsUnknownText.empty()) {
    return line + " " + andCurrentIsUnknownText + "\n";
  }
  line += " " + andCurrentIsText + " " + FormatHundredths(currentVersion);
  if (currentBeta != 0) {
    line += " beta" + std::to_string(currentBeta);
  }
  return line + "\n";
}

}  // namespace firmware
