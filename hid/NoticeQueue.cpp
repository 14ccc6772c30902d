#include "hid/NoticeQueue.h"

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace hid {

CNoticeQueue::CNoticeQueue() {
#if defined(__linux__)
  m_EventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
#elif defined(_WIN32)
  m_Event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
#endif
}

CNoticeQueue::~CNoticeQueue() {
#if defined(__linux__)
  if (m_EventFd >= 0) {
    ::close(m_EventFd);
  }
#elif defined(_WIN32)
  if (m_Event != nullptr) {
    ::CloseHandle(m_Event);
  }
#endif
}

void CNoticeQueue::Push(std::uint32_t code) {
  {
    std::lock_guard lock(m_Mutex);
    m_Codes.push_back(code);
#if defined(_WIN32)
    if (m_Event != nullptr) {
      ::SetEvent(m_Event);
    }
#endif
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
#elif defined(_WIN32)
  if (m_Event != nullptr) {
    ::ResetEvent(m_Event);  // under the lock: a Push after this sets it again
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
