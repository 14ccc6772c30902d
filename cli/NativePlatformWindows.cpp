#include "cli/NativePlatform.h"
#include "hid/windows/WindowsHidPlatform.h"

namespace cli {

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateNativePlatform() {
  // Without a window: notices come from the platform's hidden window, through
  // NoticeEvent().
  return hid::windows::CreateWindowsHidPlatform();
}

}  // namespace cli
