#include "protocol/CommandPacket.h"

#include <algorithm>
#include <cstring>

#include "base/LittleEndian.h"
#include "protocol/Crc16.h"

namespace protocol {
namespace {

int SendShortBootPacket(hid::CHid& link, bool withCrc, const PacketFields& fields) {
  const CommandPacket packet = BuildCommandPacket(kBootPacketType, withCrc, fields);
  return link.WriteReport(packet.data(),
                          static_cast<std::uint8_t>(kPacketHeaderSize + DataCopied(fields)));
}

}  // namespace

std::size_t DataCopied(const PacketFields& fields) {
  return fields.data != nullptr ? std::min<std::uint32_t>(fields.length, kMaxDataLength) : 0;
}

CommandPacket BuildCommandPacket(std::uint8_t type, bool withCrc, const PacketFields& fields) {
  CommandPacket packet{};
  packet[0] = type;
  const std::uint32_t length = std::min<std::uint32_t>(fields.length, kMaxDataLength);
  base::StoreU16(&packet[1], fields.code);
  base::StoreU16(&packet[3], fields.reserved);
  base::StoreU32(&packet[5], length);  // over 5..8: Crc overwrites 7..8 below where it applies
  base::StoreU32(&packet[9], fields.size);
  base::StoreU32(&packet[13], fields.offset);
  const std::size_t copied = DataCopied(fields);
  if (copied > 0) {
    std::memcpy(packet.data() + kPacketHeaderSize, fields.data, copied);
  }
  if (withCrc) {
    base::StoreU16(&packet[7], Crc16(packet.data() + kPacketHeaderSize, static_cast<int>(copied)));
  }
  return packet;
}

int SendAppPacket(hid::CHid& link, const PacketFields& fields) {
  const CommandPacket packet = BuildCommandPacket(kAppPacketType, false, fields);
  // All 64 bytes are handed over; the link sends 0x81 and the first 63 of them.
  return link.WriteAppReport(packet.data(), static_cast<std::uint8_t>(kPacketSize));
}

int SendBootPacket(hid::CHid& link, const PacketFields& fields) {
  return SendShortBootPacket(link, false, fields);
}

int SendBootPacketCrc(hid::CHid& link, const PacketFields& fields) {
  return SendShortBootPacket(link, true, fields);
}

int SendFullBootPacket(hid::CHid& link, const PacketFields& fields) {
  const CommandPacket packet = BuildCommandPacket(kBootPacketType, true, fields);
  return link.WriteReportWithId(packet.data(), 0x00, static_cast<std::uint8_t>(kPacketSize));
}

}  // namespace protocol
