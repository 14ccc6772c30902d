#include "tests/hid_windows/FakeWin32Api.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace testing_support {
namespace {

const HDEVINFO kSnapshot = reinterpret_cast<HDEVINFO>(0x5000);
const HDEVINFO kDeviceSnapshot = reinterpret_cast<HDEVINFO>(0x5001);
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

}  // namespace

BOOL CFakeWin32Api::Fail(DWORD error) {
  m_LastError = error;
  return FALSE;
}

HANDLE CFakeWin32Api::NewHandle() {
  const HANDLE handle = reinterpret_cast<HANDLE>(m_NextHandle++);
  m_Handles.insert(handle);
  return handle;
}

const FakeInterface* CFakeWin32Api::InterfaceOf(HANDLE handle) const {
  const auto found = m_InterfaceOf.find(handle);
  return found != m_InterfaceOf.end() && Known(handle) ? &interfaces.at(found->second) : nullptr;
}

HDEVINFO CFakeWin32Api::SetupDiGetClassDevsW(const GUID& classGuid, DWORD flags) {
  snapshotFlags.push_back(flags);
  if (snapshotFails || !IsEqualGUID(classGuid, kHidClass)) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return kSnapshot;
}

BOOL CFakeWin32Api::SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& classGuid, DWORD index,
                                                SP_DEVICE_INTERFACE_DATA* data) {
  if (set != kSnapshot || !IsEqualGUID(classGuid, kHidClass) ||
      data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (index >= interfaces.size()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  data->InterfaceClassGuid = kHidClass;
  data->Reserved = index;  // which interface a later detail call is about
  return TRUE;
}

BOOL CFakeWin32Api::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                     SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                                     DWORD detailSize, DWORD* requiredSize,
                                                     SP_DEVINFO_DATA* deviceInfo) {
  if (set != kSnapshot || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      data->Reserved >= interfaces.size()) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  FakeInterface& device = interfaces[data->Reserved];
  const DWORD needed = static_cast<DWORD>(kPathOffset + (device.path.size() + 1) * sizeof(wchar_t));
  if (detail == nullptr) {
    ++sizeQueries;
    if (requiredSize != nullptr) {
      *requiredSize = needed;
    }
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  ++pathReads;
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (detailSize < needed) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (device.pathFailures > 0) {
    --device.pathFailures;
    return Fail(ERROR_GEN_FAILURE);
  }
  if (deviceInfo != nullptr) {
    if (deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
      ++refusedCalls;
      return Fail(ERROR_INVALID_USER_BUFFER);
    }
    deviceInfo->DevInst = device.devNode;
  }
  std::memcpy(reinterpret_cast<std::byte*>(detail) + kPathOffset, device.path.c_str(),
              (device.path.size() + 1) * sizeof(wchar_t));
  return TRUE;
}

CONFIGRET CFakeWin32Api::CM_Get_Parent(DEVINST* parent, DEVINST node) {
  const auto found = devNodes.find(node);
  if (found == devNodes.end() || found->second.parent == 0) {
    return CR_NO_SUCH_DEVNODE;
  }
  *parent = found->second.parent;
  return CR_SUCCESS;
}

CONFIGRET CFakeWin32Api::CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length) {
  const auto found = devNodes.find(node);
  if (found == devNodes.end()) {
    return CR_NO_SUCH_DEVNODE;
  }
  const std::wstring& id = found->second.id;
  if (length < id.size() + 1) {
    return CR_BUFFER_SMALL;
  }
  std::copy(id.c_str(), id.c_str() + id.size() + 1, buffer);
  return CR_SUCCESS;
}

CONFIGRET CFakeWin32Api::CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property,
                                                           ULONG* type, void* buffer,
                                                           ULONG* length) {
  const auto found = devNodes.find(node);
  if (found == devNodes.end()) {
    return CR_NO_SUCH_DEVNODE;
  }
  std::vector<std::uint8_t> value;
  if (property == CM_DRP_LOCATION_PATHS && !found->second.locationPaths.empty()) {
    *type = REG_MULTI_SZ;
    std::wstring list;
    for (const std::wstring& path : found->second.locationPaths) {
      list += path + L'\0';
    }
    list += L'\0';
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(list.data());
    value.assign(bytes, bytes + list.size() * sizeof(wchar_t));
  } else if (property == CM_DRP_SERVICE && !found->second.service.empty()) {
    *type = REG_SZ;
    const std::wstring& service = found->second.service;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(service.c_str());
    value.assign(bytes, bytes + (service.size() + 1) * sizeof(wchar_t));
  } else if (property == CM_DRP_ADDRESS && found->second.address) {
    *type = REG_DWORD;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&*found->second.address);
    value.assign(bytes, bytes + sizeof(DWORD));
  } else {
    return CR_NO_SUCH_VALUE;
  }
  if (buffer == nullptr || *length < value.size()) {
    *length = static_cast<ULONG>(value.size());
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, value.data(), value.size());
  *length = static_cast<ULONG>(value.size());
  return CR_SUCCESS;
}

HDEVINFO CFakeWin32Api::SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator,
                                             DWORD flags) {
  snapshotFlags.push_back(flags);
  if (classGuid != nullptr || enumerator == nullptr || (flags & DIGCF_ALLCLASSES) == 0) {
    ++refusedCalls;
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  m_DeviceSnapshot.clear();
  const std::wstring prefix = std::wstring(enumerator) + L"\\";
  for (const auto& [node, entry] : devNodes) {
    if (entry.id.rfind(prefix, 0) == 0) {
      m_DeviceSnapshot.push_back(node);
    }
  }
  return kDeviceSnapshot;
}

BOOL CFakeWin32Api::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
  if (set != kDeviceSnapshot || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (index >= m_DeviceSnapshot.size()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  data->DevInst = m_DeviceSnapshot[index];
  return TRUE;
}

CONFIGRET CFakeWin32Api::CM_Get_Child(DEVINST* child, DEVINST node) {
  for (const auto& [each, entry] : devNodes) {
    if (entry.parent == node) {
      *child = each;
      return CR_SUCCESS;
    }
  }
  return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CFakeWin32Api::CM_Get_Sibling(DEVINST* sibling, DEVINST node) {
  const auto found = devNodes.find(node);
  if (found == devNodes.end()) {
    return CR_NO_SUCH_DEVNODE;
  }
  for (auto next = std::next(found); next != devNodes.end(); ++next) {
    if (next->second.parent == found->second.parent) {
      *sibling = next->first;
      return CR_SUCCESS;
    }
  }
  return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CFakeWin32Api::CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST node) {
  const auto found = devNodes.find(node);
  if (found == devNodes.end()) {
    return CR_NO_SUCH_DEVNODE;
  }
  *problem = found->second.problem;
  *status = found->second.problem != 0 ? DN_HAS_PROBLEM : (DN_DRIVER_LOADED | DN_STARTED);
  return CR_SUCCESS;
}

BOOL CFakeWin32Api::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  if (set != kSnapshot && set != kDeviceSnapshot) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_HANDLE);
  }
  ++snapshotsReleased;
  return TRUE;
}

BOOLEAN CFakeWin32Api::HidD_GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) {
  const FakeInterface* found = InterfaceOf(device);
  if (found == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
    ++refusedCalls;
    return FALSE;
  }
  if (!found->attributesReadable) {
    return FALSE;
  }
  attributes->VendorID = found->vendorId;
  attributes->ProductID = found->productId;
  return TRUE;
}

bool CFakeWin32Api::GetReportLengths(HANDLE device, hid::windows::ReportLengths& lengths) {
  const FakeInterface* found = InterfaceOf(device);
  if (found == nullptr || !found->lengths) {
    return false;
  }
  lengths = *found->lengths;
  return true;
}

HANDLE CFakeWin32Api::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                  DWORD flags) {
  opens.push_back({path, access, share, disposition, flags});
  const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                  [&](const FakeInterface& device) { return device.path == path; });
  if (found == interfaces.end()) {
    Fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!found->openable) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = NewHandle();
  m_InterfaceOf[handle] = static_cast<std::size_t>(found - interfaces.begin());
  return handle;
}

BOOL CFakeWin32Api::CloseHandle(HANDLE handle) {
  if (m_Handles.erase(handle) == 0) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_HANDLE);
  }
  return TRUE;
}

HANDLE CFakeWin32Api::CreateEventW(BOOL, BOOL) {
  return NewHandle();
}

BOOL CFakeWin32Api::ReadFile(HANDLE file, void* buffer, DWORD size, OVERLAPPED* overlapped) {
  if (InterfaceOf(file) == nullptr || overlapped == nullptr || !Known(overlapped->hEvent) ||
      m_Pending) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  readBufferSize = size;
  if (read.start == ReadScript::Start::kRefused) {
    return Fail(read.refusal);
  }
  m_Pending = PendingRead{buffer, size, overlapped};
  if (read.start == ReadScript::Start::kCompletesAtOnce) {
    Complete(false);
    return TRUE;
  }
  return Fail(ERROR_IO_PENDING);
}

void CFakeWin32Api::Complete(bool cancelled) {
  PendingRead& pending = *m_Pending;
  const bool withReport = cancelled ? read.reportInCancelRace && !read.endError : !read.endError;
  if (withReport) {
    const std::size_t count = std::min<std::size_t>(read.report.size(), pending.size);
    std::memcpy(pending.buffer, read.report.data(), count);
    pending.overlapped->Internal = 0;
    pending.overlapped->InternalHigh = count;
  } else {
    pending.overlapped->Internal = read.endError.value_or(ERROR_OPERATION_ABORTED);
    pending.overlapped->InternalHigh = 0;
  }
  pending.done = true;
}

DWORD CFakeWin32Api::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  waitedMs = milliseconds;
  if (!m_Pending || object != m_Pending->overlapped->hEvent) {
    ++refusedCalls;
    return WAIT_FAILED;
  }
  if (read.wait == WAIT_OBJECT_0) {
    Complete(false);
  }
  return read.wait;
}

BOOL CFakeWin32Api::CancelIo(HANDLE file) {
  ++cancels;
  if (InterfaceOf(file) == nullptr) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (m_Pending && !m_Pending->done) {
    Complete(true);
  }
  return TRUE;
}

BOOL CFakeWin32Api::GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                                        BOOL wait) {
  if (InterfaceOf(file) == nullptr || !m_Pending || overlapped != m_Pending->overlapped) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!m_Pending->done) {
    if (!wait) {
      return Fail(ERROR_IO_INCOMPLETE);
    }
    Complete(false);  // waited for without a cancel: it ends when the script says
  }
  m_Pending.reset();  // retired: nothing writes into the caller's buffer any more
  *transferred = static_cast<DWORD>(overlapped->InternalHigh);
  return overlapped->Internal == 0 ? TRUE : Fail(static_cast<DWORD>(overlapped->Internal));
}

BOOL CFakeWin32Api::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* count) {
  if (InterfaceOf(file) == nullptr) {
    ++refusedCalls;
    return Fail(ERROR_INVALID_HANDLE);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  written.emplace_back(bytes, bytes + size);
  *count = size;
  return writeResult ? TRUE : Fail(ERROR_GEN_FAILURE);
}

HDEVNOTIFY CFakeWin32Api::RegisterDeviceNotificationW(HANDLE recipient, void* filter, DWORD flags) {
  registeredRecipients.push_back(recipient);
  std::memcpy(&lastFilter, filter, sizeof lastFilter);
  registrationFlags.push_back(flags);
  if (registration == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
  }
  return registration;
}

BOOL CFakeWin32Api::UnregisterDeviceNotification(HDEVNOTIFY notification) {
  unregistered.push_back(notification);
  return TRUE;
}

}  // namespace testing_support
