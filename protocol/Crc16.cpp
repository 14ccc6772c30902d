#include "protocol/Crc16.h"

namespace protocol {

std::uint16_t Crc16(const std::uint8_t* data, int length) {
  // Bit by bit with a two-entry table: the low bit of (register ^ byte) decides
  // whether the reflected polynomial goes in after the shift.
  static constexpr std::uint16_t kTable[2] = {0x0000, 0xA001};
  std::uint16_t crc = 0xFFFF;
  for (int i = 0; i < length; ++i) {
    std::uint8_t byte = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const unsigned b = (crc ^ byte) & 1u;
      crc = static_cast<std::uint16_t>((crc >> 1) ^ kTable[b]);
      byte = static_cast<std::uint8_t>(byte >> 1);
    }
  }
  return crc;
}

}  // namespace protocol
