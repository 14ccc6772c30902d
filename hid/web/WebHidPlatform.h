// CWebHidPlatform: the device link's platform in a web page, over WebHID. The page's
// own thread is the only one: every wait (opening, a timed read, a write until the
// browser has sent it, the list of devices) is a promise of the browser that the call
// awaits through Asyncify, so the page keeps drawing and handling events meanwhile.
//
// Interfaces are the controller's devices (vendor 0x4B2E, product 0x6E21 or 0x6E30)
// that the user has allowed this page to use, as navigator.hid.getDevices() lists them;
// each has the path "webhid:N", N a number the page gives the device for as long as it
// stays connected. Application-mode reports go out as report 0x81 with 63 bytes,
// boot-mode reports as report 0 with 64 bytes: the frames CHid builds, split into the
// report ID and its data. A device that was disconnected is gone: its handles' reads
// fail at once with kDeviceGone and their writes fail, also after it came back (the
// browser gives it a new device object, and so a new path).
//
// Arrival and removal notices come from navigator.hid's `connect` and `disconnect`
// events, and from the page when the user allows a device (web-hid.js, `granted`); the
// page hands them to the update control when it is idle (TakeNotices).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hid/HidPlatform.h"

namespace hid {

class CWebHidPlatform : public IHidPlatform {
 public:
  CWebHidPlatform();
  ~CWebHidPlatform() override;
  CWebHidPlatform(const CWebHidPlatform&) = delete;
  CWebHidPlatform& operator=(const CWebHidPlatform&) = delete;

  // False in a browser without WebHID (or a page not served over https or localhost).
  static bool IsAvailable();

  static std::string PathOf(std::uint32_t deviceNumber);  // "webhid:N"
  static std::optional<std::uint32_t> DeviceNumberOf(const std::string& path);

  // IHidPlatform
  std::vector<InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;
  bool RegisterForDeviceNotices(NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  std::vector<std::uint32_t> TakeNotices() override;

  // Whether the browser has WebHID, the controllers the user has allowed, how the last
  // request in the browser's chooser ended (page.js tells web-hid.js), and how the last
  // opening of each allowed controller went. Opens nothing.
  SystemSurvey Survey() override;

 private:
  // The last opening of each path: opened, or refused with the browser's words.
  std::map<std::string, std::pair<NodeAccess, std::string>> m_Access;
};

}  // namespace hid
