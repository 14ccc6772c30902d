// The firmware image (.dat): a 28-byte header, then the payload the bootloader
// receives, then possibly bytes that are not part of it. Little-endian throughout.
//
//   0   u16  version        hundredths: 102 is 1.02
//   2   u16  beta           0 for a release
//   4   u32  reservedA
//   8   u32  payloadLength  payload bytes after the header
//   12  u32  firmwareType   type code of the device the image is built for
//   16  12   reservedB
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace firmware {

inline constexpr std::size_t kHeaderSize = 28;

struct FirmwareHeader {
  std::uint16_t version = 0;
  std::uint16_t beta = 0;
  std::uint32_t reservedA = 0;
  std::uint32_t payloadLength = 0;
  std::uint32_t firmwareType = 0;
  std::array<std::uint8_t, 12> reservedB{};

  bool operator==(const FirmwareHeader&) const = default;
};

FirmwareHeader ParseFirmwareHeader(std::span<const std::uint8_t, kHeaderSize> bytes);
std::array<std::uint8_t, kHeaderSize> SerializeFirmwareHeader(const FirmwareHeader& header);

// The device type codes the controller reports, and the DeviceKind each one gives.
inline constexpr std::uint16_t kTypeCodeKind5 = 0x600A;
inline constexpr std::uint16_t kTypeCodeKind6 = 0x6011;
inline constexpr std::uint16_t kTypeCodeUnknown = 0xFFFE;  // matches no image built for us

// The image type a device of this DeviceKind takes: 5 -> 0x600A, 6 -> 0x6011, else 0xFFFE.
std::uint16_t ExpectedFirmwareType(std::uint16_t deviceKind);

enum class TypeCheck {
  kMatch,
  kOutOfRange,  // bits above the low 16 are set: no device type code looks like that
  kMismatch,    // built for another device
};

// The whole 32-bit field is compared with the 16-bit code widened with zeros.
TypeCheck CheckFirmwareType(const FirmwareHeader& header, std::uint16_t expectedType);

}  // namespace firmware
