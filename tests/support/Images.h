// Firmware image files as the tests write them, and the command codes of written frames.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/LittleEndian.h"
#include "firmware/FirmwareHeader.h"

namespace testing_support {

// A header of `type` and version 2.15 announcing `announced` payload bytes (the
// payload's own length unless given), then `payload`.
inline std::vector<std::uint8_t> ImageBytes(const std::vector<std::uint8_t>& payload,
                                            std::uint32_t type = 0x600A,
                                            std::optional<std::uint32_t> announced = {}) {
  firmware::FirmwareHeader header;
  header.version = 215;
  header.firmwareType = type;
  header.payloadLength = announced.value_or(static_cast<std::uint32_t>(payload.size()));
  const auto head = firmware::SerializeFirmwareHeader(header);
  std::vector<std::uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

// `size` bytes that differ from one 46-byte block to the next.
inline std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 251) ^ 0x5C);
  }
  return bytes;
}

// The command code of each frame: bytes 2 and 3, after the report ID and the type.
inline std::vector<std::uint16_t> CodesOf(const std::vector<std::vector<std::uint8_t>>& frames) {
  std::vector<std::uint16_t> codes;
  for (const auto& frame : frames) {
    codes.push_back(base::LoadU16(&frame.at(2)));
  }
  return codes;
}

}  // namespace testing_support
