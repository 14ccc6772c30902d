#include <gtest/gtest.h>

#include <array>

#include "firmware/FirmwareHeader.h"

namespace {

using firmware::FirmwareHeader;

TEST(FirmwareHeader, FieldsAreLittleEndianAtTheirOffsets) {
  std::array<std::uint8_t, 28> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i + 1);
  }
  const FirmwareHeader header = firmware::ParseFirmwareHeader(bytes);
  EXPECT_EQ(header.version, 0x0201);
  EXPECT_EQ(header.beta, 0x0403);
  EXPECT_EQ(header.reservedA, 0x08070605u);
  EXPECT_EQ(header.payloadLength, 0x0C0B0A09u);
  EXPECT_EQ(header.firmwareType, 0x100F0E0Du);
  EXPECT_EQ(header.reservedB[0], 17);
  EXPECT_EQ(header.reservedB[11], 28);
  EXPECT_EQ(firmware::SerializeFirmwareHeader(header), bytes);
}

TEST(FirmwareHeader, DeviceKindGivesTheExpectedType) {
  EXPECT_EQ(firmware::ExpectedFirmwareType(5), 0x600A);
  EXPECT_EQ(firmware::ExpectedFirmwareType(6), 0x6011);
  for (std::uint16_t kind : {0, 4, 7, 0xFFFF}) {
    EXPECT_EQ(firmware::ExpectedFirmwareType(kind), 0xFFFE) << kind;
  }
}

}  // namespace
