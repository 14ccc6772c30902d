// Notices handed from a platform's own thread (a socket reader, a rescan timer, a
// simulated device) to the owner's event loop. An event loop can wait on Fd() being
// readable (QSocketNotifier, poll), on Windows on Event() being signalled
// (WaitForMultipleObjects), or block in WaitFor().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace hid {

class CNoticeQueue {
 public:
  CNoticeQueue();
  ~CNoticeQueue();
  CNoticeQueue(const CNoticeQueue&) = delete;
  CNoticeQueue& operator=(const CNoticeQueue&) = delete;

  void Push(std::uint32_t code);

  // All pending codes, oldest first; the descriptor is no longer readable afterwards.
  std::vector<std::uint32_t> Take();

  // Waits until a code is pending or the time is up. True when one is pending.
  bool WaitFor(std::chrono::milliseconds timeout);

  // Readable while codes are pending; -1 where the platform has no such descriptor.
  int Fd() const { return m_EventFd; }
  // On Windows a manual-reset event (a HANDLE) signalled while codes are pending; null
  // elsewhere.
  void* Event() const { return m_Event; }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Pending;
  std::deque<std::uint32_t> m_Codes;
  int m_EventFd = -1;
  void* m_Event = nullptr;
};

}  // namespace hid
