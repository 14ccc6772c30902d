#include "sim/ReportQueue.h"

#include <algorithm>

namespace sim {

void CReportQueue::Push(const hid::Frame& frame, Clock::time_point readyAt) {
  {
    std::lock_guard lock(m_Mutex);
    if (m_Gone || m_Entries.size() >= kCapacity) {
      return;
    }
    // After every report that reaches the host no later than this one.
    const auto at = std::upper_bound(
        m_Entries.begin(), m_Entries.end(), readyAt,
        [](Clock::time_point time, const Entry& entry) { return time < entry.readyAt; });
    m_Entries.insert(at, Entry{frame, readyAt});
  }
  m_Changed.notify_all();
}

void CReportQueue::MarkGone(Clock::time_point at) {
  {
    std::lock_guard lock(m_Mutex);
    m_Gone = true;
    std::erase_if(m_Entries, [at](const Entry& entry) { return entry.readyAt > at; });
  }
  m_Changed.notify_all();
}

hid::ReadOutcome CReportQueue::Read(hid::Frame& frame, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  std::unique_lock lock(m_Mutex);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!m_Entries.empty() && m_Entries.front().readyAt <= now) {
      frame = m_Entries.front().frame;
      m_Entries.pop_front();
      return hid::ReadOutcome::kReport;
    }
    if (m_Gone) {
      return hid::ReadOutcome::kDeviceGone;
    }
    if (now >= deadline) {
      return hid::ReadOutcome::kTimeout;
    }
    Clock::time_point wake = deadline;
    if (!m_Entries.empty()) {
      wake = std::min(wake, m_Entries.front().readyAt);
    }
    m_Changed.wait_until(lock, wake);
  }
}

std::size_t CReportQueue::Pending() const {
  std::lock_guard lock(m_Mutex);
  return m_Entries.size();
}

}  // namespace sim
