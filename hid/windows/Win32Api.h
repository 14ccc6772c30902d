// The Win32 services the Windows link uses, behind one interface, so that the link's
// own logic (the path buffer, the read with its time-out and cancellation, the report
// lengths, the mapping of error codes) runs in tests against a scripted double. The
// members are named and shaped after the services they stand for; CSystemWin32Api
// calls those services and nothing else.
#pragma once

// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <dbt.h>
// mingw's HID headers declare the functions without C linkage.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <cstdint>
#include <memory>

namespace hid::windows {

// The report lengths of an interface's top-level collection, report ID byte included
// (HidP_GetCaps). Windows takes writes of exactly OutputReportByteLength bytes and
// needs read buffers of at least InputReportByteLength.
struct ReportLengths {
  std::uint16_t input = 0;
  std::uint16_t output = 0;
};

class IWin32Api {
 public:
  virtual ~IWin32Api() = default;

  // Device setup and HID class services.
  virtual GUID HidD_GetHidGuid() = 0;
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID& classGuid, DWORD flags) = 0;
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& classGuid, DWORD index,
                                           SP_DEVICE_INTERFACE_DATA* data) = 0;
  // deviceInfo (may be null) receives the device node of the interface's device.
  virtual BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                                DWORD detailSize, DWORD* requiredSize,
                                                SP_DEVINFO_DATA* deviceInfo) = 0;
  // Every device node of one enumerator ("USB"), of any class: flags DIGCF_ALLCLASSES |
  // DIGCF_PRESENT and classGuid null. Walked by index with SetupDiEnumDeviceInfo.
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator,
                                        DWORD flags) = 0;
  virtual BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) = 0;
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;
  virtual BOOLEAN HidD_GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) = 0;
  // HidD_GetPreparsedData, HidP_GetCaps and HidD_FreePreparsedData in one: false when
  // the interface does not give its capabilities.
  virtual bool GetReportLengths(HANDLE device, ReportLengths& lengths) = 0;

  // The device tree of the configuration manager (flags 0): a node's parent, its
  // instance id ("USB\VID_4B2E&PID_6E21\5&2A3B4C&0&3"), and a property of its registry
  // entry (CM_DRP_...; a null buffer or one too small gives CR_BUFFER_SMALL and the size).
  virtual CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST node) = 0;
  virtual CONFIGRET CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length) = 0;
  virtual CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type,
                                                      void* buffer, ULONG* length) = 0;
  // A node's first child and its next sibling, and its status (DN_...) with its problem
  // code (CM_PROB_..., meaningful when the status has DN_HAS_PROBLEM).
  virtual CONFIGRET CM_Get_Child(DEVINST* child, DEVINST node) = 0;
  virtual CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST node) = 0;
  virtual CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST node) = 0;

  // Files and waiting.
  virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual HANDLE CreateEventW(BOOL manualReset, BOOL initialState) = 0;
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, OVERLAPPED* overlapped) = 0;
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
  virtual DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) = 0;
  virtual BOOL CancelIo(HANDLE file) = 0;
  virtual BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                                   BOOL wait) = 0;
  // The calling thread's last error, as the calls above left it.
  virtual DWORD GetLastError() = 0;

  // Device notices and the debugger output channel.
  virtual HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) = 0;
  virtual BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) = 0;
  virtual void OutputDebugStringW(const wchar_t* text) = 0;
};

// The real services.
std::shared_ptr<IWin32Api> CreateSystemWin32Api();

}  // namespace hid::windows
