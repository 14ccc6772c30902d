// The input reports one opened handle of the simulated controller has waiting, as an
// operating system's HID driver keeps them per open file: the oldest first, at most 64.
// Each report carries the time it reaches the host (the device's reply latency), and a
// read sees it only from then on. Once the device has gone away the queue stays gone:
// reports that had reached the host before are still read, then every read fails at
// once, as hidraw does after an unplug.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

namespace sim {

using Clock = std::chrono::steady_clock;

class CReportQueue {
 public:
  static constexpr std::size_t kCapacity = 64;

  // Queues a report that reaches the host at readyAt. Reports are kept in the order in
  // which they reach the host; one pushed into a full queue is lost (hidraw drops new
  // reports while its list is full). Nothing is queued once the device is gone.
  void Push(const hid::Frame& frame, Clock::time_point readyAt);

  // The device went away at `at`: reports that had not reached the host by then are
  // dropped, and every read after the remaining ones fails with kDeviceGone.
  void MarkGone(Clock::time_point at);

  // Waits at most timeout for a report that has reached the host.
  hid::ReadOutcome Read(hid::Frame& frame, std::chrono::milliseconds timeout);

  // Reports queued, reached the host or not.
  std::size_t Pending() const;

 private:
  struct Entry {
    hid::Frame frame;
    Clock::time_point readyAt;
  };

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::deque<Entry> m_Entries;
  bool m_Gone = false;
};

}  // namespace sim
