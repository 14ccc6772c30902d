#include "firmware/FirmwareHeader.h"

#include <algorithm>

#include "base/LittleEndian.h"

namespace firmware {
FirmwareHeader ParseFirmwareHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
  FirmwareHeader header;
  header.version = base::LoadU16(&bytes[0]);
  header.beta = base::LoadU16(&bytes[2]);
  header.reservedA = base::LoadU32(&bytes[4]);
  header.payloadLength = base::LoadU32(&bytes[8]);
  header.firmwareType = base::LoadU32(&bytes[12]);
  std::copy(bytes.begin() + 16, bytes.end(), header.reservedB.begin());
  return header;
}

std::array<std::uint8_t, kHeaderSize> SerializeFirmwareHeader(const FirmwareHeader& header) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  base::StoreU16(&bytes[0], header.version);
  base::StoreU16(&bytes[2], header.beta);
  base::StoreU32(&bytes[4], header.reservedA);
  base::StoreU32(&bytes[8], header.payloadLength);
  base::StoreU32(&bytes[12], header.firmwareType);
  std::copy(header.reservedB.begin(), header.reservedB.end(), bytes.begin() + 16);
  return bytes;
}

std::uint16_t ExpectedFirmwareType(std::uint16_t deviceKind) {
  switch (deviceKind) {
    case 5:
      return kTypeCodeKind5;
    case 6:
      return kTypeCodeKind6;
    default:
      return kTypeCodeUnknown;
  }
}

TypeCheck CheckFirmwareType(const FirmwareHeader& header, std::uint16_t expectedType) {
  if (header.firmwareType > 0xFFFFu) {
    return TypeCheck::kOutOfRange;
  }
  return header.firmwareType == expectedType ? TypeCheck::kMatch : TypeCheck::kMismatch;
}

}  // namespace firmware
