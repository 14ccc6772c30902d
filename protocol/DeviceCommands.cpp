#include "protocol/DeviceCommands.h"

#include <algorithm>
#include <thread>

#include "base/LittleEndian.h"

namespace protocol {
std::array<std::uint8_t, 20> CrcQuery::Serialize() const {
  std::array<std::uint8_t, 20> bytes{};
  base::StoreU32(&bytes[0], rangeOffset);
  base::StoreU32(&bytes[4], rangeLength);
  base::StoreU32(&bytes[8], reserved);
  base::StoreU32(&bytes[12], wordSum);
  base::StoreU32(&bytes[16], regionLength);
  return bytes;
}

const char* ToString(CommandFailure failure) {
  switch (failure) {
    case CommandFailure::kNone:
      return "no failure";
    case CommandFailure::kSendFailed:
      return "the command could not be sent";
    case CommandFailure::kNoReply:
      return "the device did not answer";
    case CommandFailure::kWrongReply:
      return "the device answered with an unexpected reply";
    case CommandFailure::kDeviceGone:
      return "the device went away";
    case CommandFailure::kCancelled:
      return "cancelled";
    case CommandFailure::kGaveUp:
      return "the device did not confirm in time";
  }
  return "unknown failure";
}

CDeviceCommands::CDeviceCommands(hid::CHid& link, CommandOptions options)
    : m_Link(link), m_Options(options) {}

CDeviceCommands::ReadResult CDeviceCommands::ReadReply(bool appMode, std::uint16_t code) {
  m_LastReadStatus = appMode ? m_Link.ReadAppReport(m_Response.data(), kResponseSize)
                             : m_Link.ReadReport(m_Response.data(), kResponseSize);
  if (m_LastReadStatus != hid::kReadOk) {
    return ReadResult::kNoReply;
  }
  const bool passes =
      appMode ? PassesAppCheck(m_Response, code) : PassesBootCheck(m_Response, code);
  return passes ? ReadResult::kAccepted : ReadResult::kRejected;
}

CommandFailure CDeviceCommands::FailureAfterReads(bool anyReply) const {
  if (m_LastReadStatus == hid::kReadDeviceGone) {
    return CommandFailure::kDeviceGone;
  }
  return anyReply ? CommandFailure::kWrongReply : CommandFailure::kNoReply;
}

int CDeviceCommands::QueryWithResends(bool appMode, std::uint16_t code, std::uint8_t* reply,
                                      std::uint32_t wanted) {
  auto command = m_Link.BeginCommand();
  const auto send = [&] {
    // No data, but Length and Size tell the device how many reply bytes are wanted.
    const PacketFields query{.code = code, .length = wanted, .size = wanted};
    return appMode ? SendAppPacket(m_Link, query) : SendBootPacket(m_Link, query);
  };
  (void)send();
  bool anyReply = false;
  for (std::uint8_t attempt = 0; attempt < kQueryAttempts; ++attempt) {
    switch (ReadReply(appMode, code)) {
      case ReadResult::kAccepted:
        CopyPayload(m_Response, reply, wanted);
        m_LastFailure = CommandFailure::kNone;
        return 1;
      case ReadResult::kRejected:
        anyReply = true;
        break;
      case ReadResult::kNoReply:
        // The query may have been lost: ask again at once, also after the last read.
        (void)send();
        break;
    }
  }
  m_LastFailure = FailureAfterReads(anyReply);
  return 0;
}

int CDeviceCommands::QueryAppInfo(std::uint8_t* reply, std::uint32_t wanted) {
  return QueryWithResends(true, kCmdQueryAppInfo, reply, wanted);
}

int CDeviceCommands::EnterBootMode() {
  auto command = m_Link.BeginCommand();
  const int sent = SendAppPacket(m_Link, {.code = kCmdEnterBootMode});
  m_LastFailure = sent != 0 ? CommandFailure::kNone : CommandFailure::kSendFailed;
  return sent;
}

int CDeviceCommands::QueryBootType(std::uint8_t* reply, std::uint32_t wanted) {
  return QueryWithResends(false, kCmdQueryBootType, reply, wanted);
}

bool CDeviceCommands::ExchangeBootCommand(const PacketFields& fields, std::uint8_t* reply,
                                          std::uint32_t wanted, std::uint32_t waitMs) {
  auto command = m_Link.BeginCommand();
  PacketFields sent = fields;
  sent.code &= 0x00FF;
  const std::uint16_t code16 = sent.code;
  (void)SendBootPacket(m_Link, sent);
  if (waitMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  }
  switch (ReadReply(false, code16)) {
    case ReadResult::kAccepted:
      CopyPayload(m_Response, reply, wanted);
      m_LastFailure = CommandFailure::kNone;
      return true;
    case ReadResult::kRejected:
      m_LastFailure = CommandFailure::kWrongReply;
      return false;
    case ReadResult::kNoReply:
      break;
  }
  m_LastFailure = FailureAfterReads(false);
  return false;
}

int CDeviceCommands::EraseRegion(std::uint32_t offset, std::uint32_t size, base::CStopToken stop) {
  auto command = m_Link.BeginCommand();
  if (SendBootPacketCrc(m_Link, {.code = kCmdEraseRegion, .size = size, .offset = offset}) == 0) {
    m_LastFailure = CommandFailure::kSendFailed;
    return 0;
  }
  // An erase takes as long as the flash takes: no count of reads, but a way out when
  // the device is gone, the owner stops the run, or the silence outlasts any erase.
  const auto deadline = std::chrono::steady_clock::now() + m_Options.eraseBound;
  for (;;) {
    const ReadResult result = ReadReply(false, kCmdEraseRegion);
    if (result == ReadResult::kAccepted) {
      m_LastFailure = CommandFailure::kNone;
      return 1;
    }
    if (m_LastReadStatus == hid::kReadDeviceGone || m_LastReadStatus == hid::kReadNotOpen) {
      m_LastFailure = CommandFailure::kDeviceGone;
      return 0;
    }
    if (stop.StopRequested()) {
      m_LastFailure = CommandFailure::kCancelled;
      return 0;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      m_LastFailure = CommandFailure::kGaveUp;
      return 0;
    }
  }
}

int CDeviceCommands::WriteBlock(const std::uint8_t* data, std::uint32_t offset,
                                std::uint32_t length, std::uint32_t size, int flag) {
  auto command = m_Link.BeginCommand();
  const std::uint16_t code = flag != 0 ? kCmdWriteBlock : kCmdWriteBlockPlain;
  (void)SendFullBootPacket(
      m_Link, {.code = code, .length = length, .size = size, .offset = offset, .data = data});
  bool anyReply = false;
  for (std::uint16_t read = 0; read < kWriteBlockReads; ++read) {
    switch (ReadReply(false, code)) {
      case ReadResult::kAccepted:
        m_LastFailure = CommandFailure::kNone;
        return 1;
      case ReadResult::kRejected:
        anyReply = true;
        break;
      case ReadResult::kNoReply:
        if (m_LastReadStatus == hid::kReadDeviceGone) {
          // Twenty more reads of a device that is gone would only delay the verdict.
          m_LastFailure = CommandFailure::kDeviceGone;
          return 0;
        }
        break;
    }
  }
  m_LastFailure = FailureAfterReads(anyReply);
  return 0;
}

int CDeviceCommands::CompleteUpdate() {
  auto command = m_Link.BeginCommand();
  (void)SendBootPacket(m_Link, {.code = kCmdCompleteUpdate});
  switch (ReadReply(false, kCmdCompleteUpdate)) {
    case ReadResult::kAccepted:
      m_LastFailure = CommandFailure::kNone;
      return 1;
    case ReadResult::kRejected:
      m_LastFailure = CommandFailure::kWrongReply;
      return 0;
    case ReadResult::kNoReply:
      break;
  }
  m_LastFailure = FailureAfterReads(false);
  return 0;
}

}  // namespace protocol
