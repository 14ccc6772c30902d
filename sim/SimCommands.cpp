// What the simulated controller does with each frame it receives: parse it from the
// wire format, act on it, build its reply, and let the configured faults spoil that.
#include "sim/SimController.h"

#include <algorithm>

#include "base/LittleEndian.h"
#include "hid/HidTypes.h"
#include "protocol/Crc16.h"

namespace sim {
namespace {

// Command codes, as the device knows them.
constexpr std::uint16_t kQueryAppInfo = 0x0101;
constexpr std::uint16_t kEnterBootMode = 0x000C;
constexpr std::uint16_t kQueryBootType = 0x0008;
constexpr std::uint16_t kQueryRegionStart = 0x00C1;
constexpr std::uint16_t kErase = 0x0004;
constexpr std::uint16_t kWriteBlock = 0x0003;
constexpr std::uint16_t kWriteBlockPlain = 0x0002;
constexpr std::uint16_t kFinishWrite = 0x00C2;
constexpr std::uint16_t kQueryRegionCrc = 0x00C3;
constexpr std::uint16_t kComplete = 0x0007;

constexpr std::size_t kAppFrameSize = 64;  // report ID 0x81 and 63 packet bytes
constexpr std::uint8_t kAppOutputId = 0x81;
constexpr std::uint8_t kAppInputId = 2;
constexpr std::uint8_t kStateReportId = 1;  // the controller's own input report
constexpr std::size_t kMaxBlock = 46;
constexpr std::size_t kCrcQuerySize = 20;

using base::LoadU16;
using base::LoadU32;
using base::StoreU16;
using base::StoreU32;

// Application-mode reply: input report 2, then 04 04 00 and the code; data from byte 18.
hid::Frame AppReply(std::uint16_t code) {
  hid::Frame frame{};
  frame[0] = kAppInputId;
  frame[1] = 4;
  frame[2] = 4;
  StoreU16(&frame[4], code);
  return frame;
}

// Boot-mode reply: no report ID (0), then 00 05 00 00 and the code; data from byte 19.
hid::Frame BootReply(std::uint16_t code) {
  hid::Frame frame{};
  frame[2] = 5;
  StoreU16(&frame[5], code);
  return frame;
}

// Where a reply carries the code it answers: one byte later in a boot-mode reply,
// behind its zero report ID.
std::size_t EchoIndex(const hid::Frame& reply) {
  return reply[0] == kAppInputId ? 4 : 5;
}

// A report that is not the awaited reply: in application mode the controller's own
// state report, in boot mode a stale echo; with a code, a reply echoing that code.
hid::Frame StrayReport(SimMode mode, std::optional<std::uint16_t> echoCode) {
  if (mode == SimMode::kBoot) {
    return BootReply(echoCode.value_or(0xFFFF));
  }
  if (echoCode) {
    return AppReply(*echoCode);
  }
  hid::Frame state{};
  state[0] = kStateReportId;
  return state;
}

bool AppliesTo(FaultKind kind, const std::optional<hid::Frame>& reply, bool eraseAccepted,
               bool stored, bool crcReply) {
  switch (kind) {
    case FaultKind::kDropReply:
    case FaultKind::kWrongEcho:
    case FaultKind::kStrayReports:
    case FaultKind::kLatencySpike:
      return reply.has_value();
    case FaultKind::kRemove:
      return true;
    case FaultKind::kCorruptStorage:
      return stored;
    case FaultKind::kEraseNeverConfirmed:
      return eraseAccepted && reply.has_value();
    case FaultKind::kWrongCrc:
      return crcReply && reply.has_value();
  }
  return false;
}

}  // namespace

bool CSimController::Receive(std::span<const std::uint8_t> frame, std::uint64_t presence) {
  std::unique_lock lock(m_Mutex);
  if (!m_Present || presence != m_Presence) {
    return false;
  }
  const Clock::time_point now = Clock::now();
  m_Log.push_back({now, Direction::kToDevice, {frame.begin(), frame.end()}, m_Presence});
  const std::uint32_t frameNo = ++m_FrameCount;
  std::optional<std::uint16_t> code;
  if (frame.size() >= 4) {
    code = LoadU16(&frame[2]);
  }
  std::uint32_t blockNo = 0;
  if (m_Mode == SimMode::kBoot && (code == kWriteBlock || code == kWriteBlockPlain)) {
    blockNo = ++m_BlockCount;
  }
  const std::vector<std::size_t> triggered = TriggeredFaults(frameNo, code, blockNo);

  // A removal without delay comes before the device acts on the frame.
  for (const std::size_t i : triggered) {
    const SimFault& fault = m_Config.faults[i];
    if (fault.kind == FaultKind::kRemove && fault.delay.count() <= 0) {
      m_FaultUsed[i] = !fault.when.always;
      Leave(now);
      m_Events.clear();
      FlushNotices(lock);
      return true;
    }
  }

  Outcome outcome;
  if (now >= m_BusyUntil) {
    outcome = m_Mode == SimMode::kBoot ? HandleBootFrame(frame, now) : HandleAppFrame(frame, now);
  }
  std::vector<hid::Frame> strays;
  std::optional<Clock::time_point> removeAt;
  ApplyFaults(triggered, outcome, strays, removeAt, now);

  for (const hid::Frame& stray : strays) {
    QueueReport(stray, outcome.readyAt);
  }
  if (outcome.reply) {
    QueueReport(*outcome.reply, outcome.readyAt);
  }
  if (outcome.restartInto) {
    // Gone once its reply is on the wire, back after the re-enumeration delay.
    ScheduleOrApply({outcome.readyAt, false, m_Mode}, now);
    ScheduleOrApply({outcome.readyAt + m_Config.reenumerateDelay, true, *outcome.restartInto}, now);
  }
  if (removeAt) {
    ScheduleOrApply({*removeAt, false, m_Mode, true}, now);
  }
  FlushNotices(lock);
  return true;
}

CSimController::Outcome CSimController::HandleAppFrame(std::span<const std::uint8_t> frame,
                                                       Clock::time_point now) {
  Outcome outcome;
  outcome.readyAt = now + m_Config.replyLatency;
  if (frame.size() != kAppFrameSize || frame[0] != kAppOutputId || frame[1] != 4) {
    return outcome;
  }
  switch (LoadU16(&frame[2])) {
    case kQueryAppInfo: {
      hid::Frame reply = AppReply(kQueryAppInfo);
      StoreU16(&reply[18], m_Config.typeCode);
      StoreU32(&reply[22], m_VersionWord);
      outcome.reply = reply;
      break;
    }
    case kEnterBootMode:
      outcome.restartInto = SimMode::kBoot;
      break;
    default:
      break;
  }
  return outcome;
}

CSimController::Outcome CSimController::HandleBootFrame(std::span<const std::uint8_t> frame,
                                                        Clock::time_point now) {
  Outcome outcome;
  outcome.readyAt = now + m_Config.replyLatency;
  if (frame.size() != hid::kFrameSize || frame[0] != 0 || frame[1] != 5) {
    return outcome;
  }
  const std::uint8_t* packet = &frame[1];
  const std::uint16_t code = LoadU16(packet + 1);
  const std::uint16_t length = LoadU16(packet + 5);
  const std::uint16_t crc = LoadU16(packet + 7);
  const std::uint32_t size = LoadU32(packet + 9);
  const std::uint32_t offset = LoadU32(packet + 13);
  const std::uint8_t* data = packet + 17;
  const std::uint64_t flashSize = m_Flash.size();
  const auto crcMatches = [&] {
    return length <= kMaxBlock && crc == protocol::Crc16(data, length);
  };

  switch (code) {
    case kQueryBootType: {
      hid::Frame reply = BootReply(code);
      StoreU16(&reply[19], m_Config.typeCode);
      outcome.reply = reply;
      break;
    }
    case kQueryRegionStart: {
      hid::Frame reply = BootReply(code);
      StoreU32(&reply[19], m_Config.regionStart);
      outcome.reply = reply;
      break;
    }
    case kErase: {
      if (!crcMatches() || size == 0 || std::uint64_t{offset} + size > flashSize) {
        break;
      }
      std::fill_n(m_Flash.begin() + offset, size, std::uint8_t{0xFF});
      m_RegionOffset = offset;
      m_RegionLength = size;
      m_Erased = true;
      m_ErasedThisSession = true;
      m_BusyUntil = now + m_Config.eraseTime;
      outcome.readyAt += m_Config.eraseTime;
      outcome.reply = BootReply(code);
      outcome.eraseAccepted = true;
      break;
    }
    case kWriteBlock:
    case kWriteBlockPlain: {
      const std::uint64_t end = std::uint64_t{offset} + length;
      if (!m_ErasedThisSession || length == 0 || !crcMatches() || end > size ||
          m_RegionOffset + std::uint64_t{size} > flashSize) {
        break;
      }
      const std::uint32_t at = m_RegionOffset + offset;
      std::copy_n(data, length, m_Flash.begin() + at);
      outcome.storedBlock = {at, length};
      outcome.reply = BootReply(code);
      break;
    }
    case kFinishWrite:
      outcome.reply = BootReply(code);
      break;
    case kQueryRegionCrc: {
      if (length != kCrcQuerySize) {
        break;
      }
      const std::uint32_t rangeOffset = LoadU32(data);
      const std::uint32_t rangeLength = LoadU32(data + 4);
      const std::uint32_t wordSum = LoadU32(data + 12);
      const std::uint32_t regionLength = LoadU32(data + 16);
      const std::uint64_t start = std::uint64_t{m_RegionOffset} + rangeOffset;
      if (!m_ErasedThisSession || regionLength != m_RegionLength || wordSum != RegionWordSum() ||
          start + rangeLength > flashSize) {
        break;
      }
      hid::Frame reply = BootReply(code);
      StoreU16(&reply[19], protocol::Crc16(m_Flash.data() + start, static_cast<int>(rangeLength)));
      outcome.reply = reply;
      outcome.isCrcReply = true;
      break;
    }
    case kComplete:
      outcome.reply = BootReply(code);
      outcome.restartInto = SimMode::kApplication;
      m_VersionWord =
          m_Config.updatedVersion | (static_cast<std::uint32_t>(m_Config.updatedBeta) << 16);
      break;
    default:
      break;
  }
  return outcome;
}

std::vector<std::size_t> CSimController::TriggeredFaults(std::uint32_t frameNo,
                                                         std::optional<std::uint16_t> code,
                                                         std::uint32_t blockNo) const {
  std::vector<std::size_t> triggered;
  for (std::size_t i = 0; i < m_Config.faults.size(); ++i) {
    const FaultTrigger& when = m_Config.faults[i].when;
    if (m_FaultUsed[i] || (when.atFrame != 0 && when.atFrame != frameNo) ||
        (when.atCode && when.atCode != code) || (when.atBlock != 0 && when.atBlock != blockNo)) {
      continue;
    }
    triggered.push_back(i);
  }
  return triggered;
}

void CSimController::ApplyFaults(const std::vector<std::size_t>& triggered, Outcome& outcome,
                                 std::vector<hid::Frame>& strays,
                                 std::optional<Clock::time_point>& removeAt,
                                 Clock::time_point now) {
  // Decided on the frame as the device handled it, before any fault changed that.
  const std::optional<hid::Frame> reply = outcome.reply;
  for (const std::size_t i : triggered) {
    const SimFault& fault = m_Config.faults[i];
    if (!AppliesTo(fault.kind, reply, outcome.eraseAccepted, outcome.storedBlock.has_value(),
                   outcome.isCrcReply)) {
      continue;
    }
    m_FaultUsed[i] = !fault.when.always;
    switch (fault.kind) {
      case FaultKind::kDropReply:
      case FaultKind::kEraseNeverConfirmed:
        outcome.reply.reset();
        break;
      case FaultKind::kWrongEcho:
        if (outcome.reply) {
          std::uint8_t* echo = &(*outcome.reply)[EchoIndex(*outcome.reply)];
          StoreU16(echo, fault.echoCode.value_or(LoadU16(echo) ^ 1));
        }
        break;
      case FaultKind::kStrayReports:
        strays.insert(strays.end(), fault.count, StrayReport(m_Mode, fault.echoCode));
        break;
      case FaultKind::kRemove:
        removeAt = now + fault.delay;
        break;
      case FaultKind::kCorruptStorage: {
        const auto [at, length] = *outcome.storedBlock;
        m_Flash[at + std::min(fault.byteIndex, length - 1)] ^= 0xFF;
        break;
      }
      case FaultKind::kWrongCrc:
        if (outcome.reply) {
          (*outcome.reply)[19] ^= 0x01;
        }
        break;
      case FaultKind::kLatencySpike:
        // A restart the frame asked for waits for the late reply too.
        outcome.readyAt += fault.delay;
        break;
    }
  }
}

std::uint32_t CSimController::RegionWordSum() const {
  std::uint32_t sum = 0;
  const std::uint8_t* region = m_Flash.data() + m_RegionOffset;
  for (std::uint32_t i = 0; i + 4 <= m_RegionLength; i += 4) {
    sum += LoadU32(region + i);
  }
  return sum;
}

}  // namespace sim
