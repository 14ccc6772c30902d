// The 64-byte command packet every request to the controller travels in, and the four
// ways of sending it. Application-mode packets (type 4) go out with report ID 0x81;
// boot-mode packets (type 5) with report ID 0x00. All fields are little-endian.
//
//   0      Type       4 = application mode, 5 = boot mode
//   1..2   Code       command code
//   3..4   Reserved   0 in every command
//   5..6   Length     data bytes, 0..46 (stored over 5..8 as a 32-bit value)
//   7..8   Crc        Crc16 of the data in the CRC variants, else 0
//   9..12  Size       byte-count argument
//   13..16 Offset     offset argument
//   17..62 Data       up to 46 bytes, then zeros
//   63     always 0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hid/Hid.h"

namespace protocol {

inline constexpr std::size_t kPacketSize = 64;
inline constexpr std::size_t kPacketHeaderSize = 17;
inline constexpr std::size_t kMaxDataLength = 46;
inline constexpr std::uint8_t kAppPacketType = 4;
inline constexpr std::uint8_t kBootPacketType = 5;

using CommandPacket = std::array<std::uint8_t, kPacketSize>;

// The fields a command fills in, named as in the packet and declared in its order, so
// that a call names each one it sets and leaves the rest 0:
//   SendBootPacketCrc(link, {.code = kCmdEraseRegion, .size = regionLength})
// Type and Crc are not among them: the send operation chosen decides both.
struct PacketFields {
  std::uint16_t code = 0;
  std::uint16_t reserved = 0;  // 0 in every command
  std::uint32_t length = 0;    // data bytes, cut to 46; stored even when data is null
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
  const std::uint8_t* data = nullptr;  // may be null: nothing is copied
};

// The number of data bytes a packet carries: the length cut to 46, or 0 without data.
std::size_t DataCopied(const PacketFields& fields);

// A packet built afresh from zero, of the given type (4 or 5). withCrc stores Crc16 of
// the copied data in Crc (0xFFFF when none is copied).
CommandPacket BuildCommandPacket(std::uint8_t type, bool withCrc, const PacketFields& fields);

// The four send operations. Each returns the link's write result: non-zero when the
// report was written, 0 when the link is not open or the write failed (the link keeps
// the reason: CHid::LastIoError).
//
// SendAppPacket: type 4, all 64 bytes to WriteAppReport; the wire sees 0x81 and packet
//   bytes 0..62.
// SendBootPacket / SendBootPacketCrc: type 5, the first 17 + n bytes to WriteReport;
//   the rest of the 65-byte report is what the transmit buffer held.
// SendFullBootPacket: type 5 with Crc, all 64 bytes to WriteReportWithId(0x00).
int SendAppPacket(hid::CHid& link, const PacketFields& fields);
int SendBootPacket(hid::CHid& link, const PacketFields& fields);
int SendBootPacketCrc(hid::CHid& link, const PacketFields& fields);
int SendFullBootPacket(hid::CHid& link, const PacketFields& fields);

}  // namespace protocol
