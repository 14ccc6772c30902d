// Chooses one controller among several: a platform that hides the other controllers'
// interfaces from everything above it, so that CHid's search (the first match wins)
// finds the chosen one, also after it has restarted into boot mode and back under a
// new path, as a hidraw node does. Notices pass through unchanged: the controller
// searches afresh on each one, and the search sees only what this platform lists.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"

namespace cli {

class CDeviceFilterPlatform final : public hid::IHidPlatform {
 public:
  CDeviceFilterPlatform(std::shared_ptr<hid::IHidPlatform> inner, std::set<std::string> hidden);

  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;
  bool RegisterForDeviceNotices(hid::NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  int NoticeFd() const override;
  void* NoticeEvent() const override;
  std::vector<std::uint32_t> TakeNotices() override;

 private:
  const std::shared_ptr<hid::IHidPlatform> m_Inner;
  const std::set<std::string> m_Hidden;
};

// True for the controller's interfaces: our vendor ID with the application-mode or
// the boot-mode product ID.
bool IsController(const hid::InterfaceInfo& info);

// The controllers the platform lists now, in its order.
std::vector<hid::InterfaceInfo> ListControllers(hid::IHidPlatform& platform);

}  // namespace cli
