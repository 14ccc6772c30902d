// Device notices on Windows arrive as WM_DEVICECHANGE window messages. A front end with
// a window (the dialog) receives them itself; a front end without one (the command
// line) gets this: a hidden message-only window on a thread of its own, registered for
// HID interface notices, that turns each message into a notice code for the owner.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "hid/windows/Win32Api.h"

namespace hid::windows {

// The notice code (kNoticeArrival, kNoticeRemoveComplete, kNoticeDevNodesChanged) of a
// WM_DEVICECHANGE message, or nullopt for the ones the link does not pass on: arrivals
// and removals of anything but a device interface (volumes, ports), queries, and the
// rest. For a window that handles WM_DEVICECHANGE itself as well as for this one.
[[nodiscard]] std::optional<std::uint32_t> NoticeCodeOf(WPARAM event, LPARAM data);

// Fills filter for HID interface notices: its size from this build, the device
// interface type, the HID class.
void FillHidNoticeFilter(DEV_BROADCAST_DEVICEINTERFACE_W& filter, const GUID& hidClass);

class CDeviceNoticeWindow {
 public:
  using Deliver = std::function<void(std::uint32_t code)>;

  // Creates the window on a new thread and registers it (RegisterDeviceNotificationW
  // through api). Returns null when the window cannot be created or the registration
  // fails; no thread is left behind then.
  static std::unique_ptr<CDeviceNoticeWindow> Start(std::shared_ptr<IWin32Api> api,
                                                    const GUID& hidClass, Deliver deliver);

  // Unregisters, destroys the window and waits for its thread.
  ~CDeviceNoticeWindow();
  CDeviceNoticeWindow(const CDeviceNoticeWindow&) = delete;
  CDeviceNoticeWindow& operator=(const CDeviceNoticeWindow&) = delete;

  // The hidden window, for tests that post it messages.
  HWND Window() const { return m_Window; }

 private:
  CDeviceNoticeWindow(std::shared_ptr<IWin32Api> api, Deliver deliver);
  void Run(const GUID& hidClass, std::function<void(bool started)> started);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  const std::shared_ptr<IWin32Api> m_Api;
  const Deliver m_Deliver;
  HWND m_Window = nullptr;
  HDEVNOTIFY m_Registration = nullptr;
  std::thread m_Thread;
};

}  // namespace hid::windows
