#include "hid/NoticeQueue.h"

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace hid {

CNoticeQueue::CNoticeQueue() {
#if defined(__linux__)
  m_EventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
#endif
}

CNoticeQueue::~CNoticeQueue() {
#if defined(__linux__)
  if (m_EventFd >= 0) {
    ::close(m_EventFd);
  }
#endif
}

void CNoticeQueue::Push(std::uint32_t code) {
  {
    std::lock_guard lock(m_Mutex);
    m_Codes.push_back(code);
  }
#if defined(__linux__)
  if (m_EventFd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_EventFd, &one, sizeof one);
  }
#endif
  m_Pending.notify_all();
}

std::vector<std::uint32_t> CNoticeQueue::Take() {
  std::lock_guard lock(m_Mutex);
#if defined(__linux__)
  if (m_EventFd >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_EventFd, &count, sizeof count);
  }
#endif
  std::vector<std::uint32_t> codes(m_Codes.begin(), m_Codes.end());
  m_Codes.clear();
  return codes;
}

bool CNoticeQueue::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_Mutex);
  return m_Pending.wait_for(lock, timeout, [this] { return !m_Codes.empty(); });
}

}  // namespace hid
