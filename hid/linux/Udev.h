// libudev, kept behind small owning handles and the few look-ups the platform needs.
// A libudev context is not safe to share between threads: every thread (the caller's
// for enumeration and opening, the watcher's for notices) makes its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "hid/HidTypes.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace hid::udev_support {

struct UdevDeleter {
  void operator()(udev* context) const;
};
struct UdevDeviceDeleter {
  void operator()(udev_device* device) const;
};
struct UdevMonitorDeleter {
  void operator()(udev_monitor* monitor) const;
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceDeleter>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevMonitorDeleter>;

UdevPtr NewContext();

// USB vendor and product from the HID_ID property of a hid device,
// "BBBB:VVVVVVVV:PPPPPPPP" in hexadecimal. nullopt when malformed or out of range.
struct UsbIds {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t bus = 0;  // 0x03 USB, 0x05 Bluetooth, ...
};
std::optional<UsbIds> ParseHidId(std::string_view hidId);

// One hidraw node: its sysfs path (the key that names it across add and remove
// events) and what the link needs to know about it.
struct HidrawNode {
  std::string syspath;
  InterfaceInfo info;  // path = the device node; IDs from the parent hid device
};

// The node behind a hidraw device; nullopt when it has no device node or its IDs
// cannot be read (no parent hid device, no or a malformed HID_ID), and for a device on
// another bus than USB: a controller paired over Bluetooth shows the same IDs, but its
// bootloader comes back only on the cable, so the link must never take it for one.
std::optional<HidrawNode> DescribeHidraw(udev_device* hidraw);

// Every hidraw node present now, in libudev's enumeration order.
std::vector<HidrawNode> ListHidrawNodes(udev* context);

// The report descriptor of the hidraw node at devicePath (/dev/hidrawN), read from the
// parent hid device's report_descriptor attribute in sysfs.
base::Result<std::vector<std::uint8_t>> ReadSysfsReportDescriptor(udev* context,
                                                                  const std::string& devicePath);

}  // namespace hid::udev_support
