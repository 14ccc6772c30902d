// The question shown before an update: the image's version beside the device's.
#pragma once

#include <cstdint>
#include <string>

namespace firmware {

// "0x5A5A5A5A": no version has been read from the device since the program started.
inline constexpr std::uint32_t kFirmwareInfoUnread = 0x5A5A5A5A;

// A version in hundredths as the prompt shows it: 215 -> "2.15", 0 -> "0.00".
std::string FormatHundredths(std::uint16_t hundredths);

// One line: "<newFirmware> 1.02 beta3 <andCurrentIs> 1.01\n". A beta suffix appears
// for each side whose beta number is not 0. currentFirmwareInfo holds the device's
// version in its low 16 bits and its beta in the high 16 bits. A version never read
// (kFirmwareInfoUnread) shows as "<newFirmware> 1.02 <andCurrentIsUnknown>\n" where that
// text is given, rather than as the marker's digits.
std::string FormatVersionPrompt(const std::string& newFirmwareText,
                                const std::string& andCurrentIsText, std::uint16_t imageVersion,
                                std::uint16_t imageBeta, std::uint32_t currentFirmwareInfo,
                                const std::string& andCurrentIsUnknownText = {});

}  // namespace firmware
