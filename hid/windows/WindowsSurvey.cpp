#include "hid/windows/WindowsSurvey.h"

#include <cwctype>
#include <optional>
#include <string>

#include "hid/windows/HidEnumeration.h"
#include "hid/windows/Win32Errors.h"

namespace hid::windows {
namespace {

// How deep below a USB device its functions and HID collections are looked for.
constexpr int kTreeDepth = 4;

struct IdsInId {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  bool bluetooth = false;
};

// The hexadecimal digits after `key` in id, the last four of them: "VID_4B2E" on USB,
// "VID&00024B2E" (source and vendor) for a HID device on Bluetooth.
std::optional<std::uint16_t> HexAfter(const std::wstring& id, const std::wstring& key) {
  const std::size_t at = id.find(key);
  if (at == std::wstring::npos) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  std::size_t digits = 0;
  for (std::size_t i = at + key.size(); i < id.size() && std::iswxdigit(id[i]); ++i, ++digits) {
    value = (value << 4) |
            static_cast<std::uint32_t>(std::iswdigit(id[i]) ? id[i] - L'0' : id[i] - L'A' + 10);
  }
  return digits >= 4 ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(value))
                     : std::nullopt;
}

// The IDs in an instance id: "USB\VID_4B2E&PID_6E21\...", "HID\VID_4B2E&PID_6E21&MI_00\...",
// and on Bluetooth "HID\{00001124-...}_VID&00024B2E_PID&6E21\..." (classic) or
// "HID\{00001812-...}_DEV_VID&024B2E_PID&6E21_REV&...\..." (low energy).
std::optional<IdsInId> IdsOf(std::wstring id) {
  for (wchar_t& c : id) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  auto vendor = HexAfter(id, L"VID_");
  auto product = HexAfter(id, L"PID_");
  vendor = vendor ? vendor : HexAfter(id, L"VID&");
  product = product ? product : HexAfter(id, L"PID&");
  if (!vendor || !product) {
    return std::nullopt;
  }
  const bool bluetooth =
      id.find(L"{00001124-") != std::wstring::npos || id.find(L"{00001812-") != std::wstring::npos;
  return IdsInId{*vendor, *product, bluetooth};
}

std::uint32_t ProblemOf(IWin32Api& api, DEVINST node) {
  ULONG status = 0;
  ULONG problem = 0;
  if (api.CM_Get_DevNode_Status(&status, &problem, node) != CR_SUCCESS ||
      (status & DN_HAS_PROBLEM) == 0) {
    return 0;
  }
  return problem;
}

// The nodes below a USB device: the functions of a composite device, the HID collections.
void DescribeBelow(IWin32Api& api, DEVINST node, int depth, SurveyedUsbDevice& device) {
  DEVINST child = 0;
  if (depth >= kTreeDepth || api.CM_Get_Child(&child, node) != CR_SUCCESS) {
    return;
  }
  do {
    const std::wstring id = DeviceId(api, child);
    device.hasHidInterface = device.hasHidInterface || id.rfind(L"HID\\", 0) == 0;
    device.functions.push_back(
        SurveyedFunction{Utf8FromWide(id), Utf8FromWide(StringProperty(api, child, CM_DRP_SERVICE)),
                         0, ProblemOf(api, child)});
    DescribeBelow(api, child, depth + 1, device);
  } while (api.CM_Get_Sibling(&child, child) == CR_SUCCESS);
}

SurveyedUsbDevice DescribeUsbDevice(IWin32Api& api, DEVINST node, const std::wstring& id,
                                    std::uint16_t productId) {
  SurveyedUsbDevice device;
  const std::wstring location = StringProperty(api, node, CM_DRP_LOCATION_PATHS);
  device.place = Utf8FromWide(location.empty() ? id : location);
  device.productId = productId;
  device.problem = ProblemOf(api, node);
  DescribeBelow(api, node, 0, device);
  if (device.functions.empty()) {
    // Nothing below it: its own driver is the one to name (WinUSB put in place of HID).
    device.functions.push_back(SurveyedFunction{
        Utf8FromWide(id), Utf8FromWide(StringProperty(api, node, CM_DRP_SERVICE)), 0, 0});
  }
  return device;
}

// Opened as the link opens it, and closed at once: nothing is written.
void ProbeAccess(IWin32Api& api, const std::wstring& path, SurveyedInterface& entry) {
  const HANDLE device =
      api.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
  if (device != INVALID_HANDLE_VALUE) {
    api.CloseHandle(device);
    entry.access = NodeAccess::kOpenable;
    return;
  }
  const DWORD error = api.GetLastError();
  entry.access = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                     ? NodeAccess::kBusy
                     : NodeAccess::kFailed;
  entry.accessReason = ErrorOf(error, "open").message;
}

}  // namespace

SystemSurvey SurveyWindows(IWin32Api& api) {
  SystemSurvey survey;
  survey.source = SurveySource::kWindows;
  const HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, L"USB", DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set != INVALID_HANDLE_VALUE) {
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA data{};
      data.cbSize = sizeof data;
      if (!api.SetupDiEnumDeviceInfo(set, index, &data)) {
        break;  // ERROR_NO_MORE_ITEMS
      }
      const std::wstring id = DeviceId(api, data.DevInst);
      const auto ids = IdsOf(id);
      if (ids && ids->vendorId == kVendorId && IsUsbDevice(id)) {
        survey.usbDevices.push_back(DescribeUsbDevice(api, data.DevInst, id, ids->productId));
      }
    }
    api.SetupDiDestroyDeviceInfoList(set);
  }
  ForEachHidInterface(api, [&](const std::wstring& path, DEVINST node) {
    const auto ids = IdsOf(DeviceId(api, node));
    if (!ids || ids->vendorId != kVendorId) {
      return;
    }
    SurveyedInterface entry{Utf8FromWide(path), ids->productId,
                            ids->bluetooth ? HidBus::kBluetooth : HidBus::kUsb,
                            NodeAccess::kNotChecked};
    if (!ids->bluetooth && IsController(InterfaceInfo{entry.path, ids->vendorId, ids->productId})) {
      ProbeAccess(api, path, entry);
    }
    survey.interfaces.push_back(std::move(entry));
  });
  return survey;
}

}  // namespace hid::windows
