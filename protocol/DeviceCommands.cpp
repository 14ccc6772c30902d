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

CDeviceCommands::CDeviceCommands(hid::CHid& link, CommandOptions options)
    : m_Link(link), m_Options(options) {}

std::unique_lock<std::mutex> CDeviceCommands::Begin() {
  auto command = m_Link.BeginCommand();
  m_SendError.reset();
  m_LastReadStatus = hid::kReadOk;
  m_ReadError.reset();
  return command;
}

int CDeviceCommands::NoteSend(int sent) {
  m_SendError = sent != 0 ? std::nullopt : m_Link.LastIoError();
  if (sent == 0 && !m_SendError) {
    m_SendError = base::Error{base::ErrorKind::kIo, "write: failed"};
  }
  return sent;
}

CDeviceCommands::Reply CDeviceCommands::ReadReply(bool appMode, std::uint16_t code) {
  m_LastReadStatus = appMode ? m_Link.ReadAppReport(m_Response.data(), kResponseSize)
                             : m_Link.ReadReport(m_Response.data(), kResponseSize);
  if (m_LastReadStatus != hid::kReadOk) {
    m_ReadError = m_Link.LastIoError();
    return Reply::kNone;
  }
  const bool passes =
      appMode ? PassesAppCheck(m_Response, code) : PassesBootCheck(m_Response, code);
  return passes ? Reply::kAccepted : Reply::kRejected;
}

int CDeviceCommands::Succeed() {
  m_LastError.reset();
  return 1;
}

int CDeviceCommands::Fail(base::Error reason) {
  m_LastError = std::move(reason);
  return 0;
}

base::Error CDeviceCommands::FailureAfterReads(bool anyReply) const {
  if (m_SendError) {
    return *m_SendError;  // the device never had the command: nothing else matters
  }
  const bool gone = m_LastReadStatus == hid::kReadDeviceGone;
  const bool silent = m_LastReadStatus == hid::kReadOk || m_LastReadStatus == hid::kReadTimeout;
  if (m_ReadError && (gone || (!anyReply && !silent))) {
    return *m_ReadError;
  }
  if (anyReply) {
    return {base::ErrorKind::kInvalidData, "the device answered with an unexpected reply"};
  }
  return {base::ErrorKind::kTimedOut, "the device did not answer"};
}

int CDeviceCommands::QueryWithResends(bool appMode, std::uint16_t code, std::uint8_t* reply,
                                      std::uint32_t wanted) {
  auto command = Begin();
  const auto send = [&] {
    // No data, but Length and Size tell the device how many reply bytes are wanted.
    const PacketFields query{.code = code, .length = wanted, .size = wanted};
    return NoteSend(appMode ? SendAppPacket(m_Link, query) : SendBootPacket(m_Link, query));
  };
  (void)send();
  bool anyReply = false;
  for (std::uint8_t attempt = 0; attempt < kQueryAttempts; ++attempt) {
    switch (ReadReply(appMode, code)) {
      case Reply::kAccepted:
        CopyPayload(m_Response, reply, wanted);
        return Succeed();
      case Reply::kRejected:
        anyReply = true;
        break;
      case Reply::kNone:
        // The query may have been lost: ask again at once, also after the last read.
        (void)send();
        break;
    }
  }
  return Fail(FailureAfterReads(anyReply));
}

int CDeviceCommands::QueryAppInfo(std::uint8_t* reply, std::uint32_t wanted) {
  return QueryWithResends(true, kCmdQueryAppInfo, reply, wanted);
}

int CDeviceCommands::EnterBootMode() {
  auto command = Begin();
  if (NoteSend(SendAppPacket(m_Link, {.code = kCmdEnterBootMode})) == 0) {
    return Fail(*m_SendError);
  }
  return Succeed();
}

int CDeviceCommands::QueryBootType(std::uint8_t* reply, std::uint32_t wanted) {
  return QueryWithResends(false, kCmdQueryBootType, reply, wanted);
}

bool CDeviceCommands::ExchangeBootCommand(const PacketFields& fields, std::uint8_t* reply,
                                          std::uint32_t wanted, std::uint32_t waitMs) {
  auto command = Begin();
  PacketFields sent = fields;
  sent.code &= 0x00FF;
  (void)NoteSend(SendBootPacket(m_Link, sent));
  if (waitMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  }
  const Reply result = ReadReply(false, sent.code);
  if (result == Reply::kAccepted) {
    CopyPayload(m_Response, reply, wanted);
    Succeed();
    return true;
  }
  Fail(FailureAfterReads(result == Reply::kRejected));
  return false;
}

int CDeviceCommands::EraseRegion(std::uint32_t offset, std::uint32_t size, base::CStopToken stop) {
  auto command = Begin();
  if (NoteSend(SendBootPacketCrc(m_Link,
                                 {.code = kCmdEraseRegion, .size = size, .offset = offset})) == 0) {
    return Fail(*m_SendError);
  }
  // An erase takes as long as the flash takes: no count of reads, but a way out when
  // the device is gone, the owner stops the run, or the silence outlasts any erase.
  const auto deadline = std::chrono::steady_clock::now() + m_Options.eraseBound;
  for (;;) {
    if (ReadReply(false, kCmdEraseRegion) == Reply::kAccepted) {
      return Succeed();
    }
    if (m_LastReadStatus == hid::kReadDeviceGone || m_LastReadStatus == hid::kReadNotOpen) {
      return Fail(FailureAfterReads(false));
    }
    if (stop.StopRequested()) {
      return Fail({base::ErrorKind::kCancelled, "stopped while waiting for the erase"});
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return Fail({base::ErrorKind::kTimedOut, "the device did not confirm the erase within " +
                                                   std::to_string(m_Options.eraseBound.count()) +
                                                   " ms"});
    }
  }
}

int CDeviceCommands::WriteBlock(const std::uint8_t* data, std::uint32_t offset,
                                std::uint32_t length, std::uint32_t size, int flag) {
  auto command = Begin();
  const std::uint16_t code = flag != 0 ? kCmdWriteBlock : kCmdWriteBlockPlain;
  (void)NoteSend(SendFullBootPacket(
      m_Link, {.code = code, .length = length, .size = size, .offset = offset, .data = data}));
  bool anyReply = false;
  for (std::uint16_t read = 0; read < kWriteBlockReads; ++read) {
    const Reply result = ReadReply(false, code);
    if (result == Reply::kAccepted) {
      return Succeed();
    }
    anyReply = anyReply || result == Reply::kRejected;
    if (m_LastReadStatus == hid::kReadDeviceGone) {
      // Twenty more reads of a device that is gone would only delay the verdict.
      break;
    }
  }
  return Fail(FailureAfterReads(anyReply));
}

int CDeviceCommands::CompleteUpdate() {
  auto command = Begin();
  (void)NoteSend(SendBootPacket(m_Link, {.code = kCmdCompleteUpdate}));
  const Reply result = ReadReply(false, kCmdCompleteUpdate);
  if (result == Reply::kAccepted) {
    return Succeed();
  }
  return Fail(FailureAfterReads(result == Reply::kRejected));
}

}  // namespace protocol
