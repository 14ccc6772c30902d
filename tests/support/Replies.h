// Reply frames as the controller sends them, built by hand from the wire format.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/LittleEndian.h"
#include "hid/HidTypes.h"

namespace testing_support {

// Boot mode: report ID 0, then 00 05 00 00 and the code; the payload from report byte 19.
inline hid::Frame BootReply(std::uint16_t code, const std::vector<std::uint8_t>& payload = {}) {
  hid::Frame frame{};
  frame[2] = 0x05;
  base::StoreU16(&frame[5], code);
  std::copy(payload.begin(), payload.end(), frame.begin() + 19);
  return frame;
}

// Application mode: report ID 2, then 04 04 00 and the code; the payload from byte 18.
inline hid::Frame AppReply(std::uint16_t code, const std::vector<std::uint8_t>& payload,
                           std::uint8_t reportId = 2) {
  hid::Frame frame{};
  frame[0] = reportId;
  frame[1] = 0x04;
  frame[2] = 0x04;
  base::StoreU16(&frame[4], code);
  std::copy(payload.begin(), payload.end(), frame.begin() + 18);
  return frame;
}

inline std::vector<std::uint8_t> Le16(std::uint16_t value) {
  std::vector<std::uint8_t> bytes(2);
  base::StoreU16(bytes.data(), value);
  return bytes;
}

inline std::vector<std::uint8_t> Le32(std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  base::StoreU32(bytes.data(), value);
  return bytes;
}

// The 8-byte reply to 0x0101: type code, two unused bytes, the version word.
inline std::vector<std::uint8_t> AppInfo(std::uint16_t type, std::uint32_t versionWord) {
  std::vector<std::uint8_t> payload = Le16(type);
  payload.push_back(0);
  payload.push_back(0);
  const auto word = Le32(versionWord);
  payload.insert(payload.end(), word.begin(), word.end());
  return payload;
}

}  // namespace testing_support
