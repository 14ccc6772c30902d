#include "hid/windows/Win32Api.h"

namespace hid::windows {
namespace {

class CSystemWin32Api final : public IWin32Api {
 public:
  GUID HidD_GetHidGuid() override {
    GUID guid{};
    ::HidD_GetHidGuid(&guid);
    return guid;
  }

  HDEVINFO SetupDiGetClassDevsW(const GUID& classGuid, DWORD flags) override {
    return ::SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, flags);
  }

  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& classGuid, DWORD index,
                                   SP_DEVICE_INTERFACE_DATA* data) override {
    return ::SetupDiEnumDeviceInterfaces(set, nullptr, &classGuid, index, data);
  }

  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                        DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfo) override {
    return ::SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize, requiredSize,
                                              deviceInfo);
  }

  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator,
                                DWORD flags) override {
    return ::SetupDiGetClassDevsW(classGuid, enumerator, nullptr, flags);
  }

  BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override {
    return ::SetupDiEnumDeviceInfo(set, index, data);
  }

  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
    return ::SetupDiDestroyDeviceInfoList(set);
  }

  BOOLEAN HidD_GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) override {
    return ::HidD_GetAttributes(device, attributes);
  }

  bool GetReportLengths(HANDLE device, ReportLengths& lengths) override {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(device, &preparsed)) {
      return false;
    }
    HIDP_CAPS caps{};
    const bool ok = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    ::HidD_FreePreparsedData(preparsed);
    if (ok) {
      lengths.input = caps.InputReportByteLength;
      lengths.output = caps.OutputReportByteLength;
    }
    return ok;
  }

  CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST node) override {
    return ::CM_Get_Parent(parent, node, 0);
  }

  CONFIGRET CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length) override {
    return ::CM_Get_Device_IDW(node, buffer, length, 0);
  }

  CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type,
                                              void* buffer, ULONG* length) override {
    return ::CM_Get_DevNode_Registry_PropertyW(node, property, type, buffer, length, 0);
  }

  CONFIGRET CM_Get_Child(DEVINST* child, DEVINST node) override {
    return ::CM_Get_Child(child, node, 0);
  }

  CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST node) override {
    return ::CM_Get_Sibling(sibling, node, 0);
  }

  CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST node) override {
    return ::CM_Get_DevNode_Status(status, problem, node, 0);
  }

  HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
  }

  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

  HANDLE CreateEventW(BOOL manualReset, BOOL initialState) override {
    return ::CreateEventW(nullptr, manualReset, initialState, nullptr);
  }

  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, OVERLAPPED* overlapped) override {
    return ::ReadFile(file, buffer, size, nullptr, overlapped);
  }

  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return ::WriteFile(file, buffer, size, written, nullptr);
  }

  DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
    return ::WaitForSingleObject(object, milliseconds);
  }

  BOOL CancelIo(HANDLE file) override { return ::CancelIo(file); }

  BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                           BOOL wait) override {
    return ::GetOverlappedResult(file, overlapped, transferred, wait);
  }

  DWORD GetLastError() override { return ::GetLastError(); }

  HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) override {
    return ::RegisterDeviceNotificationW(recipient, filter, flags);
  }

  BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) override {
    return ::UnregisterDeviceNotification(notification);
  }

  void OutputDebugStringW(const wchar_t* text) override { ::OutputDebugStringW(text); }
};

}  // namespace

std::shared_ptr<IWin32Api> CreateSystemWin32Api() {
  return std::make_shared<CSystemWin32Api>();
}

}  // namespace hid::windows
