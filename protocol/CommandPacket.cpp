#include "protocol/CommandPacket.h"

#include <algorithm>
#include <cstring>

#include "base/LittleEndian.h"
#include "protocol/Crc16.h"

namespace protocol {
CommandPacket BuildCommandPacket(const PacketFields& fields, std::size_t* dataCopied) {
  CommandPacket packet{};
  packet[0] = fields.type;
  const std::uint32_t length = std::min<std::uint32_t>(fields.length, kMaxDataLength);
  base::StoreU16(&packet[1], fields.code);
  base::StoreU16(&packet[3], fields.reserved);
  base::StoreU32(&packet[5], length);  // over 5..8: Crc overwrites 7..8 below where it applies
  base::StoreU32(&packet[9], fields.size);
  base::StoreU32(&packet[13], fields.offset);
  std::size_t copied = 0;
  if (fields.data != nullptr) {
    std::memcpy(packet.data() + kPacketHeaderSize, fields.data, length);
    copied = length;
  }
  if (fields.withCrc) {
    base::StoreU16(&packet[7], Crc16(packet.data() + kPacketHeaderSize, static_cast<int>(copied)));
  }
  if (dataCopied != nullptr) {
    *dataCopied = copied;
  }
  return packet;
}

int SendAppPacket(hid::CHid& link, const std::uint8_t* data, std::uint32_t length,
                  std::uint32_t offset, std::uint32_t size, std::uint16_t code,
                  std::uint16_t reserved) {
  const CommandPacket packet =
      BuildCommandPacket({kAppPacketType, code, reserved, data, length, offset, size, false});
  // All 64 bytes are handed over; the link sends 0x81 and the first 63 of them.
  return link.WriteAppReport(packet.data(), static_cast<std::uint8_t>(kPacketSize));
}

namespace {

int SendShortBootPacket(hid::CHid& link, const PacketFields& fields) {
  std::size_t copied = 0;
  const CommandPacket packet = BuildCommandPacket(fields, &copied);
  return link.WriteReport(packet.data(), static_cast<std::uint8_t>(kPacketHeaderSize + copied));
}

}  // namespace

int SendBootPacket(hid::CHid& link, const std::uint8_t* data, std::uint32_t length,
                   std::uint32_t offset, std::uint32_t size, std::uint16_t code,
                   std::uint16_t reserved) {
  return SendShortBootPacket(link,
                             {kBootPacketType, code, reserved, data, length, offset, size, false});
}

int SendBootPacketCrc(hid::CHid& link, const std::uint8_t* data, std::uint32_t length,
                      std::uint32_t offset, std::uint32_t size, std::uint16_t code,
                      std::uint16_t reserved) {
  return SendShortBootPacket(link,
                             {kBootPacketType, code, reserved, data, length, offset, size, true});
}

int SendFullBootPacket(hid::CHid& link, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t offset, std::uint32_t size, std::uint16_t code,
                       std::uint16_t reserved) {
  const CommandPacket packet =
      BuildCommandPacket({kBootPacketType, code, reserved, data, length, offset, size, true});
  return link.WriteReportWithId(packet.data(), 0x00, static_cast<std::uint8_t>(kPacketSize));
}

}  // namespace protocol
