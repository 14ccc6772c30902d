#include "tests/reliability/SoakUi.h"

#include <algorithm>

namespace soak {
namespace {

// Far longer than the soak takes to notice a held run; reaching it means the soak hung.
constexpr auto kHoldBound = std::chrono::seconds(30);

}  // namespace

void CSoakUi::Prepare(std::string imagePath, std::vector<Hold> holds) {
  std::lock_guard lock(m_Mutex);
  m_Image = std::move(imagePath);
  m_Holds = std::move(holds);
  m_NextHold = 0;
  m_Held.reset();
}

void CSoakUi::SetMeanwhile(std::function<void(std::size_t)> meanwhile) {
  std::lock_guard lock(m_Mutex);
  m_Meanwhile = std::move(meanwhile);
}

std::optional<std::size_t> CSoakUi::WaitForHold(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_Mutex);
  m_Changed.wait_for(lock, timeout, [this] { return m_Held.has_value(); });
  return m_Held;
}

void CSoakUi::Release() {
  {
    std::lock_guard lock(m_Mutex);
    m_Held.reset();
  }
  m_Changed.notify_all();
}

void CSoakUi::RunFinished() {
  std::lock_guard lock(m_Mutex);
  m_RunsInside = std::max(0, m_RunsInside - 1);
}

int CSoakUi::MostRunsAtOnce() const {
  std::lock_guard lock(m_Mutex);
  return m_MostRunsAtOnce;
}

void CSoakUi::MaybeHold(StopPoint point, int progress) {
  std::unique_lock lock(m_Mutex);
  while (m_NextHold < m_Holds.size()) {
    const Hold& hold = m_Holds[m_NextHold];
    if (hold.at != point || (point == StopPoint::kProgress && progress < hold.progress)) {
      return;
    }
    const std::size_t index = m_NextHold++;
    if (point != StopPoint::kProgress) {
      const auto meanwhile = m_Meanwhile;
      lock.unlock();
      if (meanwhile) {
        meanwhile(index);
      }
      lock.lock();
      continue;
    }
    m_Held = index;
    m_Changed.notify_all();
    m_Changed.wait_for(lock, kHoldBound, [this] { return !m_Held.has_value(); });
  }
}

std::optional<std::string> CSoakUi::ShowOpenFileDialog(const update::OpenFileRequest&) {
  std::string image;
  {
    std::lock_guard lock(m_Mutex);
    // Every run begins here: a second one inside at the same time breaks the rule.
    ++m_RunsInside;
    m_MostRunsAtOnce = std::max(m_MostRunsAtOnce, m_RunsInside);
    image = m_Image;
  }
  MaybeHold(StopPoint::kChoosing, 0);
  return image;
}

update::MessageResult CSoakUi::ShowMessageBox(const std::string&, const std::string&,
                                              update::MessageButtons buttons) {
  if (buttons == update::MessageButtons::kOkCancel) {
    MaybeHold(StopPoint::kPrompt, 0);
  }
  return update::MessageResult::kOk;
}

void CSoakUi::SetProgress(std::int32_t position) {
  MaybeHold(StopPoint::kProgress, position);
}

}  // namespace soak
