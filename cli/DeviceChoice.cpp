#include "cli/DeviceChoice.h"

#include <set>

#include "cli/Messages.h"
#include "hid/DeviceFilter.h"
#include "hid/Hid.h"

namespace cli {

std::shared_ptr<hid::IHidPlatform> ControllerChoice::Alone(
    std::shared_ptr<hid::IHidPlatform> platform, const std::string& path) const {
  std::set<std::string> others;
  for (const hid::InterfaceInfo& info : present) {
    if (info.path != path) {
      others.insert(info.path);
    }
  }
  if (others.empty()) {
    return platform;
  }
  return std::make_shared<hid::CDeviceFilterPlatform>(std::move(platform), std::move(others));
}

std::variant<ControllerChoice, CommandResult> ChooseControllers(
    hid::IHidPlatform& platform, const std::optional<std::string>& wanted, HowMany howMany) {
  ControllerChoice choice;
  choice.present = hid::ListControllers(platform);
  if (choice.present.empty()) {
    return Failure(ExitCode::kNoDevice, Tr("no controller found: plug it in and run again (one "
                                           "waiting in boot mode is found too)"));
  }
  std::string list;
  for (const hid::InterfaceInfo& info : choice.present) {
    list += (list.empty() ? "" : ", ") + info.path;
  }
  if (wanted) {
    for (const hid::InterfaceInfo& info : choice.present) {
      if (info.path == *wanted) {
        choice.chosen.push_back(info);
      }
    }
    if (choice.chosen.empty()) {
      return Failure(ExitCode::kNoDevice,
                     Fmt(Tr("no controller at {0} (present: {1}): give one of those to --device"),
                         {*wanted, list}));
    }
    return choice;
  }
  if (howMany == HowMany::kOnlyOne && choice.present.size() > 1) {
    return Failure(ExitCode::kSeveralDevices,
                   Fmt(Tr("{0} controllers found ({1}): choose one with --device PATH"),
                       {std::to_string(choice.present.size()), list}));
  }
  choice.chosen = choice.present;
  return choice;
}

}  // namespace cli
