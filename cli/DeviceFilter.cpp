#include "cli/DeviceFilter.h"

#include <algorithm>

#include "hid/HidTypes.h"

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

bool IsController(const hid::InterfaceInfo& info) {
  return info.vendorId == hid::kVendorId &&
         (info.productId == hid::kAppProductId || info.productId == hid::kBootProductId);
}

std::vector<hid::InterfaceInfo> ListControllers(hid::IHidPlatform& platform) {
  std::vector<hid::InterfaceInfo> interfaces = platform.EnumerateInterfaces();
  std::erase_if(interfaces, [](const hid::InterfaceInfo& info) { return !IsController(info); });
  return interfaces;
}

}  // namespace cli
