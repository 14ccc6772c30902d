#include "hid/windows/DeviceNoticeWindow.h"

#include <future>

#include "hid/HidTypes.h"

namespace hid::windows {
namespace {

constexpr const wchar_t* kWindowClass = L"update.DeviceNoticeWindow";

bool RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  // A second platform in the same process finds the class registered already.
  return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

std::optional<std::uint32_t> NoticeCodeOf(WPARAM event, LPARAM data) {
  switch (event) {
    case DBT_DEVNODES_CHANGED:
      return kNoticeDevNodesChanged;
    case DBT_DEVICEARRIVAL:
    case DBT_DEVICEREMOVECOMPLETE: {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
      if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return std::nullopt;
      }
      return event == DBT_DEVICEARRIVAL ? kNoticeArrival : kNoticeRemoveComplete;
    }
    default:
      return std::nullopt;
  }
}

void FillHidNoticeFilter(DEV_BROADCAST_DEVICEINTERFACE_W& filter, const GUID& hidClass) {
  filter = DEV_BROADCAST_DEVICEINTERFACE_W{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = hidClass;
}

CDeviceNoticeWindow::CDeviceNoticeWindow(std::shared_ptr<IWin32Api> api, Deliver deliver)
    : m_Api(std::move(api)), m_Deliver(std::move(deliver)) {}

std::unique_ptr<CDeviceNoticeWindow> CDeviceNoticeWindow::Start(std::shared_ptr<IWin32Api> api,
                                                                const GUID& hidClass,
                                                                Deliver deliver) {
  std::unique_ptr<CDeviceNoticeWindow> notices(
      new CDeviceNoticeWindow(std::move(api), std::move(deliver)));
  std::promise<bool> startedPromise;
  std::future<bool> started = startedPromise.get_future();
  CDeviceNoticeWindow* self = notices.get();
  // The thread owns the promise, so that nothing it touches goes away under it.
  notices->m_Thread = std::thread([self, hidClass, promise = std::move(startedPromise)]() mutable {
    self->Run(hidClass, [&promise](bool ok) { promise.set_value(ok); });
  });
  if (!started.get()) {
    notices->m_Thread.join();  // Run has returned: it failed before its message loop
    return nullptr;
  }
  return notices;
}

CDeviceNoticeWindow::~CDeviceNoticeWindow() {
  if (m_Thread.joinable()) {
    // The window thread unregisters and destroys its window (a window can only be
    // destroyed by its own thread), then leaves its message loop.
    ::PostMessageW(m_Window, WM_CLOSE, 0, 0);
    m_Thread.join();
  }
}

void CDeviceNoticeWindow::Run(const GUID& hidClass, std::function<void(bool started)> started) {
  if (!RegisterWindowClass(&CDeviceNoticeWindow::WindowProc)) {
    started(false);
    return;
  }
  // HWND_MESSAGE: a window that is never shown and gets no broadcasts, only what is
  // sent to it; RegisterDeviceNotificationW sends the HID notices to it.
  m_Window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               ::GetModuleHandleW(nullptr), this);
  if (m_Window == nullptr) {
    started(false);
    return;
  }
  DEV_BROADCAST_DEVICEINTERFACE_W filter;
  FillHidNoticeFilter(filter, hidClass);
  m_Registration =
      m_Api->RegisterDeviceNotificationW(m_Window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (m_Registration == nullptr) {
    ::DestroyWindow(m_Window);
    started(false);
    return;
  }
  started(true);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

LRESULT CALLBACK CDeviceNoticeWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<CDeviceNoticeWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_DEVICECHANGE:
      if (self != nullptr) {
        if (const auto code = NoticeCodeOf(wParam, lParam)) {
          self->m_Deliver(*code);
        }
      }
      return TRUE;
    case WM_CLOSE:
      if (self != nullptr && self->m_Registration != nullptr) {
        self->m_Api->UnregisterDeviceNotification(self->m_Registration);
        self->m_Registration = nullptr;
      }
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace hid::windows
