#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/Crc16.h"

namespace {

std::uint16_t CrcOf(const std::vector<std::uint8_t>& bytes) {
  return protocol::Crc16(bytes.data(), static_cast<int>(bytes.size()));
}

std::uint16_t CrcOf(const std::string& ascii) {
  return CrcOf(std::vector<std::uint8_t>(ascii.begin(), ascii.end()));
}

TEST(Crc16, MatchesPublishedModbusValues) {
  // "123456789" -> 0x4B37 is the check value of CRC-16/MODBUS in the CRC catalogue
  // (Greg Cook's "Catalogue of parametrised CRC algorithms").
  EXPECT_EQ(CrcOf("123456789"), 0x4B37);
  EXPECT_EQ(CrcOf("abc"), 0x5749);
  // Modbus RTU request frames as printed in the Modbus over Serial Line guide and its
  // tutorials: the CRC travels low byte first, "01 03 00 00 00 0A C5 CD" and
  // "11 03 00 6B 00 03 76 87".
  EXPECT_EQ(CrcOf(std::vector<std::uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}), 0xCDC5);
  EXPECT_EQ(CrcOf(std::vector<std::uint8_t>{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}), 0x8776);
  // No bytes, or a negative count: the initial value.
  const std::uint8_t byte = 0x55;
  EXPECT_EQ(protocol::Crc16(nullptr, 0), 0xFFFF);
  EXPECT_EQ(protocol::Crc16(&byte, -5), 0xFFFF);
}

// The definition as the bootloader states it, one bit of the data at a time through the
// two-entry table: the fast form must agree with it for every byte value, at every
// register value the bytes before lead to.
std::uint16_t ByDefinition(const std::vector<std::uint8_t>& bytes) {
  static constexpr std::uint16_t kTable[2] = {0x0000, 0xA001};
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : bytes) {
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc >> 1) ^ kTable[(crc ^ byte) & 1u]);
      byte = static_cast<std::uint8_t>(byte >> 1);
    }
  }
  return crc;
}

TEST(Crc16, AgreesWithTheBitByBitDefinition) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 4096; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(i * 167 + (i >> 8)));
    if (i < 256 || i % 97 == 0) {
      ASSERT_EQ(CrcOf(bytes), ByDefinition(bytes)) << bytes.size() << " bytes";
    }
  }
}

}  // namespace
