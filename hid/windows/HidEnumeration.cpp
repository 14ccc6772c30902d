#include "hid/windows/HidEnumeration.h"

#include <cstddef>
#include <cstdint>
#include <cwctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hid/windows/Win32Errors.h"

namespace hid::windows {
namespace {

// One path buffer serves a whole search. It is sized by asking for the first interface
// that needs it and reused for the ones after; when a path does not fit (or reading it
// fails for any other reason) the buffer is released and the size asked for anew.
class CPathReader {
 public:
  CPathReader(IWin32Api& api, HDEVINFO set) : m_Api(api), m_Set(set) {}

  // The path, and in `node` the device node of the interface's device.
  std::optional<std::wstring> Read(SP_DEVICE_INTERFACE_DATA& data, DEVINST& node) {
    for (int attempt = 0; attempt < kPathAttempts; ++attempt) {
      if (m_Size == 0 && !Allocate(data)) {
        continue;
      }
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(m_Buffer.data());
      // The size of the fixed part as this build lays it out: 8 on 64-bit Windows, 6 on
      // 32-bit. The service refuses any other value.
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (m_Api.SetupDiGetDeviceInterfaceDetailW(m_Set, &data, detail, m_Size, nullptr, &device)) {
        node = device.DevInst;
        return PathIn(*detail);
      }
      Release();
    }
    return std::nullopt;
  }

 private:
  bool Allocate(SP_DEVICE_INTERFACE_DATA& data) {
    DWORD required = 0;
    // Asking without a buffer fails (ERROR_INSUFFICIENT_BUFFER) and gives the size.
    m_Api.SetupDiGetDeviceInterfaceDetailW(m_Set, &data, nullptr, 0, &required, nullptr);
    if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) {
      return false;
    }
    // Whole 8-byte words keep the structure aligned; only `required` bytes are offered.
    m_Buffer.assign((required + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    m_Size = required;
    return true;
  }

  void Release() {
    m_Buffer.clear();
    m_Buffer.shrink_to_fit();
    m_Size = 0;
  }

  std::wstring PathIn(const SP_DEVICE_INTERFACE_DETAIL_DATA_W& detail) const {
    // The path ends at its terminator, or at the end of the buffer if the service
    // left none.
    constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    const auto* chars =
        reinterpret_cast<const wchar_t*>(reinterpret_cast<const std::byte*>(&detail) + kPathOffset);
    const std::size_t capacity = (m_Size - kPathOffset) / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < capacity && chars[length] != L'\0') {
      ++length;
    }
    return std::wstring(chars, length);
  }

  IWin32Api& m_Api;
  const HDEVINFO m_Set;
  std::vector<std::uint64_t> m_Buffer;
  DWORD m_Size = 0;  // bytes offered to the service; 0 while no buffer is held
};

}  // namespace

bool IsUsbDevice(std::wstring id) {
  for (wchar_t& c : id) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  const std::size_t hardware = id.find(L'\\', 4);
  return id.rfind(L"USB\\", 0) == 0 && id.substr(0, hardware).find(L"&MI_") == std::wstring::npos;
}

std::wstring DeviceId(IWin32Api& api, DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (api.CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN + 1) != CR_SUCCESS) {
    return {};
  }
  id[MAX_DEVICE_ID_LEN] = L'\0';
  return id;
}

std::wstring StringProperty(IWin32Api& api, DEVINST node, ULONG property) {
  ULONG type = 0;
  ULONG length = 0;
  if (api.CM_Get_DevNode_Registry_PropertyW(node, property, &type, nullptr, &length) !=
          CR_BUFFER_SMALL ||
      length < sizeof(wchar_t)) {
    return {};
  }
  // One more character than asked for, so that the list ends whatever the system wrote.
  std::vector<wchar_t> buffer(length / sizeof(wchar_t) + 1, L'\0');
  ULONG size = length;
  if (api.CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer.data(), &size) !=
          CR_SUCCESS ||
      (type != REG_MULTI_SZ && type != REG_SZ)) {
    return {};
  }
  return buffer.data();
}

std::string LocationOf(IWin32Api& api, DEVINST hidNode) {
  DEVINST node = hidNode;
  bool found = false;
  for (int depth = 0; depth < kLocationDepth && !found; ++depth) {
    DEVINST parent = 0;
    if (api.CM_Get_Parent(&parent, node) != CR_SUCCESS) {
      return {};
    }
    node = parent;
    found = IsUsbDevice(DeviceId(api, node));
  }
  if (!found) {
    return {};  // not on USB: Bluetooth, a virtual device
  }
  if (std::wstring path = StringProperty(api, node, CM_DRP_LOCATION_PATHS); !path.empty()) {
    return Utf8FromWide(path);
  }
  // Without location paths: the hub it hangs on and the number of its port there.
  DEVINST hub = 0;
  DWORD port = 0;
  ULONG type = 0;
  ULONG size = sizeof port;
  if (api.CM_Get_Parent(&hub, node) != CR_SUCCESS ||
      api.CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_ADDRESS, &type, &port, &size) !=
          CR_SUCCESS ||
      type != REG_DWORD) {
    return {};
  }
  const std::wstring hubId = DeviceId(api, hub);
  return hubId.empty() ? std::string() : Utf8FromWide(hubId) + "#USB(" + std::to_string(port) + ")";
}

namespace {

std::optional<InterfaceInfo> ReadIds(IWin32Api& api, const std::wstring& path) {
  const HANDLE device =
      api.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
  if (device == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const bool read = api.HidD_GetAttributes(device, &attributes) != FALSE;
  api.CloseHandle(device);
  if (!read) {
    return std::nullopt;
  }
  return InterfaceInfo{Utf8FromWide(path), attributes.VendorID, attributes.ProductID};
}

}  // namespace

void ForEachHidInterface(IWin32Api& api,
                         const std::function<void(const std::wstring& path, DEVINST node)>& visit) {
  const GUID hidClass = api.HidD_GetHidGuid();
  const HDEVINFO set = api.SetupDiGetClassDevsW(hidClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    return;
  }
  CPathReader paths(api, set);
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!api.SetupDiEnumDeviceInterfaces(set, hidClass, index, &data)) {
      break;  // ERROR_NO_MORE_ITEMS: the end of the snapshot
    }
    DEVINST node = 0;
    if (const std::optional<std::wstring> path = paths.Read(data, node)) {
      visit(*path, node);
    }
  }
  api.SetupDiDestroyDeviceInfoList(set);
}

std::vector<InterfaceInfo> EnumerateHidInterfaces(IWin32Api& api) {
  std::vector<InterfaceInfo> interfaces;
  ForEachHidInterface(api, [&](const std::wstring& path, DEVINST node) {
    if (auto info = ReadIds(api, path)) {
      info->location = LocationOf(api, node);
      interfaces.push_back(std::move(*info));
    }
  });
  return interfaces;
}

}  // namespace hid::windows
