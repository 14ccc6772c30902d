// CUpdateDlg on Windows: the main dialog, run modally from dialog template 102 with
// DialogBoxParamW. It owns the device link and the update control, hands device
// notices (WM_DEVICECHANGE, or the simulated platform's event) and clicks on the update
// button to the control, and carries out the six user-interface operations for it.
//
// Threads. The control asks (file dialog, boxes) only on this dialog's thread, so those
// run in place. The run's worker changes the bar, the button, the label and the title:
// each of those is posted to the dialog as a private message and applied by its own
// thread; the worker never touches a control and never waits for this thread.
//
// Closing. The close box, Escape, or Enter while the update button lacks the focus end
// the dialog without asking. During a run the end waits: the run is asked to stop at its
// next block, a box or file dialog open over the dialog is cancelled, and the dialog
// ends once the worker has said that the run is over, so that nothing is left to touch
// a destroyed window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "update/UpdateController.h"
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
  update::CUpdateController& Controller() { return *m_Controller; }
  // How the last run ended, once the dialog has heard it; from any thread.
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
  void WatchNoticeEvent();
  void StopWatchingNoticeEvent();
  void OnRunEnded(update::RunOutcome* outcome);
  void EndWhenIdle(INT_PTR result);
  void DiscardPostedMessages();
  void ShowBeforeAsking() const;
  bool OnDialogThread() const;
  bool WorkerRunning() const;
  std::string Text(std::uint32_t textId) const;
  // Posts a private message; false when the window is gone.
  bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;

  const DialogOptions m_Options;
  const std::shared_ptr<hid::IHidPlatform> m_Platform;
  hid::CHid m_Hid;
  HICON m_hIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  std::atomic<HWND> m_hWnd{nullptr};
  DWORD m_ThreadId = 0;

  HWND m_ProgressBar = nullptr;
  HWND m_UpdateButton = nullptr;
  HWND m_CompletionLabel = nullptr;
  HWND m_InstructionLabel = nullptr;

  bool m_Closing = false;
  std::optional<INT_PTR> m_PendingResult;
  int m_RunsEnded = 0;
  HANDLE m_NoticeWait = nullptr;

  mutable std::mutex m_OutcomeMutex;
  std::optional<update::RunOutcome> m_LastOutcome;

  // Destroyed before the link: the controller joins its worker, which by then has left
  // every user-interface call.
  std::unique_ptr<update::CUpdateController> m_Controller;
};

}  // namespace win
