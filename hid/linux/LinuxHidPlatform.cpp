#include "hid/linux/LinuxHidPlatform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "hid/linux/HidrawHandle.h"
#include "hid/linux/ReportDescriptor.h"
#include "hid/linux/Udev.h"

namespace hid {
namespace {

constexpr std::chrono::milliseconds kOpenRetryStep{20};
constexpr int kNodeFlags = O_CLOEXEC | O_NOCTTY;

LinuxHidOptions WithDefaults(LinuxHidOptions options) {
  if (!options.isUdevRunning) {
    // udevd creates its control socket when it starts; without it the "udev" monitor
    // would never hear anything.
    options.isUdevRunning = [] { return ::access("/run/udev/control", F_OK) == 0; };
  }
  if (!options.openNode) {
    options.openNode = [](const char* path, int flags) { return ::open(path, flags); };
  }
  return options;
}

}  // namespace

CLinuxHidPlatform::CLinuxHidPlatform(LinuxHidOptions options)
    : m_Options(WithDefaults(std::move(options))) {}

CLinuxHidPlatform::~CLinuxHidPlatform() {
  UnregisterDeviceNotices();
}

std::vector<InterfaceInfo> CLinuxHidPlatform::EnumerateInterfaces() {
  const auto context = udev_support::NewContext();
  std::vector<InterfaceInfo> interfaces;
  for (auto& node : udev_support::ListHidrawNodes(context.get())) {
    interfaces.push_back(std::move(node.info));
  }
  return interfaces;
}

base::Result<int> CLinuxHidPlatform::OpenNodeBriefly(const std::string& path, int flags) const {
  const auto deadline = std::chrono::steady_clock::now() + m_Options.openRetryBudget;
  for (;;) {
    const int fd = m_Options.openNode(path.c_str(), flags);
    if (fd >= 0) {
      return fd;
    }
    const int error = errno;
    if (error == EINTR) {
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!IsTransientOpenError(error) || now >= deadline) {
      return OpenError(error, path);
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kOpenRetryStep, deadline - now));
  }
}

base::Result<std::unique_ptr<IHidHandle>> CLinuxHidPlatform::Open(const std::string& path,
                                                                  Access access) {
  const int flags =
      access == Access::kWrite ? (O_WRONLY | kNodeFlags) : (O_RDONLY | O_NONBLOCK | kNodeFlags);
  auto fd = OpenNodeBriefly(path, flags);
  if (!fd) {
    return fd.error();
  }
  if (access == Access::kWrite) {
    // Writes go out as handed: the framing of reads does not matter here.
    return std::unique_ptr<IHidHandle>(new CHidrawHandle(fd.value(), false));
  }
  // The node answers for its own descriptor; sysfs holds the same bytes for nodes that
  // do not (and for test doubles of the node).
  auto descriptor = ReadReportDescriptor(fd.value());
  if (!descriptor) {
    const auto context = udev_support::NewContext();
    auto fromSysfs = udev_support::ReadSysfsReportDescriptor(context.get(), path);
    if (!fromSysfs) {
      ::close(fd.value());
      return fromSysfs.error().WithContext("reading the report descriptor of " + path);
    }
    descriptor = std::move(fromSysfs.value());
  }
  return std::unique_ptr<IHidHandle>(
      new CHidrawHandle(fd.value(), UsesNumberedReports(*descriptor)));
}

bool CLinuxHidPlatform::RegisterForDeviceNotices(NativeWindow) {
  std::lock_guard lock(m_WatcherMutex);
  if (!m_Watcher) {
    CDeviceWatcher::Settings settings;
    settings.useUdevMonitor = m_Options.isUdevRunning();
    settings.rescanInterval = m_Options.rescanInterval;
    settings.accessWait = m_Options.arrivalAccessWait;
    settings.openNode = m_Options.openNode;
    m_Watcher = CDeviceWatcher::Start(std::move(settings), m_Notices);
    if (m_Watcher && m_Watcher->Source() == NoticeSource::kRescan && !m_bToldRescan) {
      m_bToldRescan = true;
      base::WriteDebugLine(m_Options.debug,
                           "no udev daemon runs (no /run/udev/control): looking for controllers "
                           "every " +
                               std::to_string(m_Options.rescanInterval.count()) +
                               " ms instead of waiting for its notices\n");
    }
  }
  return m_Watcher != nullptr;
}

void CLinuxHidPlatform::UnregisterDeviceNotices() {
  std::unique_ptr<CDeviceWatcher> watcher;
  {
    std::lock_guard lock(m_WatcherMutex);
    watcher = std::move(m_Watcher);
  }
  watcher.reset();  // joins the thread, outside the lock
}

SystemSurvey CLinuxHidPlatform::Survey() {
  const auto context = udev_support::NewContext();
  LinuxSurveySettings settings;
  settings.openNode = m_Options.openNode;
  settings.udevRunning = m_Options.isUdevRunning();
  settings.ruleDirectories = m_Options.udevRuleDirectories;
  return SurveyLinux(context.get(), settings);
}

NoticeSource CLinuxHidPlatform::ActiveNoticeSource() const {
  std::lock_guard lock(m_WatcherMutex);
  return m_Watcher ? m_Watcher->Source() : NoticeSource::kNone;
}

std::shared_ptr<IHidPlatform> CreateLinuxHidPlatform(LinuxHidOptions options) {
  return std::make_shared<CLinuxHidPlatform>(std::move(options));
}

}  // namespace hid
