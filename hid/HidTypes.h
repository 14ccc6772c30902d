// Facts about the controller's USB HID interface and the report frame every platform
// layer produces and consumes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace hid {

inline constexpr std::uint16_t kVendorId = 0x4B2E;
inline constexpr std::uint16_t kAppProductId = 0x6E21;   // running its firmware
inline constexpr std::uint16_t kBootProductId = 0x6E30;  // waiting in its bootloader

// A report crosses the link as a frame: byte 0 is the HID report ID (0x00 for an
// interface without numbered reports), then the report's 64 data bytes.
inline constexpr std::size_t kReportDataSize = 64;
inline constexpr std::size_t kFrameSize = kReportDataSize + 1;
using Frame = std::array<std::uint8_t, kFrameSize>;

// Device-change notice codes, as Windows numbers them (WM_DEVICECHANGE wParam).
inline constexpr std::uint32_t kNoticeDevNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED
inline constexpr std::uint32_t kNoticeArrival = 0x8000;          // DBT_DEVICEARRIVAL
inline constexpr std::uint32_t kNoticeRemoveComplete = 0x8004;   // DBT_DEVICEREMOVECOMPLETE

// One HID interface present on the machine.
struct InterfaceInfo {
  std::string path;  // opens the interface: /dev/hidrawN, a Windows interface path, ...
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  // Where the device is plugged in (its USB port chain), the same in both of its modes
  // although its path and product ID change; empty where the platform cannot tell.
  std::string location = {};

  bool operator==(const InterfaceInfo&) const = default;
};

// True for an interface of the controller: our vendor ID with the application-mode or
// the boot-mode product ID. Every search for the controller asks this, and only this.
inline bool IsController(const InterfaceInfo& info) {
  return info.vendorId == kVendorId &&
         (info.productId == kAppProductId || info.productId == kBootProductId);
}

// USB IDs of the device found by the last successful search.
struct MatchedDeviceIds {
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;

  bool operator==(const MatchedDeviceIds&) const = default;
};

// A native window handle for platforms that deliver notices to a window (Windows).
using NativeWindow = std::uintptr_t;

}  // namespace hid
