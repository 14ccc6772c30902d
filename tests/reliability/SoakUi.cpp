#include "tests/reliability/SoakUi.h"

#include <algorithm>

namespace soak {

void CSoakUi::Prepare(std::string imagePath, StopPoint stopAt, int stopAtProgress) {
  std::lock_guard lock(m_Mutex);
  m_Image = std::move(imagePath);
  m_StopAt = stopAt;
  m_StopAtProgress = stopAtProgress;
  m_Poked = false;
  m_Held.reset();
}

void CSoakUi::SetStop(std::function<void()> stop) {
  std::lock_guard lock(m_Mutex);
  m_Stop = std::move(stop);
}

std::optional<Hold> CSoakUi::WaitForHold(std::chrono::milliseconds timeout) {
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

void CSoakUi::StopInPlace(StopPoint point) {
  std::function<void()> stop;
  {
    std::lock_guard lock(m_Mutex);
    if (m_StopAt != point) {
      return;
    }
    m_StopAt = StopPoint::kNone;
    stop = m_Stop;
  }
  if (stop) {
    stop();
  }
}

std::optional<std::string> CSoakUi::ShowOpenFileDialog(const update::OpenFileRequest&) {
  std::string image;
  {
    std::lock_guard lock(m_Mutex);
    // Every run begins here: a second one inside at the same time breaks the rule.
    m_MostRunsAtOnce = std::max(m_MostRunsAtOnce, ++m_RunsInside);
    image = m_Image;
  }
  StopInPlace(StopPoint::kChoosing);
  return image;
}

update::MessageResult CSoakUi::ShowMessageBox(const std::string&, const std::string&,
                                              update::MessageButtons buttons) {
  if (buttons == update::MessageButtons::kOkCancel) {
    StopInPlace(StopPoint::kPrompt);
  }
  return update::MessageResult::kOk;
}

void CSoakUi::SetProgress(std::int32_t position) {
  std::unique_lock lock(m_Mutex);
  const auto hold = [&](Hold why) {
    m_Held = why;
    m_Changed.notify_all();
    // Far longer than the soak takes to notice a held run; reaching it means it hung.
    m_Changed.wait_for(lock, std::chrono::seconds(30), [this] { return !m_Held.has_value(); });
  };
  if (!m_Poked) {
    m_Poked = true;
    hold(Hold::kPoke);
  }
  if (m_StopAt == StopPoint::kProgress && position >= m_StopAtProgress) {
    m_StopAt = StopPoint::kNone;
    hold(Hold::kStop);
  }
}

}  // namespace soak
