#include "tests/reliability/SoakPlan.h"

#include <cstdio>

namespace soak {
namespace {

using sim::FaultTrigger;
using sim::SimFault;

template <typename T>
T Uniform(std::mt19937_64& random, T low, T high) {
  return std::uniform_int_distribution<T>(low, high)(random);
}

// The commands of a run, in order, as a fault's target: the code, the reads the rules
// allow it (a block waits for twenty, a query resends for five, the erase waits out its
// bound, the others read once), and the echo a device could still have on its way when
// it is sent: that of the command before (for a block, also the block before).
struct Target {
  std::uint16_t code;
  std::chrono::milliseconds budget;
  std::uint16_t staleCode;
};
constexpr int kBlockTarget = 3;
constexpr Target kTargets[] = {
    {0x0008, 5 * kReadTimeout, 0x0008},
    {0x00C1, kReadTimeout, 0x0008},
    {0x0004, kEraseBound + kReadTimeout, 0x00C1},
    {0x0003, 20 * kReadTimeout, 0x0004},
    {0x00C2, kReadTimeout, 0x0003},
    {0x00C3, kReadTimeout, 0x00C2},
    {0x0007, kReadTimeout, 0x00C3},
};
constexpr int kTargetCount = 7;

std::uint16_t StaleCodeBefore(int target, std::mt19937_64& random) {
  if (target == kBlockTarget && Uniform(random, 0, 1) != 0) {
    return 0x0003;
  }
  return kTargets[target].staleCode;
}

struct Aim {
  int target;
  FaultTrigger when;
};

// A command of the run, and which block when it is one. Each kind of command is as
// likely as the others, except that a lost or refused block echo costs twenty read
// time-outs (4 s): for those faults a block is drawn a third as often.
Aim DrawAim(const Plan& plan, std::mt19937_64& random, bool blocksRarely) {
  std::vector<double> weights(kTargetCount, 3.0);
  weights[kBlockTarget] = blocksRarely ? 1.0 : 3.0;
  const int target = std::discrete_distribution<int>(weights.begin(), weights.end())(random);
  if (target == kBlockTarget) {
    return {target, FaultTrigger::AtBlock(Uniform<std::uint32_t>(random, 1, plan.Blocks()))};
  }
  return {target, FaultTrigger::AtCode(kTargets[target].code)};
}

// A corrupted byte that the device's checks can see. The word sum covers the region's
// whole words and the CRC its first 4096 bytes: a byte past both (among the last 1 to 3
// bytes of a region longer than 4096 whose length is not a multiple of 4) is checked by
// nothing the device answers, so no host can find it corrupted. Such a draw moves to
// the first byte.
SimFault VisibleCorruption(const Plan& plan, std::uint32_t block, std::uint32_t byte) {
  const std::uint32_t length = plan.RegionLength();
  const std::uint32_t start = (block - 1) * kBlockSize;
  const std::uint32_t inBlock = std::min(byte, std::min(kBlockSize, length - start) - 1);
  if (start + inBlock >= 4096 && start + inBlock >= length - length % 4) {
    return SimFault::CorruptStorage(FaultTrigger::AtBlock(1), 0);
  }
  return SimFault::CorruptStorage(FaultTrigger::AtBlock(block), inBlock);
}

void AddFault(Plan& plan, Fault kind, std::mt19937_64& random) {
  plan.kinds.push_back(kind);
  const Aim aim = DrawAim(plan, random, kind == Fault::kDroppedReply || kind == Fault::kWrongEcho);
  std::chrono::milliseconds cost = kTargets[aim.target].budget;
  switch (kind) {
    case Fault::kDroppedReply:
      plan.faults.push_back(SimFault::DropReply(aim.when));
      break;
    case Fault::kWrongEcho:
      plan.faults.push_back(SimFault::WrongEcho(aim.when));
      break;
    case Fault::kStrayReports:
      plan.faults.push_back(SimFault::StrayReports(Uniform<std::uint32_t>(random, 1, 3), aim.when));
      break;
    case Fault::kStaleReports:
      plan.faults.push_back(SimFault::StrayReports(Uniform<std::uint32_t>(random, 1, 2), aim.when,
                                                   StaleCodeBefore(aim.target, random)));
      break;
    case Fault::kLatencySpike: {
      const std::chrono::milliseconds delay(Uniform(random, 10, 400));
      plan.faults.push_back(SimFault::LatencySpike(delay, aim.when));
      cost += delay;
      break;
    }
    case Fault::kRemoval: {
      const int at = Uniform(random, 0, 1);
      const std::chrono::milliseconds after(at * Uniform(random, 1, 50));
      plan.faults.push_back(SimFault::Remove(aim.when, after));
      cost = after + kReadTimeout;
      break;
    }
    case Fault::kCorruptStorage: {
      const auto block = Uniform<std::uint32_t>(random, 1, plan.Blocks());
      const auto byte = Uniform<std::uint32_t>(random, 0, kBlockSize - 1);
      plan.faults.push_back(VisibleCorruption(plan, block, byte));
      cost = kReadTimeout;  // the device refuses the CRC query
      break;
    }
    case Fault::kEraseNeverConfirmed:
      plan.faults.push_back(SimFault::EraseNeverConfirmed());
      cost = kTargets[2].budget;
      break;
    case Fault::kWrongCrc:
      plan.faults.push_back(SimFault::WrongCrc());
      cost = {};
      break;
    case Fault::kStop:
      plan.stopAt = static_cast<StopPoint>(Uniform(random, 1, 3));
      plan.stopAtProgress = Uniform(random, 0, 100);
      plan.stopByClosing = Uniform(random, 0, 1) == 0;
      cost = {};
      break;
  }
  plan.faultCost += cost;
}

std::vector<IntruderStep> DrawSteps(std::mt19937_64& random, bool switching) {
  // Each moment as likely as the others; a few later ones spread over a short run.
  std::vector<Moment> moments = {Moment::kChoosing, Moment::kPrompt, Moment::kFirstProgress,
                                 Moment::kLater, Moment::kLater};
  if (switching) {
    moments.push_back(Moment::kSwitching);
    moments.push_back(Moment::kSwitching);
  }
  std::vector<IntruderStep> steps(Uniform<std::size_t>(random, 1, 4));
  for (IntruderStep& step : steps) {
    step.moment = moments[Uniform<std::size_t>(random, 0, moments.size() - 1)];
    step.after = std::chrono::milliseconds(Uniform(random, 0, 40));
    step.mode = Uniform(random, 0, 1) == 0 ? sim::SimMode::kBoot : sim::SimMode::kApplication;
  }
  return steps;
}

// From a stream of its own, so that a seed draws the same image and faults as before the
// second controller joined the soak.
void DrawIntruder(Plan& plan) {
  std::mt19937_64 random(plan.seed ^ 0x1D7B0DE5C0FFEEull);
  plan.intruder.typeCode = Uniform(random, 0, 1) == 0 ? 0x600A : 0x6011;
  plan.intruder.placedFirst = Uniform(random, 0, 1) == 0;
  plan.nextFromApplication = Uniform(random, 0, 1) == 0;
  plan.intruder.first = DrawSteps(random, false);
  plan.intruder.next = DrawSteps(random, plan.nextFromApplication);
}

}  // namespace

std::string Plan::Describe() const {
  std::string text = "payload " + std::to_string(payload.size()) + ", region start " +
                     std::to_string(regionStart) + ", faults:";
  for (const Fault kind : kinds) {
    text += std::string(" ") + kFaultNames[static_cast<int>(kind)];
  }
  text += kinds.empty() ? " none" : "";
  char second[96];
  std::snprintf(second, sizeof second, "; second controller 0x%04X %s, %zu + %zu steps%s",
                intruder.typeCode, intruder.placedFirst ? "first" : "after", intruder.first.size(),
                intruder.next.size(), nextFromApplication ? ", next run clicked" : "");
  return text + second;
}

std::vector<std::uint8_t> DrawPayload(std::mt19937_64& random, std::uint32_t minimum) {
  std::vector<std::uint8_t> payload(Uniform<std::uint32_t>(random, minimum + 1, minimum + 4000));
  for (auto& b : payload) {
    b = static_cast<std::uint8_t>(Uniform(random, 0, 255));
  }
  return payload;
}

Plan DrawPlan(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  Plan plan;
  plan.seed = seed;
  const bool startBeyond = Uniform(random, 0, 39) == 0;
  const auto regionStart = Uniform<std::uint32_t>(random, 0, 256);
  plan.payload = DrawPayload(random, regionStart);
  plan.regionStart = startBeyond ? static_cast<std::uint32_t>(plan.payload.size()) : regionStart;

  // Zero faults now and then, so that clean runs are checked as well; at most two.
  const int count = std::discrete_distribution<int>({1, 6, 3})(random);
  for (int i = 0; i < count; ++i) {
    const auto kind = static_cast<Fault>(Uniform(random, 0, kFaultKinds - 1));
    // Faults of these kinds can undo each other: two corrupted bytes can cancel out in
    // the word sum (b1 + b2 = 255 at the same place in two words) where the CRC does
    // not reach, and two wrong CRCs flip the same bit back. One of each per run.
    if ((kind == Fault::kCorruptStorage || kind == Fault::kWrongCrc) && plan.Has(kind)) {
      continue;
    }
    AddFault(plan, kind, random);
  }
  DrawIntruder(plan);
  return plan;
}

}  // namespace soak
