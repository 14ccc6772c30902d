// CSimController: a model of the game controller as the host sees it over USB, for
// tests, benchmarks and --simulate. It parses the frames it receives and builds its
// replies from the wire format alone (it shares only the CRC-16 with the protocol
// code, and the little-endian loads and stores of base/ with everyone), so that it
// checks our command layer instead of mirroring it.
//
// Application mode (product 0x6E21) takes 64-byte frames with report ID 0x81 and
// type-4 packets; it answers 0x0101 with input report 2 (type code, version word) and
// on 0x000C restarts into boot mode. Boot mode (product 0x6E30) takes 65-byte frames
// with report ID 0 and type-5 packets and answers with 65-byte frames:
//
//   0x0008  its type code
//   0x00C1  its region start (u32 in a 16-byte payload)
//   0x0004  erases Size bytes from Offset (Crc must be that of the data, 0xFFFF for
//           none); the echo comes only after the erase time, and every frame that
//           arrives meanwhile is ignored, as a bootloader busy erasing does
//   0x0002, 0x0003
//           stores Length (1..46) bytes at Offset within the erased region, after
//           checking the Crc over them, Offset + Length <= Size, the region's start
//           + Size <= flash size, and that it erased since it last arrived (every
//           arrival starts the bootloader afresh; the flash keeps its bytes)
//   0x00C2  echoes
//   0x00C3  checks the 20-byte query (range offset, range length, reserved, word sum,
//           region length): the region length must be the erased one and the word sum
//           that of the region's whole little-endian words as stored; then answers the
//           CRC-16 of the asked range of its flash (erased bytes read 0xFF beyond what
//           was written). A wrong word sum or length, or a range beyond the flash,
//           gets no reply at all: so a corrupted store shows as an unanswered query
//   0x0007  echoes, then restarts into application mode reporting the new version
//
// Any other or malformed frame (wrong size, report ID or packet type), and every check
// that fails, gets no reply. The flash holds zeros until the first erase.
//
// Leaving and coming back: 0x000C and 0x0007 make the device leave once their reply
// time has come (so a read already waiting gets the echo first) and come back after
// the re-enumeration delay. A connection made before it left never works again.
//
// Every member is safe to call from any thread. Delayed presence changes run on a
// timer thread the controller starts with the first of them and joins when destroyed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "hid/HidTypes.h"
#include "sim/ReportQueue.h"
#include "sim/SimFaults.h"

namespace sim {

enum class SimMode { kApplication, kBoot };

struct SimConfig {
  std::uint16_t typeCode = 0x600A;
  std::uint16_t version = 214;  // hundredths: 214 is 2.14
  std::uint16_t beta = 0;
  std::uint16_t updatedVersion = 215;  // reported after a completed update
  std::uint16_t updatedBeta = 0;
  std::uint32_t regionStart = 0;         // answered to 0x00C1
  std::uint32_t flashSize = 256 * 1024;  // bytes the region may occupy
  std::chrono::microseconds eraseTime{0};
  std::chrono::microseconds replyLatency{0};  // from a frame's arrival to its reply's
  std::chrono::microseconds reenumerateDelay{2000};
  bool startInBootMode = false;
  bool presentAtStart = true;
  std::vector<SimFault> faults;
};

enum class Direction { kToDevice, kFromDevice };

struct SimFrameRecord {
  Clock::time_point at;  // received; for a reply, when it reaches the host
  Direction direction = Direction::kToDevice;
  std::vector<std::uint8_t> bytes;
  std::uint64_t stay = 0;  // which stay of the device (its arrivals, counted from 1)
};

// What a handle opened on the device holds: which stay of the device it was opened in,
// the product ID it had then, and its own queue of input reports.
struct SimConnection {
  std::uint64_t presence = 0;
  std::shared_ptr<CReportQueue> queue;
  std::uint16_t productId = 0;
};

class CSimController {
 public:
  explicit CSimController(SimConfig config = {});
  ~CSimController();
  CSimController(const CSimController&) = delete;
  CSimController& operator=(const CSimController&) = delete;

  // --- The USB side, used by the platform ---
  bool IsPresent() const;
  SimMode Mode() const;
  std::uint16_t ProductId() const;  // by its current mode
  // A new connection, or nullopt while the device is away.
  std::optional<SimConnection> Connect();
  // Takes one output report from a connection. False when the device is away or has
  // left since that connection was made; true when the frame reached the device,
  // answered or not.
  bool Receive(std::span<const std::uint8_t> frame, std::uint64_t presence);

  // Called with true on every arrival and false on every removal, in order, from the
  // thread that caused it (a writer, the timer, a tester). Removal waits for running calls.
  // A listener runs while the controller orders its notices (a lock that is taken under
  // the state lock), so it must not call the controller: a listener that needs a
  // connection hands the work to a thread of its own.
  using PresenceListener = std::function<void(bool present)>;
  int AddPresenceListener(PresenceListener listener);
  void RemovePresenceListener(int id);

  // --- The tester's hands ---
  void Unplug();  // goes away at once; cancels a pending come-back
  void PlugIn(std::optional<SimMode> mode = std::nullopt);  // default: the mode it left in
  // An unsolicited input report, reaching every open connection now.
  void InjectReport(const hid::Frame& frame);
  void SetFaults(std::vector<SimFault> faults);

  // --- What it saw and holds ---
  std::vector<SimFrameRecord> Log() const;       // both directions, in order
  std::vector<SimFrameRecord> Received() const;  // frames from the host only
  void ClearLog();
  std::vector<std::uint8_t> Storage() const;       // the whole flash
  std::vector<std::uint8_t> StoredRegion() const;  // the region of the last erase
  bool WasErased() const;
  std::uint32_t VersionWord() const;  // low 16 bits version, high 16 beta
  SimConfig Config() const;

 private:
  struct Outcome {
    std::optional<hid::Frame> reply;
    Clock::time_point readyAt;
    bool eraseAccepted = false;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> storedBlock;  // flash index, length
    bool isCrcReply = false;
    std::optional<SimMode> restartInto;
  };
  struct Event {
    Clock::time_point at;
    bool arrive = false;
    SimMode mode = SimMode::kBoot;
    bool stayAway = false;  // a removal that cancels any come-back pending
  };

  // All below run with m_Mutex held.
  Outcome HandleAppFrame(std::span<const std::uint8_t> frame, Clock::time_point now);
  Outcome HandleBootFrame(std::span<const std::uint8_t> frame, Clock::time_point now);
  std::vector<std::size_t> TriggeredFaults(std::uint32_t frameNo, std::optional<std::uint16_t> code,
                                           std::uint32_t blockNo) const;
  void ApplyFaults(const std::vector<std::size_t>& triggered, Outcome& outcome,
                   std::vector<hid::Frame>& strays, std::optional<Clock::time_point>& removeAt,
                   Clock::time_point now);
  void QueueReport(const hid::Frame& frame, Clock::time_point readyAt);
  void ScheduleOrApply(const Event& event, Clock::time_point now);
  void Apply(const Event& event);
  void Leave(Clock::time_point at);
  void Arrive(SimMode mode);
  std::uint32_t RegionWordSum() const;
  // Hands the pending presence changes to the listeners, in order; leaves lock unlocked.
  void FlushNotices(std::unique_lock<std::mutex>& lock);
  void RunTimer();

  mutable std::mutex m_Mutex;
  SimConfig m_Config;
  std::vector<bool> m_FaultUsed;
  bool m_Present = false;
  SimMode m_Mode = SimMode::kApplication;
  std::uint64_t m_Presence = 0;  // counts arrivals
  std::vector<std::weak_ptr<CReportQueue>> m_Queues;
  std::uint32_t m_VersionWord = 0;
  std::vector<std::uint8_t> m_Flash;
  std::uint32_t m_RegionOffset = 0;
  std::uint32_t m_RegionLength = 0;
  bool m_Erased = false;             // ever
  bool m_ErasedThisSession = false;  // since it last entered boot mode
  Clock::time_point m_BusyUntil{};
  std::uint32_t m_FrameCount = 0;
  std::uint32_t m_BlockCount = 0;
  std::vector<SimFrameRecord> m_Log;
  std::vector<bool> m_PendingNotices;
  std::vector<Event> m_Events;
  bool m_Stopping = false;
  std::condition_variable m_TimerWake;

  std::mutex m_NotifyMutex;  // taken under m_Mutex, then held alone while listeners run
  std::map<int, PresenceListener> m_Listeners;
  int m_NextListenerId = 1;

  std::thread m_Timer;  // started by the first delayed change, under m_Mutex
};

}  // namespace sim
