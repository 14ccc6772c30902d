#include "hid/windows/WindowsHidPlatform.h"
#include "platform/PlatformBackends.h"

namespace platform {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateSystemPlatform(const base::DebugSink&) {
  // Notices go to the window a front end registers (CHid::SetNotifyWindow), or, for
  // one without a window, to the link's hidden window and NoticeEvent().
  return hid::windows::CreateWindowsHidPlatform();
}

}  // namespace platform
