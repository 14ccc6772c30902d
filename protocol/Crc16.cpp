#include "protocol/Crc16.h"

namespace protocol {

std::uint16_t Crc16(const std::uint8_t* data, int length) {
  // Bit by bit with a two-entry table: for each bit, least significant first, the low
  // bit of (register ^ byte) decides whether the reflected polynomial goes in after the
  // shift. The byte is XORed into the register's low bits once rather than a bit at a
  // time, which gives the same bits and keeps this cheap: it runs for every block sent.
  static constexpr std::uint16_t kTable[2] = {0x0000, 0xA001};
  unsigned crc = 0xFFFF;
  for (int i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ kTable[crc & 1u];
    }
  }
  return static_cast<std::uint16_t>(crc);
}

}  // namespace protocol
