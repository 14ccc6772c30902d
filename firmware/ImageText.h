// The text forms of an image header's fields, as people type and read them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace firmware {

// "0x600A" or "24586": a 16-bit device type code.
std::optional<std::uint16_t> ParseTypeCode(const std::string& text);
// "0" to "65535": a beta number.
std::optional<std::uint16_t> ParseBeta(const std::string& text);
// "2.15" (one to three digits, a point, exactly two digits) in hundredths: 215.
std::optional<std::uint16_t> ParseVersion(const std::string& text);
// "0x600A"; a value above 16 bits in eight digits. Also for any 16-bit value (a CRC-16).
std::string FormatTypeCode(std::uint32_t type);
// "2.15", or "2.15 beta3".
std::string FormatVersion(std::uint16_t hundredths, std::uint16_t beta);

}  // namespace firmware
