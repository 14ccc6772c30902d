// What sysfs and udev show of the controller's maker (hid/Survey.h), for the diagnosis of a
// controller that cannot be used: the USB devices with its vendor ID, each one's
// interfaces and the driver bound to each, the HID devices with its vendor ID on any bus
// with their hidraw nodes, whether the controller's nodes may be opened, and, when one
// may not, where the udev rule is installed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hid/Survey.h"

struct udev;

namespace hid {

// Where udev reads rules from: the administrator's, the package's, and the local prefix
// that `cmake --install` uses.
inline const std::vector<std::string> kUdevRuleDirectories = {
    "/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/usr/local/lib/udev/rules.d"};

struct LinuxSurveySettings {
  // open(2), for the probe of a node's access (opened and closed at once).
  std::function<int(const char* path, int flags)> openNode;
  bool udevRunning = true;
  std::vector<std::string> ruleDirectories = kUdevRuleDirectories;
};

SystemSurvey SurveyLinux(udev* context, const LinuxSurveySettings& settings);

// The *.rules files in the directories that name the maker's vendor ID (4b2e), in the
// order of the directories and then of the names.
std::vector<std::string> FindUdevRuleFiles(const std::vector<std::string>& directories);

}  // namespace hid
