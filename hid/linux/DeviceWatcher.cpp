#include "hid/linux/DeviceWatcher.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "hid/linux/HidrawHandle.h"

namespace hid {
namespace {

udev_support::UdevMonitorPtr MakeHidrawMonitor(udev* context) {
  // Source "udev": events after udevd ran its rules, so the node already carries the
  // permissions it will have. The filter must be in place before receiving starts.
  udev_support::UdevMonitorPtr monitor(udev_monitor_new_from_netlink(context, "udev"));
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    return nullptr;
  }
  return monitor;
}

}  // namespace

CDeviceWatcher::CDeviceWatcher(Settings settings, CNoticeQueue& notices)
    : m_Settings(std::move(settings)), m_Notices(notices) {}

std::unique_ptr<CDeviceWatcher> CDeviceWatcher::Start(Settings settings, CNoticeQueue& notices) {
  std::unique_ptr<CDeviceWatcher> watcher(new CDeviceWatcher(std::move(settings), notices));
  watcher->m_Udev = udev_support::NewContext();
  watcher->m_StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!watcher->m_Udev || watcher->m_StopFd < 0) {
    return nullptr;
  }
  if (watcher->m_Settings.useUdevMonitor) {
    watcher->m_Monitor = MakeHidrawMonitor(watcher->m_Udev.get());
    watcher->m_bMonitoring = watcher->m_Monitor != nullptr;
  }
  // Listening first, then listing, so that no node falls between the two; an add that
  // repeats a listed node is dropped as already known.
  for (auto& node : udev_support::ListHidrawNodes(watcher->m_Udev.get())) {
    watcher->m_Known.emplace(std::move(node.syspath), std::move(node.info));
  }
  try {
    watcher->m_Thread = std::thread([raw = watcher.get()] { raw->Run(); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return watcher;
}

CDeviceWatcher::~CDeviceWatcher() {
  if (m_Thread.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_StopFd, &one, sizeof one);
    m_Thread.join();
  }
  if (m_StopFd >= 0) {
    ::close(m_StopFd);
  }
}

void CDeviceWatcher::Run() {
  for (;;) {
    if (!m_Monitor) {
      if (WaitForStop(m_Settings.rescanInterval)) {
        return;
      }
      Rescan();
      continue;
    }
    pollfd waits[2] = {{m_StopFd, POLLIN, 0}, {udev_monitor_get_fd(m_Monitor.get()), POLLIN, 0}};
    const int ready = ::poll(waits, 2, static_cast<int>(m_Settings.monitorRescanInterval.count()));
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (ready == 0) {
      Rescan();
      continue;
    }
    if ((waits[0].revents & POLLIN) != 0) {
      return;
    }
    if ((waits[1].revents & POLLIN) != 0) {
      DrainMonitor();
    } else if ((waits[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      // The monitor's socket broke: go on by rescanning rather than spin on it.
      m_Monitor.reset();
      m_bMonitoring = false;
    }
  }
}

void CDeviceWatcher::DrainMonitor() {
  // The monitor's socket does not block: take every queued event on each wake.
  while (udev_device* raw = udev_monitor_receive_device(m_Monitor.get())) {
    const udev_support::UdevDevicePtr device(raw);
    const char* action = udev_device_get_action(raw);
    const char* syspath = udev_device_get_syspath(raw);
    if (action == nullptr || syspath == nullptr) {
      continue;
    }
    if (std::strcmp(action, "add") == 0) {
      if (auto node = udev_support::DescribeHidraw(raw)) {
        AnnounceArrival(*node);
      }
    } else if (std::strcmp(action, "remove") == 0) {
      // A removed node has no HID_ID left to read; the sysfs path is what we kept.
      AnnounceRemoval(syspath);
    } else if (std::strcmp(action, "change") == 0 || std::strcmp(action, "bind") == 0) {
      // The controller's node changed in place (a driver bound, a property changed): the
      // device tree changed under it, as Windows says with DBT_DEVNODES_CHANGED.
      const auto known = m_Known.find(syspath);
      const auto node = known == m_Known.end() ? udev_support::DescribeHidraw(raw) : std::nullopt;
      if ((known != m_Known.end() && IsController(known->second)) ||
          (node && IsController(node->info))) {
        m_Notices.Push(kNoticeDevNodesChanged);
      }
    }
  }
}

void CDeviceWatcher::Rescan() {
  const auto present = udev_support::ListHidrawNodes(m_Udev.get());
  std::set<std::string> presentPaths;
  for (const auto& node : present) {
    presentPaths.insert(node.syspath);
  }
  std::vector<std::string> gone;
  for (const auto& [syspath, info] : m_Known) {
    if (presentPaths.count(syspath) == 0) {
      gone.push_back(syspath);
    }
  }
  for (const auto& syspath : gone) {
    AnnounceRemoval(syspath);
  }
  for (const auto& node : present) {
    AnnounceArrival(node);
  }
}

void CDeviceWatcher::AnnounceArrival(const udev_support::HidrawNode& node) {
  if (m_Known.count(node.syspath) != 0) {
    return;
  }
  if (IsController(node.info) && !AwaitAccess(node.info)) {
    return;  // stopping: nobody is left to tell
  }
  m_Known.emplace(node.syspath, node.info);
  m_Notices.Push(kNoticeArrival);
}

void CDeviceWatcher::AnnounceRemoval(const std::string& syspath) {
  if (m_Known.erase(syspath) != 0) {
    m_Notices.Push(kNoticeRemoveComplete);
  }
}

bool CDeviceWatcher::AwaitAccess(const InterfaceInfo& info) {
  const auto deadline = std::chrono::steady_clock::now() + m_Settings.accessWait;
  for (;;) {
    // Read and write, non-blocking: what the link will ask for, without side effects.
    const int fd =
        m_Settings.openNode(info.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    const int error = errno;
    const auto now = std::chrono::steady_clock::now();
    if (!IsTransientOpenError(error) || now >= deadline) {
      return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (WaitForStop(std::min(m_Settings.accessRetryStep, left))) {
      return false;
    }
  }
}

bool CDeviceWatcher::WaitForStop(std::chrono::milliseconds timeout) const {
  pollfd wait{m_StopFd, POLLIN, 0};
  const int ready = ::poll(&wait, 1, static_cast<int>(timeout.count()));
  return ready > 0 && (wait.revents & POLLIN) != 0;
}

}  // namespace hid
