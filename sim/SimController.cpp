// The simulated controller's presence (leaving, coming back, the timer that does it
// later), its connections and what it shows the tester. What it does with a frame is
// in SimCommands.cpp.
#include "sim/SimController.h"

#include <algorithm>

#include "hid/HidTypes.h"

namespace sim {

CSimController::CSimController(SimConfig config)
    : m_Config(std::move(config)),
      m_FaultUsed(m_Config.faults.size(), false),
      m_Present(m_Config.presentAtStart),
      m_Mode(m_Config.startInBootMode ? SimMode::kBoot : SimMode::kApplication),
      m_Presence(m_Config.presentAtStart ? 1 : 0),
      m_VersionWord(m_Config.version | (static_cast<std::uint32_t>(m_Config.beta) << 16)),
      m_Flash(m_Config.flashSize, 0x00) {}

CSimController::~CSimController() {
  {
    std::lock_guard lock(m_Mutex);
    m_Stopping = true;
  }
  m_TimerWake.notify_all();
  if (m_Timer.joinable()) {
    m_Timer.join();
  }
}

bool CSimController::IsPresent() const {
  std::lock_guard lock(m_Mutex);
  return m_Present;
}

SimMode CSimController::Mode() const {
  std::lock_guard lock(m_Mutex);
  return m_Mode;
}

std::uint16_t CSimController::ProductId() const {
  std::lock_guard lock(m_Mutex);
  return m_Mode == SimMode::kBoot ? hid::kBootProductId : hid::kAppProductId;
}

std::optional<SimConnection> CSimController::Connect() {
  std::lock_guard lock(m_Mutex);
  if (!m_Present) {
    return std::nullopt;
  }
  auto queue = std::make_shared<CReportQueue>();
  std::erase_if(m_Queues, [](const std::weak_ptr<CReportQueue>& q) { return q.expired(); });
  m_Queues.push_back(queue);
  return SimConnection{m_Presence, std::move(queue),
                       m_Mode == SimMode::kBoot ? hid::kBootProductId : hid::kAppProductId};
}

void CSimController::QueueReport(const hid::Frame& frame, Clock::time_point readyAt) {
  m_Log.push_back({readyAt, Direction::kFromDevice, {frame.begin(), frame.end()}, m_Presence});
  for (const auto& weak : m_Queues) {
    if (const auto queue = weak.lock()) {
      queue->Push(frame, readyAt);
    }
  }
}

void CSimController::ScheduleOrApply(const Event& event, Clock::time_point now) {
  if (event.at <= now) {
    Apply(event);
    return;
  }
  m_Events.push_back(event);
  if (!m_Timer.joinable()) {
    // Started with the first delayed change: most controllers never need one.
    m_Timer = std::thread([this] { RunTimer(); });
  }
  m_TimerWake.notify_all();
}

void CSimController::Apply(const Event& event) {
  if (event.stayAway) {
    std::erase_if(m_Events, [](const Event& pending) { return pending.arrive; });
  }
  if (event.arrive) {
    if (!m_Present) {
      Arrive(event.mode);
    }
  } else if (m_Present) {
    Leave(event.at);
  }
}

void CSimController::Leave(Clock::time_point at) {
  m_Present = false;
  for (const auto& weak : m_Queues) {
    if (const auto queue = weak.lock()) {
      queue->MarkGone(at);
    }
  }
  m_Queues.clear();
  m_PendingNotices.push_back(false);
}

void CSimController::Arrive(SimMode mode) {
  // Every arrival is a fresh start: the flash keeps its bytes, the bootloader forgets
  // that it erased.
  m_Present = true;
  m_ErasedThisSession = false;
  m_Mode = mode;
  ++m_Presence;
  m_BusyUntil = {};
  m_PendingNotices.push_back(true);
}

void CSimController::FlushNotices(std::unique_lock<std::mutex>& lock) {
  std::vector<bool> notices;
  notices.swap(m_PendingNotices);
  if (notices.empty()) {
    lock.unlock();
    return;
  }
  // Taken before the state lock is let go, so notices of later changes (made by
  // another thread as soon as it is let go) wait behind these.
  std::unique_lock notify(m_NotifyMutex);
  lock.unlock();
  for (const bool present : notices) {
    for (const auto& [id, listener] : m_Listeners) {
      listener(present);
    }
  }
}

void CSimController::RunTimer() {
  std::unique_lock lock(m_Mutex);
  while (!m_Stopping) {
    if (m_Events.empty()) {
      m_TimerWake.wait(lock);
      continue;
    }
    const auto next = std::min_element(m_Events.begin(), m_Events.end(),
                                       [](const Event& a, const Event& b) { return a.at < b.at; });
    // A copy: the wait lets the lock go, and a change scheduled meanwhile may move the
    // list's storage, which the wait reads the time from again when it wakes.
    const Clock::time_point due = next->at;
    if (Clock::now() < due) {
      m_TimerWake.wait_until(lock, due);
      continue;
    }
    const Event event = *next;
    m_Events.erase(next);
    Apply(event);
    FlushNotices(lock);
    lock.lock();
  }
}

int CSimController::AddPresenceListener(PresenceListener listener) {
  std::lock_guard lock(m_NotifyMutex);
  const int id = m_NextListenerId++;
  m_Listeners.emplace(id, std::move(listener));
  return id;
}

void CSimController::RemovePresenceListener(int id) {
  std::lock_guard lock(m_NotifyMutex);
  m_Listeners.erase(id);
}

void CSimController::Unplug() {
  std::unique_lock lock(m_Mutex);
  m_Events.clear();
  if (m_Present) {
    Leave(Clock::now());
  }
  FlushNotices(lock);
}

void CSimController::PlugIn(std::optional<SimMode> mode) {
  std::unique_lock lock(m_Mutex);
  m_Events.clear();
  if (!m_Present) {
    Arrive(mode.value_or(m_Mode));
  }
  FlushNotices(lock);
}

void CSimController::InjectReport(const hid::Frame& frame) {
  std::lock_guard lock(m_Mutex);
  QueueReport(frame, Clock::now());
}

void CSimController::SetFaults(std::vector<SimFault> faults) {
  std::lock_guard lock(m_Mutex);
  m_Config.faults = std::move(faults);
  m_FaultUsed.assign(m_Config.faults.size(), false);
}

std::vector<SimFrameRecord> CSimController::Log() const {
  std::lock_guard lock(m_Mutex);
  return m_Log;
}

std::vector<SimFrameRecord> CSimController::Received() const {
  std::lock_guard lock(m_Mutex);
  std::vector<SimFrameRecord> received;
  std::copy_if(m_Log.begin(), m_Log.end(), std::back_inserter(received),
               [](const SimFrameRecord& r) { return r.direction == Direction::kToDevice; });
  return received;
}

void CSimController::ClearLog() {
  std::lock_guard lock(m_Mutex);
  m_Log.clear();
}

std::vector<std::uint8_t> CSimController::Storage() const {
  std::lock_guard lock(m_Mutex);
  return m_Flash;
}

std::vector<std::uint8_t> CSimController::StoredRegion() const {
  std::lock_guard lock(m_Mutex);
  const auto begin = m_Flash.begin() + m_RegionOffset;
  return {begin, begin + m_RegionLength};
}

bool CSimController::WasErased() const {
  std::lock_guard lock(m_Mutex);
  return m_Erased;
}

std::uint32_t CSimController::VersionWord() const {
  std::lock_guard lock(m_Mutex);
  return m_VersionWord;
}

SimConfig CSimController::Config() const {
  std::lock_guard lock(m_Mutex);
  return m_Config;
}

}  // namespace sim
