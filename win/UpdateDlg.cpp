#include "win/UpdateDlg.h"

#include <commctrl.h>

#include <algorithm>

#include "hid/windows/Win32Errors.h"
#include "text/LocalizedText.h"
#include "text/UiLanguage.h"
#include "update/RoadWords.h"
#include "win/UpdateDlgMessages.h"

namespace win {
namespace {

using hid::windows::WideFromUtf8;

// How long the end of the modal run waits for a run's worker to reach its next block
// boundary and stop; commands there time out well within it.
constexpr auto kRunStopBound = std::chrono::seconds(30);

// The road's one timer: its bounds (the controller's return in the other mode).
constexpr UINT_PTR kRoadTimerId = 1;

// The notice for other markets; 8-bit text, as it was always stored.
constexpr const char* kNoticeText = "For Corvane 2nd gen Vantor 2.4G Wired Controller only";

HICON LoadIconOfSize(int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON,
      ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}

// Every line whole, whoever wrote it (the link, the control, this dialog).
DialogOptions WithWholeLines(DialogOptions options) {
  options.debug = base::WholeLines(std::move(options.debug));
  return options;
}

}  // namespace

CUpdateDlg::CUpdateDlg(std::shared_ptr<hid::IHidPlatform> platform, DialogOptions options)
    : m_Options(WithWholeLines(std::move(options))),
      m_Platform(std::move(platform)),
      m_hIcon(LoadIconOfSize(SM_CXICON, SM_CYICON)),
      m_hSmallIcon(LoadIconOfSize(SM_CXSMICON, SM_CYSMICON)) {
  update::RoadOptions road;
  road.commands = m_Options.commands;
  road.languageId = m_Options.languageId;
  road.debug = m_Options.debug;
  road.waits = m_Options.waits;
  // The asking before a run opens its file dialog from the dialog's own loop, over the
  // shown window, never inside a notice or OnInitDialog; a run's end comes back the same
  // way from its worker.
  road.postToOwner = [this](std::function<void()> work) { PostToDialog(std::move(work)); };
  road.armTimer = [this](std::optional<std::chrono::milliseconds> wait) {
    const HWND window = Window();
    if (window == nullptr) {
      return;
    }
    if (wait) {
      ::SetTimer(window, kRoadTimerId, static_cast<UINT>(std::max<std::int64_t>(1, wait->count())),
                 nullptr);
    } else {
      ::KillTimer(window, kRoadTimerId);
    }
  };
  road.onEnded = [this](const update::RoadEnd& end) {
    {
      std::lock_guard lock(m_OutcomeMutex);
      m_LastOutcome = end.outcome;
    }
    if (const auto failed = update::FailureText(end, LanguageId()); failed && !m_Closing) {
      // A failure is said, not left to look like work in progress; the box opens once the
      // road's own call has returned, not inside it.
      SetProgress(0);
      PostToDialog([this, text = *failed] {
        (void)ShowMessageBox(text, Text(text::kWindowTitle), update::MessageButtons::kOk);
      });
    }
  };
  road.onChanged = [this](const update::RoadView&) { ShowStatus(); };
  m_Road = std::make_unique<update::CRoad>(m_Platform, *this, std::move(road));
}

CUpdateDlg::~CUpdateDlg() {
  // The modal run is over and has ended any run; the road joins what is left.
  m_Road->RequestStop();
  m_Road.reset();
  for (HICON icon : {m_hIcon, m_hSmallIcon}) {
    if (icon != nullptr) {
      ::DestroyIcon(icon);
    }
  }
}

INT_PTR CUpdateDlg::DoModal() {
  m_ThreadId = ::GetCurrentThreadId();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  const INT_PTR result =
      ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogTemplateId), nullptr,
                        &CUpdateDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  // A run that was going on when the dialog ended stops at its next block boundary and
  // is ended here, on the dialog's thread, with nothing left to show it on. Work still
  // queued runs first: an asking that never got its turn ends its run without asking.
  m_Closing = true;
  m_Road->RequestStop();
  RunPostedWork();
  (void)m_Road->WaitForRunEnd(kRunStopBound);
  return result;
}

std::optional<update::RunOutcome> CUpdateDlg::LastRunOutcome() const {
  std::lock_guard lock(m_OutcomeMutex);
  return m_LastOutcome;
}

INT_PTR CALLBACK CUpdateDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CUpdateDlg*>(lParam);
    self->m_hWnd.store(window);
    self->OnInitDialog();
    // The focus is left to the window system: the first enabled tab stop gets it.
    return TRUE;
  }
  auto* self = reinterpret_cast<CUpdateDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void CUpdateDlg::OnInitDialog() {
  const HWND window = Window();
  // 2. The icon, large then small.
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));

  // 3. The notice for other markets goes to a control this template lacks.
  const std::uint16_t language =
      m_Options.languageId ? *m_Options.languageId : text::GetUserDefaultUILanguage();
  if (language != text::kLangChinesePrc) {
    if (const HWND notice = ::GetDlgItem(window, kIdNoticeLabel)) {
      ::SetWindowTextW(notice, WideFromUtf8(kNoticeText).c_str());
    }
  }

  // 4. The controls the update control changes.
  m_UpdateButton = ::GetDlgItem(window, kIdUpdateButton);
  m_ProgressBar = ::GetDlgItem(window, kIdProgressBar);
  m_CompletionLabel = ::GetDlgItem(window, kIdCompletionLabel);

  // 5. and 6. The labels.
  ::ShowWindow(m_CompletionLabel, SW_HIDE);
  ::SetWindowTextW(m_CompletionLabel, WideFromUtf8(Text(text::kFirmwareUpgraded)).c_str());
  m_InstructionLabel = ::GetDlgItem(window, kIdInstructionLabel);
  ::SetWindowTextW(m_InstructionLabel, WideFromUtf8(Text(text::kInstructions)).c_str());

  // 7. The bar.
  ::SendMessageW(m_ProgressBar, PBM_SETRANGE32, 0, 100);
  ::SendMessageW(m_ProgressBar, PBM_SETPOS, 0, 0);

  // 8. The update state (chunk, header, byte count) starts cleared in the controller.
  // 9. The button's caption.
  ::SetWindowTextW(m_UpdateButton, WideFromUtf8(Text(text::kUsbUpdate)).c_str());

  // The template places the dialog at 0, 0; it is centred in the work area instead.
  RECT frame{};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (::GetWindowRect(window, &frame) &&
      ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    const RECT& area = monitor.rcWork;
    const int x = area.left + (area.right - area.left - (frame.right - frame.left)) / 2;
    const int y = area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2;
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // 10. Notices of the system's devices come to this window as WM_DEVICECHANGE.
  m_Road->Link().SetNotifyWindow(reinterpret_cast<hid::NativeWindow>(window));

  // 11. to 13. The first scan: version unread, search, identify, the button, the title.
  // A device already in boot mode is asked for its image once the loop turns.
  m_Road->StartUp();
  // The simulated platform signals its notices by an event instead.
  WatchNoticeEvent();
}

INT_PTR CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  const HWND window = Window();
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kIdUpdateButton:
          if (HIWORD(wParam) == BN_CLICKED && !m_Closing) {
            m_Road->OnUpdateClicked();
          }
          return TRUE;
        case IDOK:      // Enter while the update button lacks the focus
        case IDCANCEL:  // Escape, the close box
          End(LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    case WM_DEVICECHANGE:
      // Every notice goes to the control as it is; its data is not examined.
      if (!m_Closing) {
        m_Road->OnDeviceChange(static_cast<std::uint32_t>(wParam));
      }
      ::SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_PAINT:
      if (!::IsIconic(window)) {
        return FALSE;
      }
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_TIMER:
      if (wParam != kRoadTimerId) {
        return FALSE;
      }
      ::KillTimer(window, kRoadTimerId);
      if (!m_Closing) {
        m_Road->OnTimer();
      }
      return TRUE;
    case kMsgSetProgress:
      SetProgress(static_cast<std::int32_t>(wParam));
      return TRUE;
    case kMsgEnableButton:
      EnableUpdateButton(wParam != 0);
      return TRUE;
    case kMsgShowCompletion:
      ShowCompletionLabel(wParam != 0);
      return TRUE;
    case kMsgPostedWork:
      // One item per message, so that work keeps its place among the messages posted
      // with it: a run's end after the progress its worker posted before it.
      RunPostedWork(1);
      return TRUE;
    case kMsgNotices:
      OnNoticesPending();
      return TRUE;
    case WM_DESTROY:
      StopWatchingNoticeEvent();
      // Notices must not reach a window that is gone, nor anything its controls.
      m_Platform->UnregisterDeviceNotices();
      m_hWnd.store(nullptr);
      m_ProgressBar = m_UpdateButton = m_CompletionLabel = m_InstructionLabel = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void CUpdateDlg::OnPaint() {
  // A minimised window shows the icon in the middle of its client area.
  const HWND window = Window();
  PAINTSTRUCT paint{};
  const HDC dc = ::BeginPaint(window, &paint);
  ::SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client{};
  ::GetClientRect(window, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(window, &paint);
}

void CUpdateDlg::WatchNoticeEvent() {
  const HANDLE event = m_Platform->NoticeEvent();
  if (event == nullptr || m_NoticeWait != nullptr || m_Closing) {
    return;
  }
  // One wait at a time, armed again once the notices it announced have been taken.
  if (!::RegisterWaitForSingleObject(&m_NoticeWait, event, &CUpdateDlg::OnNoticeEventSignalled,
                                     this, INFINITE, WT_EXECUTEONLYONCE)) {
    m_NoticeWait = nullptr;
  }
}

void CUpdateDlg::StopWatchingNoticeEvent() {
  if (m_NoticeWait != nullptr) {
    // Waits for a callback that is running, so that none outlives the dialog.
    ::UnregisterWaitEx(m_NoticeWait, INVALID_HANDLE_VALUE);
    m_NoticeWait = nullptr;
  }
}

VOID CALLBACK CUpdateDlg::OnNoticeEventSignalled(PVOID context, BOOLEAN /*timedOut*/) {
  static_cast<CUpdateDlg*>(context)->Post(kMsgNotices, 0, 0);
}

void CUpdateDlg::OnNoticesPending() {
  StopWatchingNoticeEvent();
  if (m_Closing) {
    (void)m_Platform->TakeNotices();
  } else {
    m_Road->HandleNotices();
  }
  WatchNoticeEvent();
}

void CUpdateDlg::End(INT_PTR result) {
  // While a run writes the controller, closing asks first.
  if (!m_Closing && !m_Road->MayClose()) {
    return;  // the run goes on
  }
  // No confirmation and no waiting: a run going on stops at its next block boundary, and
  // a box or file dialog open over the window is cancelled. That one runs on this very
  // thread, further up the stack, and returns once this handler has.
  m_Closing = true;
  m_Road->RequestStop();
  const HWND window = Window();
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND popup, LPARAM owner) {
        if (::GetWindow(popup, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
            ::IsWindowEnabled(popup)) {
          ::PostMessageW(popup, WM_COMMAND, IDCANCEL, 0);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(window));
  ::EndDialog(window, result);
}

void CUpdateDlg::PostToDialog(std::function<void()> work) {
  {
    std::lock_guard lock(m_PostedMutex);
    m_Posted.push_back(std::move(work));
  }
  Post(kMsgPostedWork, 0, 0);
}

void CUpdateDlg::RunPostedWork(std::size_t most) {
  // Work may open a box, inside which later work runs: each item is taken before it runs.
  for (std::size_t done = 0; done < most; ++done) {
    std::function<void()> work;
    {
      std::lock_guard lock(m_PostedMutex);
      if (m_Posted.empty()) {
        return;
      }
      work = std::move(m_Posted.front());
      m_Posted.pop_front();
    }
    work();
  }
}

}  // namespace win
