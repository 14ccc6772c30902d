// One scenario of the fault soak, drawn from a seed: the image, where the device's
// region starts, the faults the simulated controller shows in the first run, whether
// the owner stops that run, and how a second controller comes and goes during the runs.
// Everything random about a scenario is here, so that its seed alone replays it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/SimController.h"
#include "sim/SimFaults.h"

namespace soak {

// The faults as the soak counts them; several sim faults may stand behind one kind.
enum class Fault {
  kDroppedReply,
  kWrongEcho,
  kStrayReports,  // foreign reports before a reply
  kStaleReports,  // late echoes of an earlier command before a reply
  kLatencySpike,
  kRemoval,
  kCorruptStorage,
  kEraseNeverConfirmed,
  kWrongCrc,
  kStop,  // not a device fault: the owner asks the run to stop
};
inline constexpr int kFaultKinds = 10;
enum class StopPoint { kNone, kChoosing, kPrompt, kProgress };
inline constexpr const char* kFaultNames[kFaultKinds] = {
    "dropped reply", "wrong echo",        "stray reports",         "stale reports", "latency spike",
    "removal",       "corrupted storage", "erase never confirmed", "wrong CRC",     "stop asked"};

// How long the device rules let a command hit by a fault take: the reads it may make
// at the link's 200 ms time-out, the erase bound, a spike's delay.
inline constexpr std::chrono::milliseconds kReadTimeout{200};
inline constexpr std::chrono::milliseconds kEraseBound{300};
inline constexpr std::uint32_t kBlockSize = 46;

// The moments of a run at which the second controller may come or go: while the image is
// chosen, while the question is asked, when the run first moves the bar, right after the
// click that switches the controller to boot mode (the run after the device came back,
// when it comes back in application mode), or a while after the run began.
enum class Moment { kChoosing, kPrompt, kFirstProgress, kSwitching, kLater };

// One coming or going: present, it is unplugged; absent, plugged in in `mode`.
struct IntruderStep {
  Moment moment = Moment::kLater;
  std::chrono::milliseconds after{0};  // kLater: this long after the run began
  sim::SimMode mode = sim::SimMode::kBoot;
};

// The second controller: at a place of its own, of the soak's controller's type or the
// other one, absent whenever a road begins, coming and going during each run.
struct Intruder {
  std::uint16_t typeCode = 0x600A;
  bool placedFirst = false;  // its place enumerates before the soak controller's
  std::vector<IntruderStep> first;
  std::vector<IntruderStep> next;
};

struct Plan {
  std::uint64_t seed = 0;
  std::vector<std::uint8_t> payload;
  std::uint32_t regionStart = 0;
  std::vector<Fault> kinds;           // what was injected, for the figures
  std::vector<sim::SimFault> faults;  // the same, as the device shows them
  std::chrono::milliseconds faultCost{0};
  StopPoint stopAt = StopPoint::kNone;
  int stopAtProgress = 0;
  bool stopByClosing = false;  // the window closes; otherwise Ctrl-C asks the run to stop
  Intruder intruder;
  // The device comes back in application mode for the next run, which the user starts
  // with a click (otherwise it comes back in boot mode and is asked for its image).
  bool nextFromApplication = false;

  std::uint32_t RegionLength() const {
    const auto length = static_cast<std::uint32_t>(payload.size());
    return regionStart < length ? length - regionStart : 0;
  }
  std::uint32_t Blocks() const {
    return std::max<std::uint32_t>(1, (RegionLength() + kBlockSize - 1) / kBlockSize);
  }
  bool Has(Fault kind) const { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); }
  std::string Describe() const;
};

// Draws scenario `seed`: a payload of 1 to 4000 bytes, a region start inside it (once
// in a while just past it), and zero to two faults or a stop.
Plan DrawPlan(std::uint64_t seed);

// Random payload bytes for a later run of the same scenario.
std::vector<std::uint8_t> DrawPayload(std::mt19937_64& random, std::uint32_t minimum);

}  // namespace soak
