// CSimPlatform: the platform interface of the device link backed by simulated
// controllers in this process. Each controller is one HID interface with the path
// "sim:N" (N its place in the list), plugged in at the port "sim-port-N"; enumeration
// lists those present with the product ID of their current mode.
//
// Handles behave as an operating system's do: each has its own queue of input reports
// (64 at most, the oldest first); a read waits up to its time-out for a report that has
// reached the host, and fails at once with kDeviceGone when the device has left since
// the handle was opened, even after it came back. Writes hand the frame to the device
// and fail while it is away.
//
// Arrival and removal notices go to a notice queue while the owner is registered
// (RegisterForDeviceNotices), readable through NoticeFd() (NoticeEvent() on Windows), TakeNotices()
// and Notices().
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"
#include "hid/NoticeQueue.h"
#include "sim/SimController.h"

namespace sim {

// One read of a handle, for tests that count reads or look at their timing.
struct SimReadRecord {
  std::string path;
  Clock::time_point start;
  Clock::time_point end;
  hid::ReadOutcome outcome = hid::ReadOutcome::kTimeout;
};

class CSimPlatform : public hid::IHidPlatform {
 public:
  explicit CSimPlatform(std::shared_ptr<CSimController> controller);
  explicit CSimPlatform(std::vector<std::shared_ptr<CSimController>> controllers);
  ~CSimPlatform() override;
  CSimPlatform(const CSimPlatform&) = delete;
  CSimPlatform& operator=(const CSimPlatform&) = delete;

  static std::string PathOf(std::size_t index);      // "sim:0", "sim:1", ...
  static std::string LocationOf(std::size_t index);  // "sim-port-0", ...

  CSimController& Controller(std::size_t index = 0) { return *m_Controllers.at(index); }
  hid::CNoticeQueue& Notices() { return m_Notices; }
  std::vector<SimReadRecord> Reads() const;

  // hid::IHidPlatform
  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;
  bool RegisterForDeviceNotices(hid::NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  int NoticeFd() const override { return m_Notices.Fd(); }
  void* NoticeEvent() const override { return m_Notices.Event(); }
  std::vector<std::uint32_t> TakeNotices() override { return m_Notices.Take(); }

 private:
  class CHandle;
  void RecordRead(SimReadRecord record);

  const std::vector<std::shared_ptr<CSimController>> m_Controllers;
  std::vector<int> m_ListenerIds;
  hid::CNoticeQueue m_Notices;

  mutable std::mutex m_Mutex;
  bool m_Registered = false;
  std::vector<SimReadRecord> m_Reads;
};

}  // namespace sim
