// CRC-16 as the controller's bootloader computes it: the MODBUS form (polynomial
// 0x8005 reflected as 0xA001, initial value 0xFFFF, no final XOR).
#pragma once

#include <cstdint>

namespace protocol {

// A length of 0 or less gives 0xFFFF.
std::uint16_t Crc16(const std::uint8_t* data, int length);

}  // namespace protocol
