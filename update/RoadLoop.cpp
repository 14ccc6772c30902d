#include "update/RoadLoop.h"

#include <algorithm>

namespace update {

CRoadLoop::CRoadLoop(hid::IHidPlatform& platform, base::Waitable interrupt)
    : m_Platform(platform), m_Interrupt(interrupt) {}

std::function<void(const RunOutcome&)> CRoadLoop::RunFinished() {
  return [this](const RunOutcome&) { m_RunEnded.Signal(); };
}

CRoadLoop::Wake CRoadLoop::RunUntil(CRoad& road, const std::function<bool()>& done) {
  while (!done()) {
    std::optional<std::chrono::milliseconds> timeout;
    if (const auto deadline = road.NextDeadline()) {
      timeout = std::max(std::chrono::milliseconds(0),
                         std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()));
    }
    const base::Waitable waitables[] = {hid::NoticeWaitable(m_Platform), m_RunEnded.Fd(),
                                        m_Interrupt};
    switch (base::WaitForAny(waitables, timeout)) {
      case 0:
        road.HandleNotices();
        break;
      case 1:
        m_RunEnded.Clear();
        road.OnRunEnded();
        break;
      case 2:
        m_Interrupt = base::kNoWaitable;
        return Wake::kInterrupted;
      case base::kWaitFailed:
        return Wake::kFailed;
      default:
        // Timed out, or cut short by a signal: the road looks at its bounds.
        road.OnTimer();
        break;
    }
  }
  return Wake::kDone;
}

}  // namespace update
