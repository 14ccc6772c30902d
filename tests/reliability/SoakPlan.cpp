#include "tests/reliability/SoakPlan.h"

#include <algorithm>

namespace soak {
namespace {

using namespace std::chrono_literals;
using sim::FaultTrigger;
using sim::SimFault;

constexpr std::uint32_t kBlockSize = 46;
constexpr std::uint32_t kVerified = 4096;

// The commands of a run, in order, as a fault's target.
enum class Target { kQueryType, kRegionStart, kErase, kBlock, kFinish, kCrc, kComplete };
constexpr int kTargets = 7;

std::uint16_t CodeOf(Target target) {
  switch (target) {
    case Target::kQueryType:
      return 0x0008;
    case Target::kRegionStart:
      return 0x00C1;
    case Target::kErase:
      return 0x0004;
    case Target::kBlock:
      return 0x0003;
    case Target::kFinish:
      return 0x00C2;
    case Target::kCrc:
      return 0x00C3;
    case Target::kComplete:
      return 0x0007;
  }
  return 0;
}

// The reads the rules allow the command: a block waits for twenty, a query resends
// for five, the erase waits out its bound, the others read once.
std::chrono::milliseconds Budget(Target target) {
  switch (target) {
    case Target::kBlock:
      return 20 * kReadTimeout;
    case Target::kQueryType:
      return 5 * kReadTimeout;
    case Target::kErase:
      return kEraseBound + kReadTimeout;
    default:
      return kReadTimeout;
  }
}

// An echo a device could still have on its way when `target` is sent: that of the
// command before it (for a block, also the block before).
std::uint16_t StaleCodeBefore(Target target, std::mt19937_64& random) {
  switch (target) {
    case Target::kQueryType:
    case Target::kRegionStart:
      return 0x0008;
    case Target::kErase:
      return 0x00C1;
    case Target::kBlock:
      return std::uniform_int_distribution<int>(0, 1)(random) == 0 ? 0x0004 : 0x0003;
    case Target::kFinish:
      return 0x0003;
    case Target::kCrc:
      return 0x00C2;
    case Target::kComplete:
      return 0x00C3;
  }
  return 0xFFFF;
}

struct Aim {
  Target target;
  FaultTrigger when;
};

// A command of the run, and which block when it is one. Each kind of command is as
// likely as the others, except that a lost or refused block echo costs twenty read
// time-outs (4 s): for those faults a block is drawn a third as often.
Aim DrawAim(const Plan& plan, std::mt19937_64& random, bool blocksRarely) {
  std::vector<double> weights(kTargets, 3.0);
  weights[static_cast<int>(Target::kBlock)] = blocksRarely ? 1.0 : 3.0;
  const auto target =
      static_cast<Target>(std::discrete_distribution<int>(weights.begin(), weights.end())(random));
  if (target == Target::kBlock) {
    const auto block = std::uniform_int_distribution<std::uint32_t>(1, plan.Blocks())(random);
    return {target, FaultTrigger::AtBlock(block)};
  }
  return {target, FaultTrigger::AtCode(CodeOf(target))};
}

struct Spot {
  std::uint32_t block;
  std::uint32_t byte;
};

// A byte that the device's checks can see. The word sum covers the region's whole words
// and the CRC its first 4096 bytes: a byte past both (among the last 1 to 3 bytes of a
// region longer than 4096 whose length is not a multiple of 4) is checked by nothing the
// device answers, so no host can find it corrupted. Such a draw moves to the first byte.
Spot VisibleSpot(const Plan& plan, std::uint32_t block, std::uint32_t byte) {
  const std::uint32_t length = plan.RegionLength();
  const std::uint32_t start = (block - 1) * kBlockSize;
  const std::uint32_t inBlock = std::min(byte, std::min(kBlockSize, length - start) - 1);
  const std::uint32_t at = start + inBlock;
  if (at >= kVerified && at >= length - length % 4) {
    return {1, 0};
  }
  return {block, inBlock};
}

void AddFault(Plan& plan, Fault kind, std::mt19937_64& random) {
  plan.kinds.push_back(kind);
  const Aim aim = DrawAim(plan, random, kind == Fault::kDroppedReply || kind == Fault::kWrongEcho);
  switch (kind) {
    case Fault::kDroppedReply:
      plan.faults.push_back(SimFault::DropReply(aim.when));
      plan.faultCost += Budget(aim.target);
      break;
    case Fault::kWrongEcho:
      plan.faults.push_back(SimFault::WrongEcho(aim.when));
      plan.faultCost += Budget(aim.target);
      break;
    case Fault::kStrayReports:
      plan.faults.push_back(SimFault::StrayReports(
          std::uniform_int_distribution<std::uint32_t>(1, 3)(random), aim.when));
      plan.faultCost += Budget(aim.target);
      break;
    case Fault::kStaleReports:
      plan.faults.push_back(
          SimFault::StrayReports(std::uniform_int_distribution<std::uint32_t>(1, 2)(random),
                                 aim.when, StaleCodeBefore(aim.target, random)));
      plan.faultCost += Budget(aim.target);
      break;
    case Fault::kLatencySpike: {
      const auto delay =
          std::chrono::milliseconds(std::uniform_int_distribution<int>(10, 400)(random));
      plan.faults.push_back(SimFault::LatencySpike(delay, aim.when));
      plan.faultCost += delay + Budget(aim.target);
      break;
    }
    case Fault::kRemoval: {
      const auto after =
          std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 1)(random) *
                                    std::uniform_int_distribution<int>(1, 50)(random));
      plan.faults.push_back(SimFault::Remove(aim.when, after));
      plan.faultCost += after + kReadTimeout;
      break;
    }
    case Fault::kCorruptStorage: {
      const auto block = std::uniform_int_distribution<std::uint32_t>(1, plan.Blocks())(random);
      const auto byte = std::uniform_int_distribution<std::uint32_t>(0, kBlockSize - 1)(random);
      const Spot spot = VisibleSpot(plan, block, byte);
      plan.faults.push_back(SimFault::CorruptStorage(FaultTrigger::AtBlock(spot.block), spot.byte));
      plan.faultCost += kReadTimeout;  // the device refuses the CRC query
      break;
    }
    case Fault::kEraseNeverConfirmed:
      plan.faults.push_back(SimFault::EraseNeverConfirmed());
      plan.faultCost += Budget(Target::kErase);
      break;
    case Fault::kWrongCrc:
      plan.faults.push_back(SimFault::WrongCrc());
      break;
    case Fault::kStop: {
      plan.stopAt = static_cast<StopPoint>(std::uniform_int_distribution<int>(1, 3)(random));
      plan.stopAtProgress = std::uniform_int_distribution<int>(0, 100)(random);
      plan.stopByClosing = std::uniform_int_distribution<int>(0, 1)(random) == 0;
      break;
    }
  }
}

}  // namespace

const char* ToString(Fault fault) {
  switch (fault) {
    case Fault::kDroppedReply:
      return "dropped reply";
    case Fault::kWrongEcho:
      return "wrong echo";
    case Fault::kStrayReports:
      return "stray reports";
    case Fault::kStaleReports:
      return "stale reports";
    case Fault::kLatencySpike:
      return "latency spike";
    case Fault::kRemoval:
      return "removal";
    case Fault::kCorruptStorage:
      return "corrupted storage";
    case Fault::kEraseNeverConfirmed:
      return "erase never confirmed";
    case Fault::kWrongCrc:
      return "wrong CRC";
    case Fault::kStop:
      return "stop asked";
  }
  return "?";
}

std::uint32_t Plan::RegionLength() const {
  const auto length = static_cast<std::uint32_t>(payload.size());
  return regionStart < length ? length - regionStart : 0;
}

std::uint32_t Plan::Blocks() const {
  return std::max<std::uint32_t>(1, (RegionLength() + kBlockSize - 1) / kBlockSize);
}

bool Plan::Has(Fault kind) const {
  return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

std::string Plan::Describe() const {
  std::string text = "payload " + std::to_string(payload.size()) + ", region start " +
                     std::to_string(regionStart) + ", faults:";
  for (const Fault kind : kinds) {
    text += std::string(" ") + ToString(kind);
  }
  if (kinds.empty()) {
    text += " none";
  }
  return text;
}

std::vector<std::uint8_t> DrawPayload(std::mt19937_64& random, std::uint32_t minimum) {
  const auto length =
      std::uniform_int_distribution<std::uint32_t>(minimum + 1, minimum + 4000)(random);
  std::vector<std::uint8_t> payload(length);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& b : payload) {
    b = static_cast<std::uint8_t>(byte(random));
  }
  return payload;
}

Plan DrawPlan(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  Plan plan;
  plan.seed = seed;
  const bool startBeyond = std::uniform_int_distribution<int>(0, 39)(random) == 0;
  const auto regionStart = std::uniform_int_distribution<std::uint32_t>(0, 256)(random);
  plan.payload = DrawPayload(random, regionStart);
  plan.regionStart = startBeyond ? static_cast<std::uint32_t>(plan.payload.size()) : regionStart;

  // Zero faults now and then, so that clean runs are checked as well; at most two.
  const int count = std::discrete_distribution<int>({1, 6, 3})(random);
  for (int i = 0; i < count; ++i) {
    const auto kind =
        static_cast<Fault>(std::uniform_int_distribution<int>(0, kFaultKinds - 1)(random));
    // Faults of these kinds can undo each other: two corrupted bytes can cancel out in
    // the word sum (b1 + b2 = 255 at the same place in two words) where the CRC does
    // not reach, and two wrong CRCs flip the same bit back. One of each per run.
    if ((kind == Fault::kCorruptStorage || kind == Fault::kWrongCrc) && plan.Has(kind)) {
      continue;
    }
    AddFault(plan, kind, random);
  }
  return plan;
}

}  // namespace soak
