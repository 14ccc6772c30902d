// A scripted stand-in for the Win32 services of the Windows link. It checks what a
// real system would refuse (structure sizes, buffer sizes, handles it never gave out),
// keeps the state a real system keeps (open handles, a read that is still pending and
// may write into its buffer) and records what the link asked for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hid/windows/Win32Api.h"

namespace testing_support {

struct FakeInterface {
  std::wstring path;
  USHORT vendorId = 0;
  USHORT productId = 0;
  bool openable = true;
  bool attributesReadable = true;
  int pathFailures = 0;  // reads of its path that fail before one succeeds
  std::optional<hid::windows::ReportLengths> lengths = hid::windows::ReportLengths{65, 65};
  DEVINST devNode = 0;  // its HID collection in devNodes; 0: none
};

// A node of the device tree: its instance id, its parent (0 for the root) and the
// registry properties it has.
struct FakeDevNode {
  std::wstring id;
  DEVINST parent = 0;
  std::vector<std::wstring> locationPaths;  // CM_DRP_LOCATION_PATHS; none when empty
  std::optional<DWORD> address;             // CM_DRP_ADDRESS
  std::wstring service = {};                // CM_DRP_SERVICE: its driver; none when empty
  ULONG problem = 0;                        // CM_PROB_...; 0: started without a problem
};

// How the next ReadFile goes.
struct ReadScript {
  enum class Start { kCompletesAtOnce, kPending, kRefused };
  Start start = Start::kPending;
  DWORD refusal = 0;                      // kRefused: the error ReadFile leaves
  DWORD wait = WAIT_TIMEOUT;              // kPending: what WaitForSingleObject returns
  std::vector<std::uint8_t> report = {};  // delivered when the read completes with data
  bool reportInCancelRace = false;        // the report completes the read as it is cancelled
  std::optional<DWORD> endError = {};     // the read ends with this error instead of data
};

struct OpenCall {
  std::wstring path;
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = 0;
  DWORD flags = 0;
};

class CFakeWin32Api final : public hid::windows::IWin32Api {
 public:
  static constexpr GUID kHidClass = {
      0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

  // The bus and the script.
  std::vector<FakeInterface> interfaces;
  std::map<DEVINST, FakeDevNode> devNodes;
  bool snapshotFails = false;
  ReadScript read;
  bool writeResult = true;
  HDEVNOTIFY registration = reinterpret_cast<HDEVNOTIFY>(0x7000);  // null: refused

  // What the link did.
  std::vector<DWORD> snapshotFlags;
  int snapshotsReleased = 0;
  int sizeQueries = 0;
  int pathReads = 0;
  int refusedCalls = 0;  // calls a real system refuses: wrong sizes, unknown handles
  std::vector<OpenCall> opens;
  DWORD readBufferSize = 0;
  std::optional<DWORD> waitedMs;
  int cancels = 0;
  std::vector<std::vector<std::uint8_t>> written;
  std::vector<HANDLE> registeredRecipients;
  DEV_BROADCAST_DEVICEINTERFACE_W lastFilter{};
  std::vector<DWORD> registrationFlags;
  std::vector<HDEVNOTIFY> unregistered;
  std::vector<std::wstring> debugStrings;

  bool ReadPending() const { return m_Pending.has_value(); }
  std::size_t OpenHandles() const { return m_Handles.size(); }

  // hid::windows::IWin32Api
  GUID HidD_GetHidGuid() override { return kHidClass; }
  HDEVINFO SetupDiGetClassDevsW(const GUID& classGuid, DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& classGuid, DWORD index,
                                   SP_DEVICE_INTERFACE_DATA* data) override;
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                        DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfo) override;
  // The device nodes whose instance id starts with the enumerator, in the order of devNodes.
  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator,
                                DWORD flags) override;
  BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  BOOLEAN HidD_GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) override;
  bool GetReportLengths(HANDLE device, hid::windows::ReportLengths& lengths) override;
  CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST node) override;
  CONFIGRET CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length) override;
  CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type,
                                              void* buffer, ULONG* length) override;
  // Children and siblings in the order of devNodes.
  CONFIGRET CM_Get_Child(DEVINST* child, DEVINST node) override;
  CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST node) override;
  CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST node) override;
  HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override;
  BOOL CloseHandle(HANDLE handle) override;
  HANDLE CreateEventW(BOOL manualReset, BOOL initialState) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, OVERLAPPED* overlapped) override;
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* count) override;
  DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override;
  BOOL CancelIo(HANDLE file) override;
  BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                           BOOL wait) override;
  DWORD GetLastError() override { return m_LastError; }
  HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) override;
  BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) override;
  void OutputDebugStringW(const wchar_t* text) override { debugStrings.emplace_back(text); }

 private:
  struct PendingRead {
    void* buffer = nullptr;
    DWORD size = 0;
    OVERLAPPED* overlapped = nullptr;
    bool done = false;
    bool cancelled = false;
  };

  BOOL Fail(DWORD error);
  bool Known(HANDLE handle) const { return m_Handles.count(handle) != 0; }
  const FakeInterface* InterfaceOf(HANDLE handle) const;
  void Complete(bool cancelled);  // the pending read ends as the script says

  HANDLE NewHandle();
  std::uintptr_t m_NextHandle = 0x100;
  std::set<HANDLE> m_Handles;
  std::map<HANDLE, std::size_t> m_InterfaceOf;
  DWORD m_LastError = 0;
  std::optional<PendingRead> m_Pending;
  std::vector<DEVINST> m_DeviceSnapshot;  // the nodes the last enumerator snapshot holds
};

}  // namespace testing_support
