// Turns hidraw nodes coming and going into arrival (0x8000) and removal (0x8004)
// notices, on a thread of its own.
//
// Two sources, one behaviour. With a udev daemon running, a udev monitor (source
// "udev", so the event comes after the rules have given the user access) wakes the
// thread. Without one (containers, CI) that monitor stays silent, so the thread rescans
// the hidraw nodes every interval and turns the differences into the same notices.
// The monitor is not trusted alone: where /run/udev is shared into a container, udevd
// runs outside and its events never reach us, so the thread also rescans now and then
// while monitoring. Either way a node is known by its sysfs path: an add for a known node or a
// remove for an unknown one says nothing new and is dropped.
//
// Arrival and access. A node that has just appeared may refuse open() for a moment
// (permissions not applied yet, node not created yet). For the controller's own
// interfaces the thread tries to open the new node, for up to accessWait, before it
// announces the arrival, so that the owner's thread, which opens the device in
// response, does not have to wait. After accessWait the arrival is announced all the
// same and the owner's open reports why it failed (e.g. permission denied).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "hid/HidTypes.h"
#include "hid/NoticeQueue.h"
#include "hid/linux/Udev.h"

namespace hid {

enum class NoticeSource {
  kNone,         // not registered, or nothing could be set up
  kUdevMonitor,  // events from the udev daemon
  kRescan,       // periodic comparison of the hidraw nodes
};

class CDeviceWatcher {
 public:
  struct Settings {
    bool useUdevMonitor = false;
    std::chrono::milliseconds rescanInterval{500};
    // While monitoring: how often the nodes are compared all the same.
    std::chrono::milliseconds monitorRescanInterval{2000};
    std::chrono::milliseconds accessWait{2000};
    std::chrono::milliseconds accessRetryStep{100};
    // Opens a node as a probe; -1 with errno set like open(2).
    std::function<int(const char* path, int flags)> openNode;
  };

  // Sets up the source (falling back to rescanning when the monitor cannot be made),
  // takes the nodes present now as known, and starts the thread. Null when even
  // that fails.
  static std::unique_ptr<CDeviceWatcher> Start(Settings settings, CNoticeQueue& notices);

  // Stops the thread and joins it; it wakes at once, also from an access wait.
  ~CDeviceWatcher();
  CDeviceWatcher(const CDeviceWatcher&) = delete;
  CDeviceWatcher& operator=(const CDeviceWatcher&) = delete;

  NoticeSource Source() const {
    return m_bMonitoring ? NoticeSource::kUdevMonitor : NoticeSource::kRescan;
  }

 private:
  CDeviceWatcher(Settings settings, CNoticeQueue& notices);

  void Run();
  void DrainMonitor();
  void Rescan();
  void AnnounceArrival(const udev_support::HidrawNode& node);
  void AnnounceRemoval(const std::string& syspath);
  // True once the node can be opened, or when waiting longer is pointless; false when
  // the thread is asked to stop meanwhile.
  bool AwaitAccess(const InterfaceInfo& info);
  // Waits up to timeout for the stop request; true when it came.
  bool WaitForStop(std::chrono::milliseconds timeout) const;

  const Settings m_Settings;
  CNoticeQueue& m_Notices;
  udev_support::UdevPtr m_Udev;
  udev_support::UdevMonitorPtr m_Monitor;  // null when rescanning
  std::atomic<bool> m_bMonitoring{false};
  int m_StopFd = -1;
  // The nodes announced so far, by sysfs path; only the thread touches it once running.
  std::map<std::string, InterfaceInfo> m_Known;
  std::thread m_Thread;
};

}  // namespace hid
