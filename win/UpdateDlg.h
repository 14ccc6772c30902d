// CUpdateDlg on Windows: the main dialog, run modally from dialog template 102 with
// DialogBoxParamW. It owns the device link and the update control, hands device
// notices (WM_DEVICECHANGE, or the simulated platform's event) and clicks on the update
// button to the control, and carries out the six user-interface operations for it.
//
// Threads. The control asks (file dialog, boxes) only on this dialog's thread, so those
// run in place; the asking before a run is posted to the dialog's own loop. The run's
// worker changes the bar, the button, the label and the title: each of those is posted
// to the dialog and applied by its own thread; the worker never touches a control and
// never waits for this thread. When the worker has ended, the dialog's thread ends the
// run (the success box, the label, the button).
//
// Closing. The close box, Escape, or Enter while the update button lacks the focus end
// the dialog without asking. A run going on is asked to stop at its next block boundary
// and a box or file dialog open over the dialog is cancelled; once the window is gone,
// the end of DoModal waits for the run's worker and ends the run, with nothing left to
// show it on.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "update/Road.h"
#include "update/UserInterface.h"

namespace win {

inline constexpr int kDialogTemplateId = 102;
inline constexpr int kIconResourceId = 152;
inline constexpr int kIdProgressBar = 1003;
inline constexpr int kIdUpdateButton = 1007;
inline constexpr int kIdCompletionLabel = -1;  // the static control without an id
inline constexpr int kIdInstructionLabel = 1008;
inline constexpr int kIdNoticeLabel = 1011;  // in other markets' dialogs; not in 102

struct DialogOptions {
  // The language of every text; nullopt asks the system each time, as the texts do.
  std::optional<std::uint16_t> languageId;
  base::DebugSink debug;
  protocol::CommandOptions commands;
  update::Waits waits;
};

class CUpdateDlg final : public update::IUserInterface {
 public:
  explicit CUpdateDlg(std::shared_ptr<hid::IHidPlatform> platform, DialogOptions options = {});
  ~CUpdateDlg() override;
  CUpdateDlg(const CUpdateDlg&) = delete;
  CUpdateDlg& operator=(const CUpdateDlg&) = delete;

  // Creates the window from template 102 of this program's resources and runs it until
  // it ends; IDOK or IDCANCEL, or -1 when the window could not be created.
  INT_PTR DoModal();

  // The window while the modal run goes on, else null; from any thread.
  HWND Window() const { return m_hWnd.load(); }
  update::CRoad& Road() { return *m_Road; }
  // How the last road ended, once the dialog has heard it; from any thread.
  std::optional<update::RunOutcome> LastRunOutcome() const;

  // update::IUserInterface
  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;
  void EnableUpdateButton(bool enabled) override;
  void ShowCompletionLabel(bool visible) override;
  void SetWindowTitle(const std::string& title) override;
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest& request) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static VOID CALLBACK OnNoticeEventSignalled(PVOID context, BOOLEAN timedOut);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnPaint();
  void OnNoticesPending();
  // The completion label tells the state the user must act on (update::StatusLine), and
  // while no controller can be used, why (update::WhyNoController), in the place of the
  // instructions; otherwise it is as the template has it.
  void ShowStatus();
  std::uint16_t LanguageId() const;
  void WatchNoticeEvent();
  void StopWatchingNoticeEvent();
  void End(INT_PTR result);
  // Runs work on the dialog's thread once its loop turns; dropped when the window is gone.
  void PostToDialog(std::function<void()> work);
  void RunPostedWork();
  void ShowBeforeAsking() const;
  bool OnDialogThread() const;
  std::string Text(std::uint32_t textId) const;
  // Posts a private message; false when the window is gone.
  bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;

  const DialogOptions m_Options;
  const std::shared_ptr<hid::IHidPlatform> m_Platform;
  HICON m_hIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  std::atomic<HWND> m_hWnd{nullptr};
  DWORD m_ThreadId = 0;

  HWND m_ProgressBar = nullptr;
  HWND m_UpdateButton = nullptr;
  HWND m_CompletionLabel = nullptr;
  HWND m_InstructionLabel = nullptr;

  bool m_Closing = false;
  bool m_UpgradedShown = false;  // ShowCompletionLabel's: "Firmware upgraded!" is shown
  HANDLE m_NoticeWait = nullptr;

  std::mutex m_PostedMutex;
  std::deque<std::function<void()>> m_Posted;

  mutable std::mutex m_OutcomeMutex;
  std::optional<update::RunOutcome> m_LastOutcome;

  // Destroyed first: the road joins its worker, which by then has left every
  // user-interface call.
  std::unique_ptr<update::CRoad> m_Road;
};

}  // namespace win
