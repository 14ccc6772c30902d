#include "protocol/Crc16.h"

namespace protocol {

std::uint16_t Crc16(const std::uint8_t* data, int length) {
  // Bit by bit: for each bit, least significant first, the low bit of (register ^ byte)
  // decides whether the reflected polynomial goes in after the shift, from the two-entry
  // table {0x0000, 0xA001}. Two equivalent steps keep this fast (it runs for every block
  // sent): the byte is XORed into the register's low bits once instead of a bit at a
  // time, and the table entry is made from that bit as a mask (0 - b is all ones when b
  // is 1) rather than loaded, so that no bit waits for a memory read.
  unsigned crc = 0xFFFF;
  for (int i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xA001u & (0u - (crc & 1u)));
    }
  }
  return static_cast<std::uint16_t>(crc);
}

}  // namespace protocol
