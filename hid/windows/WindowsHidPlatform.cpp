#include "hid/windows/WindowsHidPlatform.h"

#include "hid/windows/HidEnumeration.h"
#include "hid/windows/Win32Errors.h"
#include "hid/windows/WindowsHidHandle.h"
#include "hid/windows/WindowsSurvey.h"

namespace hid::windows {

CWindowsHidPlatform::CWindowsHidPlatform(std::shared_ptr<IWin32Api> api) : m_Api(std::move(api)) {}

CWindowsHidPlatform::~CWindowsHidPlatform() {
  UnregisterDeviceNotices();
}

std::vector<InterfaceInfo> CWindowsHidPlatform::EnumerateInterfaces() {
  return EnumerateHidInterfaces(*m_Api);
}

SystemSurvey CWindowsHidPlatform::Survey() {
  return SurveyWindows(*m_Api);
}

base::Result<std::unique_ptr<IHidHandle>> CWindowsHidPlatform::Open(const std::string& path,
                                                                    Access access) {
  const bool forReading = access == Access::kRead;
  const std::wstring widePath = WideFromUtf8(path);
  const HANDLE file = m_Api->CreateFileW(
      widePath.c_str(), forReading ? GENERIC_READ : GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, forReading ? FILE_FLAG_OVERLAPPED : 0);
  if (file == INVALID_HANDLE_VALUE) {
    return ErrorOf(m_Api->GetLastError(), "opening " + path);
  }
  ReportLengths lengths;
  if (!m_Api->GetReportLengths(file, lengths)) {
    lengths = ReportLengths{};  // unknown: frames go as handed
  }
  return std::unique_ptr<IHidHandle>(
      std::make_unique<CWindowsHidHandle>(m_Api, file, forReading, lengths));
}

bool CWindowsHidPlatform::RegisterForDeviceNotices(NativeWindow notifyWindow) {
  std::lock_guard lock(m_Mutex);
  if (m_WindowRegistration != nullptr || m_HiddenWindow != nullptr) {
    return true;
  }
  const GUID hidClass = m_Api->HidD_GetHidGuid();
  if (notifyWindow != 0) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    FillHidNoticeFilter(filter, hidClass);
    m_WindowRegistration = m_Api->RegisterDeviceNotificationW(
        reinterpret_cast<HANDLE>(notifyWindow), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return m_WindowRegistration != nullptr;
  }
  m_HiddenWindow = CDeviceNoticeWindow::Start(m_Api, hidClass,
                                              [this](std::uint32_t code) { m_Notices.Push(code); });
  return m_HiddenWindow != nullptr;
}

void CWindowsHidPlatform::UnregisterDeviceNotices() {
  std::unique_ptr<CDeviceNoticeWindow> hiddenWindow;
  {
    std::lock_guard lock(m_Mutex);
    if (m_WindowRegistration != nullptr) {
      m_Api->UnregisterDeviceNotification(m_WindowRegistration);
      m_WindowRegistration = nullptr;
    }
    hiddenWindow = std::move(m_HiddenWindow);
  }
  hiddenWindow.reset();  // joins the window's thread, outside the lock
}

HWND CWindowsHidPlatform::NoticeWindow() const {
  std::lock_guard lock(m_Mutex);
  return m_HiddenWindow != nullptr ? m_HiddenWindow->Window() : nullptr;
}

std::shared_ptr<IHidPlatform> CreateWindowsHidPlatform() {
  return std::make_shared<CWindowsHidPlatform>();
}

base::DebugSink CreateDebuggerSink(std::shared_ptr<IWin32Api> api) {
  return [api = std::move(api)](std::string_view line) {
    api->OutputDebugStringW(WideFromUtf8(line).c_str());
  };
}

}  // namespace hid::windows
