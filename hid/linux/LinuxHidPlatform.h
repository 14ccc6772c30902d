// The device link's platform on Linux: hidraw nodes found with libudev, opened and
// read with poll(), watched with a udev monitor or, where no udev daemon runs, by
// rescanning.
//
// Opening a node that has just appeared. After a device restarts (into its bootloader
// and back) its new node may refuse open() for a moment, with EACCES until udev has
// given the user access or ENOENT until the node exists; this settles within about two
// seconds. The owner's thread must never wait that long on the platform: nothing here
// holds the window's thread for more than about one read time-out (200 ms), apart from
// a write, which blocks until the kernel has sent it (its own USB time-out bounds a
// wedged device). So the wait is split:
//   - The notice thread holds back the arrival notice of a controller interface until
//     its node can be opened (up to LinuxHidOptions::arrivalAccessWait, 2 s). The
//     owner reacts to the notice by opening the device, which by then succeeds at once.
//   - Open() itself retries the same errors only briefly (openRetryBudget, 80 ms), for
//     an owner that searches without being told (a start-up scan, a front end that
//     polls). Two opens of one OpenDevice (write, then read side) stay within 200 ms.
// A node that still refuses after that gives kPermissionDenied or kNotFound, so a
// front end can tell the user to install packaging/70-corvane-update.rules.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "hid/HidPlatform.h"
#include "hid/NoticeQueue.h"
#include "hid/linux/DeviceWatcher.h"
#include "hid/linux/LinuxSurvey.h"

namespace hid {

struct LinuxHidOptions {
  // How often the hidraw nodes are compared when no udev daemon runs.
  std::chrono::milliseconds rescanInterval{500};
  // How long Open() retries a node that refuses for a moment (see above).
  std::chrono::milliseconds openRetryBudget{80};
  // How long an arrival notice of a controller interface waits for its node to open.
  std::chrono::milliseconds arrivalAccessWait{2000};
  // Whether a udev daemon runs and its monitor will deliver events. Empty: it does
  // when /run/udev/control exists.
  std::function<bool()> isUdevRunning;
  // open(2) for device nodes, replaceable by tests: returns a descriptor, or -1 with
  // errno set. Empty: ::open.
  std::function<int(const char* path, int flags)> openNode;
  // Where Survey looks for the udev rule.
  std::vector<std::string> udevRuleDirectories = kUdevRuleDirectories;
  // Receives the one line that says notices come from rescanning (no udev daemon).
  base::DebugSink debug;
};

class CLinuxHidPlatform final : public IHidPlatform {
 public:
  explicit CLinuxHidPlatform(LinuxHidOptions options = {});
  ~CLinuxHidPlatform() override;
  CLinuxHidPlatform(const CLinuxHidPlatform&) = delete;
  CLinuxHidPlatform& operator=(const CLinuxHidPlatform&) = delete;

  // The hidraw nodes whose parent hid device names its USB IDs (HID_ID), in libudev's
  // enumeration order; path is the device node (/dev/hidrawN).
  std::vector<InterfaceInfo> EnumerateInterfaces() override;

  // kWrite: O_WRONLY, writes block until done. kRead: O_RDONLY and non-blocking, read
  // with poll(); the report descriptor decides whether reads get a 0x00 ID byte added.
  // Errors: kPermissionDenied (EACCES, EPERM), kNotFound (ENOENT, ENODEV, ENXIO), kIo.
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;

  // Starts the notice thread; the window handle is not used on Linux. True while a
  // notice source runs (also after a second call).
  bool RegisterForDeviceNotices(NativeWindow notifyWindow) override;
  // Stops the notice thread and waits for it; it wakes at once.
  void UnregisterDeviceNotices() override;

  // Readable while notices are pending; drain with TakeNotices on the owner's thread.
  int NoticeFd() const override { return m_Notices.Fd(); }
  std::vector<std::uint32_t> TakeNotices() override { return m_Notices.Take(); }

  // The maker's USB and HID devices as sysfs shows them, the controller's nodes probed
  // for access (opened and closed), udev, and the rule file when a node is refused.
  SystemSurvey Survey() override;

  // Which source delivers notices now, for diagnostics and tests.
  NoticeSource ActiveNoticeSource() const;

 private:
  base::Result<int> OpenNodeBriefly(const std::string& path, int flags) const;

  const LinuxHidOptions m_Options;
  CNoticeQueue m_Notices;
  mutable std::mutex m_WatcherMutex;
  std::unique_ptr<CDeviceWatcher> m_Watcher;
  bool m_bToldRescan = false;  // under m_WatcherMutex: the rescan's debug line is said once
};

// What the front ends call.
std::shared_ptr<IHidPlatform> CreateLinuxHidPlatform(LinuxHidOptions options = {});

}  // namespace hid
