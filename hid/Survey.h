// What a platform sees of the controller's maker on this machine, for the diagnosis of a
// controller that cannot be used (update/Diagnosis.h turns it into findings). Only
// facts: the platform reports, the core judges. Surveying sends nothing to any device;
// it reads the system's device tree (sysfs, the configuration manager, the browser's
// grants) and opens only the controller's own interfaces, to learn whether they may be
// opened, closing them again at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hid {

// The bus a HID interface reaches the machine over (the first field of Linux's HID_ID).
enum class HidBus {
  kUsb,        // 0003: on the cable (or behind a USB receiver)
  kBluetooth,  // 0005: paired over Bluetooth
  kOther,
};

// Whether an interface's node may be opened for reading and writing.
enum class NodeAccess {
  kNotChecked,  // not the controller's, or the platform cannot tell
  kOpenable,
  kDenied,   // the system refuses this user (Linux: no udev rule applied)
  kMissing,  // the interface is listed but its node does not exist (a container's /dev)
  kBusy,     // another program holds it for itself (Windows)
  kFailed,   // any other reason; see accessReason
};

// One HID interface with the maker's vendor ID.
struct SurveyedInterface {
  std::string path;  // what opens it: /dev/hidrawN, a Windows interface path; empty: none
  std::uint16_t productId = 0;
  HidBus bus = HidBus::kUsb;
  NodeAccess access = NodeAccess::kNotChecked;
  std::string accessReason = {};  // the system's words when it may not be opened

  bool operator==(const SurveyedInterface&) const = default;
};

// One function (USB interface) of a USB device, or on Windows a device node under it.
struct SurveyedFunction {
  std::string name;                 // "1-2:1.0", or a Windows instance id
  std::string driver;               // the driver bound to it; empty: none
  std::uint8_t interfaceClass = 0;  // bInterfaceClass: 0x03 is HID; 0 where unknown
  std::uint32_t problem = 0;        // Windows: the configuration manager's CM_PROB_*, 0 none

  bool operator==(const SurveyedFunction&) const = default;
};

// One USB device with the maker's vendor ID.
struct SurveyedUsbDevice {
  std::string place;  // where it is plugged in: "1-2", a location path, an instance id
  std::uint16_t productId = 0;
  std::vector<SurveyedFunction> functions = {};
  bool hasHidInterface = false;  // a HID interface the link can list hangs below it
  std::uint32_t problem = 0;     // Windows: the device's own CM_PROB_*, 0 none

  bool operator==(const SurveyedUsbDevice&) const = default;
};

// What the web page knows: WebHID lists only the devices the user has allowed.
struct WebGrants {
  enum class Request {
    kNotAsked,  // the browser's chooser was not opened yet
    kGranted,   // the user chose a device
    kNoChoice,  // the chooser was closed without a choice
    kBlocked,   // the browser refused to show it (site settings, policy); see reason
  };
  bool available = true;  // the browser has WebHID (and the page is a secure context)
  int granted = 0;        // devices with the vendor ID the page may use now
  Request request = Request::kNotAsked;
  std::string reason = {};  // kBlocked: the browser's words

  bool operator==(const WebGrants&) const = default;
};

// Who surveyed: what the survey can hold, and whose fixes apply.
enum class SurveySource {
  kListed,   // only what the platform's list of HID interfaces shows
  kLinux,    // sysfs through libudev: USB devices, their drivers, hidraw nodes, udev
  kWindows,  // the configuration manager: USB devices, problem codes, HID collections
  kWeb,      // the browser's grants
};

struct SystemSurvey {
  SurveySource source = SurveySource::kListed;

  std::vector<SurveyedUsbDevice> usbDevices;          // kLinux and kWindows only
  std::vector<SurveyedInterface> interfaces;          // HID interfaces with the vendor ID
  std::optional<bool> udevRunning;                    // Linux: whether notices come from udev
  std::optional<std::vector<std::string>> ruleFiles;  // Linux: where the udev rule is installed
  std::optional<WebGrants> web;

  bool operator==(const SystemSurvey&) const = default;
};

}  // namespace hid
