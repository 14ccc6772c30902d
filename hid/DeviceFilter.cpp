#include "hid/DeviceFilter.h"

#include <algorithm>

namespace hid {

CDeviceFilterPlatform::CDeviceFilterPlatform(std::shared_ptr<IHidPlatform> inner,
                                             std::set<std::string> hidden)
    : CForwardingPlatform(std::move(inner)), m_Hidden(std::move(hidden)) {}

std::vector<InterfaceInfo> CDeviceFilterPlatform::EnumerateInterfaces() {
  std::vector<InterfaceInfo> interfaces = Inner().EnumerateInterfaces();
  std::erase_if(interfaces,
                [this](const InterfaceInfo& info) { return m_Hidden.contains(info.path); });
  return interfaces;
}

base::Result<std::unique_ptr<IHidHandle>> CDeviceFilterPlatform::Open(const std::string& path,
                                                                      Access access) {
  if (m_Hidden.contains(path)) {
    return base::Error{base::ErrorKind::kNotFound, "open " + path + ": not the chosen device"};
  }
  return Inner().Open(path, access);
}

}  // namespace hid
