// Every command the tool sends to the controller, with its reply size, its attempts and
// its waits. Each reading command sends one packet, reads replies through the link and
// accepts the first that passes the reply check for its own code.
//
//   0x0101 QueryAppInfo      app mode   up to 5 reads, a resend after each failed read
//   0x000C EnterBootMode     app mode   no read
//   0x0008 QueryBootType     boot mode  up to 5 reads, a resend after each failed read
//   0x00C1 QueryRegionStart  boot mode  1 read (through ExchangeBootCommand)
//   0x0004 EraseRegion       boot mode  reads until confirmed (bounded, see below)
//   0x0003 WriteBlock        boot mode  up to 20 reads, never resent
//   0x00C2 FinishWrite       boot mode  1 read (through ExchangeBootCommand)
//   0x00C3 QueryRegionCrc    boot mode  1 read (through ExchangeBootCommand)
//   0x0007 CompleteUpdate    boot mode  1 read
//
// Every command holds the link's command lock from its first write to its last read,
// so the UI thread and the flashing worker never interleave their frames.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/Error.h"
#include "base/Stop.h"
#include "hid/Hid.h"
#include "protocol/CommandPacket.h"
#include "protocol/ResponseReport.h"

namespace protocol {

inline constexpr std::uint16_t kCmdQueryAppInfo = 0x0101;
inline constexpr std::uint16_t kCmdEnterBootMode = 0x000C;
inline constexpr std::uint16_t kCmdQueryBootType = 0x0008;
inline constexpr std::uint16_t kCmdQueryRegionStart = 0x00C1;
inline constexpr std::uint16_t kCmdEraseRegion = 0x0004;
inline constexpr std::uint16_t kCmdWriteBlock = 0x0003;       // WriteBlock with flag set
inline constexpr std::uint16_t kCmdWriteBlockPlain = 0x0002;  // flag clear; never sent by us
inline constexpr std::uint16_t kCmdFinishWrite = 0x00C2;
inline constexpr std::uint16_t kCmdQueryRegionCrc = 0x00C3;
inline constexpr std::uint16_t kCmdCompleteUpdate = 0x0007;

inline constexpr int kQueryAttempts = 5;
inline constexpr int kWriteBlockReads = 20;

// Reply sizes the tool asks for.
inline constexpr std::uint32_t kAppInfoReplySize = 8;       // type code, 2 unused, version word
inline constexpr std::uint32_t kBootTypeReplySize = 2;      // type code
inline constexpr std::uint32_t kRegionStartReplySize = 16;  // region start, 12 unused
inline constexpr std::uint32_t kRegionCrcReplySize = 2;     // CRC-16 of the asked range

// The 20 data bytes of QueryRegionCrc: five little-endian u32 fields.
struct CrcQuery {
  std::uint32_t rangeOffset = 0;  // within the region
  std::uint32_t rangeLength = 0;  // bytes the device computes the CRC-16 over
  std::uint32_t reserved = 0;
  std::uint32_t wordSum = 0;       // WordSum of the region's whole words
  std::uint32_t regionLength = 0;  // bytes in the region

  std::array<std::uint8_t, 20> Serialize() const;
};

struct CommandOptions {
  // How long EraseRegion waits for its confirmation before giving up. A real erase
  // takes well under a few seconds; without a bound a device that never confirms
  // would hold the run forever.
  std::chrono::milliseconds eraseBound{30000};
};

class CDeviceCommands {
 public:
  explicit CDeviceCommands(hid::CHid& link, CommandOptions options = {});

  // Application mode. Asks for `wanted` reply bytes (8); copies min(wanted, 46).
  int QueryAppInfo(std::uint8_t* reply, std::uint32_t wanted);
  // Application mode. Sends 0x000C; reads nothing. Non-zero when the report went out.
  int EnterBootMode();

  // Boot mode.
  int QueryBootType(std::uint8_t* reply, std::uint32_t wanted);
  // One send with SendBootPacket, an optional wait, one read. Only the low 8 bits of
  // fields.code go out (the command has always carried codes 0x00..0xFF only), and the
  // reply must echo that code.
  bool ExchangeBootCommand(const PacketFields& fields, std::uint8_t* reply, std::uint32_t wanted,
                           std::uint32_t waitMs);
  // Sends 0x0004 once and reads until the device confirms. Ends with 0 when the send
  // fails, the device is reported gone, `stop` is requested, or no confirmation came
  // within the erase bound.
  int EraseRegion(std::uint32_t offset, std::uint32_t size, base::CStopToken stop = {});
  // Sends one block (0x0003 when flag is set, else 0x0002) with its CRC-16 and waits up
  // to 20 reads for its echo. Never resends.
  int WriteBlock(const std::uint8_t* data, std::uint32_t offset, std::uint32_t length,
                 std::uint32_t size, int flag);
  int CompleteUpdate();

  // Why the last command failed; nullopt after one that succeeded. The link's reason
  // where it had one: a failed send's ("write: No such device", which also explains
  // the silence after it), a read's once the device is gone or the read failed
  // ("read: Input/output error"); else the command's own: kTimedOut "the device did
  // not answer", kInvalidData for replies that never passed the check, kCancelled.
  const std::optional<base::Error>& LastError() const { return m_LastError; }

  hid::CHid& Link() { return m_Link; }

 private:
  enum class Reply { kAccepted, kRejected, kNone };
  // Takes the link for one command and forgets what the previous one saw.
  [[nodiscard]] std::unique_lock<std::mutex> Begin();
  // Notes a send's result: the link's reason when the report did not go out.
  int NoteSend(int sent);
  // One read into the reply record, then the check for the mode and the code.
  Reply ReadReply(bool appMode, std::uint16_t code);
  // A query sent once and sent again after every failed read, up to five reads.
  int QueryWithResends(bool appMode, std::uint16_t code, std::uint8_t* reply, std::uint32_t wanted);
  // Ends the command: success, or the given reason.
  int Succeed();
  int Fail(base::Error reason);
  // The reason of a command whose reads brought no accepted reply.
  base::Error FailureAfterReads(bool anyReply) const;

  hid::CHid& m_Link;
  const CommandOptions m_Options;
  ResponseReport m_Response{};  // the reply record; overwritten by every successful read
  std::optional<base::Error> m_LastError;
  // What the command in progress saw: its latest send's failure, its latest read.
  std::optional<base::Error> m_SendError;
  std::uint32_t m_LastReadStatus = hid::kReadOk;
  std::optional<base::Error> m_ReadError;
};

}  // namespace protocol
