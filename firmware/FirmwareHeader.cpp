#include "firmware/FirmwareHeader.h"

#include <algorithm>

namespace firmware {
namespace {

std::uint16_t U16(std::span<const std::uint8_t, kHeaderSize> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t U32(std::span<const std::uint8_t, kHeaderSize> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void Put(std::array<std::uint8_t, kHeaderSize>& b, std::size_t at, std::uint32_t value,
         std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

FirmwareHeader ParseFirmwareHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
  FirmwareHeader header;
  header.version = U16(bytes, 0);
  header.beta = U16(bytes, 2);
  header.reservedA = U32(bytes, 4);
  header.payloadLength = U32(bytes, 8);
  header.firmwareType = U32(bytes, 12);
  std::copy(bytes.begin() + 16, bytes.end(), header.reservedB.begin());
  return header;
}

std::array<std::uint8_t, kHeaderSize> SerializeFirmwareHeader(const FirmwareHeader& header) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  Put(bytes, 0, header.version, 2);
  Put(bytes, 2, header.beta, 2);
  Put(bytes, 4, header.reservedA, 4);
  Put(bytes, 8, header.payloadLength, 4);
  Put(bytes, 12, header.firmwareType, 4);
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

std::uint32_t WordSum(const std::uint32_t* words, std::uint32_t count) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    sum += words[i];
  }
  return sum;
}

}  // namespace firmware
