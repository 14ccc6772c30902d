#include "cli/DeviceChoice.h"

#include <algorithm>

#include "cli/Messages.h"
#include "hid/Hid.h"

namespace cli {

CDeviceFilterPlatform::CDeviceFilterPlatform(std::shared_ptr<hid::IHidPlatform> inner,
                                             std::set<std::string> hidden)
    : m_Inner(std::move(inner)), m_Hidden(std::move(hidden)) {}

std::vector<hid::InterfaceInfo> CDeviceFilterPlatform::EnumerateInterfaces() {
  std::vector<hid::InterfaceInfo> interfaces = m_Inner->EnumerateInterfaces();
  std::erase_if(interfaces,
                [this](const hid::InterfaceInfo& info) { return m_Hidden.contains(info.path); });
  return interfaces;
}

base::Result<std::unique_ptr<hid::IHidHandle>> CDeviceFilterPlatform::Open(const std::string& path,
                                                                           hid::Access access) {
  if (m_Hidden.contains(path)) {
    return base::Error{base::ErrorKind::kNotFound, "open " + path + ": not the chosen device"};
  }
  return m_Inner->Open(path, access);
}

bool CDeviceFilterPlatform::RegisterForDeviceNotices(hid::NativeWindow notifyWindow) {
  return m_Inner->RegisterForDeviceNotices(notifyWindow);
}

void CDeviceFilterPlatform::UnregisterDeviceNotices() {
  m_Inner->UnregisterDeviceNotices();
}

int CDeviceFilterPlatform::NoticeFd() const {
  return m_Inner->NoticeFd();
}

void* CDeviceFilterPlatform::NoticeEvent() const {
  return m_Inner->NoticeEvent();
}

std::vector<std::uint32_t> CDeviceFilterPlatform::TakeNotices() {
  return m_Inner->TakeNotices();
}

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
  return std::make_shared<CDeviceFilterPlatform>(std::move(platform), std::move(others));
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
