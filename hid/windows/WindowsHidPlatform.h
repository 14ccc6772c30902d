// The device link's platform on Windows: HID interfaces found with the device setup
// services, opened with CreateFileW, read overlapped with a time-out, written
// synchronously, and watched with RegisterDeviceNotificationW.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "hid/HidPlatform.h"
#include "hid/NoticeQueue.h"
#include "hid/windows/DeviceNoticeWindow.h"
#include "hid/windows/Win32Api.h"

namespace hid::windows {

class CWindowsHidPlatform final : public IHidPlatform {
 public:
  explicit CWindowsHidPlatform(std::shared_ptr<IWin32Api> api = CreateSystemWin32Api());
  ~CWindowsHidPlatform() override;
  CWindowsHidPlatform(const CWindowsHidPlatform&) = delete;
  CWindowsHidPlatform& operator=(const CWindowsHidPlatform&) = delete;

  // See EnumerateHidInterfaces; path is the interface path in UTF-8.
  std::vector<InterfaceInfo> EnumerateInterfaces() override;

  // kWrite: GENERIC_WRITE, synchronous. kRead: GENERIC_READ, FILE_FLAG_OVERLAPPED. Both
  // share reading and writing, so that the two handles of one link and other programs'
  // handles coexist. The report lengths are read from the interface's capabilities.
  // Errors: kPermissionDenied (access denied, held elsewhere), kNotFound (no such
  // device, unplugged), kIo.
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;

  // With a window: registers it for HID interface notices, and the window's owner
  // handles WM_DEVICECHANGE (NoticeCodeOf turns the message into a code). Without one
  // (0): starts a hidden message-only window whose notices queue up here, for
  // TakeNotices, WaitForNotices and NoticeEvent. True when the registration is made
  // (also on a second call, which keeps the first).
  bool RegisterForDeviceNotices(NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;

  // For an owner without a window: a manual-reset event signalled while notices are
  // pending, to wait on beside other handles (WaitForMultipleObjects), reset by
  // TakeNotices; or a plain wait, true when a notice is pending in time.
  void* NoticeEvent() const override { return m_Notices.Event(); }
  std::vector<std::uint32_t> TakeNotices() override { return m_Notices.Take(); }
  bool WaitForNotices(std::chrono::milliseconds timeout) { return m_Notices.WaitFor(timeout); }

  // The maker's USB devices with their problem codes, and its HID interfaces, the
  // controller's opened and closed again (WindowsSurvey.h).
  SystemSurvey Survey() override;

  // The hidden window while it runs, else null; for tests.
  HWND NoticeWindow() const;

 private:
  const std::shared_ptr<IWin32Api> m_Api;
  CNoticeQueue m_Notices;

  mutable std::mutex m_Mutex;  // guards the registration below
  HDEVNOTIFY m_WindowRegistration = nullptr;
  std::unique_ptr<CDeviceNoticeWindow> m_HiddenWindow;
};

// What the front ends call.
std::shared_ptr<IHidPlatform> CreateWindowsHidPlatform();

// A debug sink writing each line to the debugger output channel (OutputDebugStringW),
// converted from UTF-8.
base::DebugSink CreateDebuggerSink(std::shared_ptr<IWin32Api> api = CreateSystemWin32Api());

}  // namespace hid::windows
