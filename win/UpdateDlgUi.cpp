// The dialog's side of the calls the road makes: boxes and the file dialog on the
// dialog's thread, and the bar, button, label and title from any thread (posted to the
// dialog when the caller is the run's worker).
#include "win/UpdateDlg.h"

#include <commctrl.h>

#include <algorithm>

#include "hid/windows/Win32Errors.h"
#include "text/LocalizedText.h"
#include "text/UiLanguage.h"
#include "update/RoadWords.h"
#include "win/FileDialog.h"
#include "win/ReasonLabel.h"
#include "win/UpdateDlgMessages.h"

namespace win {

using hid::windows::WideFromUtf8;

void CUpdateDlg::ShowBeforeAsking() const {
  // The dialog manager shows the dialog once its queue has run dry; the asking for a
  // device in boot mode at start comes first, and its box or file dialog is to open over
  // the shown dialog, not alone.
  const HWND window = Window();
  if (!::IsWindowVisible(window)) {
    ::ShowWindow(window, SW_SHOW);
  }
}

bool CUpdateDlg::OnDialogThread() const {
  return ::GetCurrentThreadId() == m_ThreadId;
}

std::string CUpdateDlg::Text(std::uint32_t textId) const {
  return m_Options.languageId ? text::LoadLocalizedText(textId, *m_Options.languageId)
                              : text::LoadLocalizedText(textId);
}

bool CUpdateDlg::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
  const HWND window = Window();
  return window != nullptr && ::PostMessageW(window, message, wParam, lParam) != 0;
}

update::MessageResult CUpdateDlg::ShowMessageBox(const std::string& text,
                                                 const std::string& caption,
                                                 update::MessageButtons buttons) {
  if (m_Closing) {
    return update::MessageResult::kCancel;
  }
  ShowBeforeAsking();
  // No icon; Escape and the close box answer Cancel.
  const UINT type = buttons == update::MessageButtons::kOk ? MB_OK : MB_OKCANCEL;
  const int answer =
      ::MessageBoxW(Window(), WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), type);
  return buttons == update::MessageButtons::kOk || answer == IDOK ? update::MessageResult::kOk
                                                                  : update::MessageResult::kCancel;
}

std::optional<std::string> CUpdateDlg::ShowOpenFileDialog(const update::OpenFileRequest& request) {
  if (m_Closing) {
    return std::nullopt;
  }
  ShowBeforeAsking();
  return AskForFile(Window(), request);
}

void CUpdateDlg::SetProgress(std::int32_t position) {
  if (!OnDialogThread()) {
    Post(kMsgSetProgress, static_cast<WPARAM>(position), 0);
    return;
  }
  ::SendMessageW(m_ProgressBar, PBM_SETPOS, std::clamp<std::int32_t>(position, 0, 100), 0);
}

void CUpdateDlg::EnableUpdateButton(bool enabled) {
  if (!OnDialogThread()) {
    Post(kMsgEnableButton, enabled ? 1 : 0, 0);
    return;
  }
  ::EnableWindow(m_UpdateButton, enabled ? TRUE : FALSE);
}

void CUpdateDlg::ShowCompletionLabel(bool visible) {
  if (!OnDialogThread()) {
    Post(kMsgShowCompletion, visible ? 1 : 0, 0);
    return;
  }
  m_UpgradedShown = visible;
  ShowStatus();
}

std::uint16_t CUpdateDlg::LanguageId() const {
  return m_Options.languageId.value_or(text::GetUserDefaultUILanguage());
}

void CUpdateDlg::ShowStatus() {
  if (m_CompletionLabel == nullptr || m_Closing) {
    return;
  }
  // What the user must act on: why no controller can be used (none found, or found but
  // not opened), a controller waiting in boot mode, or the firmware just written; in the
  // place of the instructions. Otherwise the label as the template has it: "Firmware
  // upgraded!" while the controller restarts, hidden before.
  const std::optional<std::string> line =
      update::LabelLine(*m_Road, m_UpgradedShown, LanguageId(), m_Options.debug);
  ShowReasonInLabel(Window(), m_CompletionLabel, m_InstructionLabel, line,
                    Text(text::kFirmwareUpgraded));
  if (!line && m_UpgradedShown) {
    ::ShowWindow(m_CompletionLabel, SW_SHOWNA);
  }
}

void CUpdateDlg::SetWindowTitle(const std::string& title) {
  if (!OnDialogThread()) {
    PostToDialog([this, title] { SetWindowTitle(title); });
    return;
  }
  ::SetWindowTextW(Window(), WideFromUtf8(title).c_str());
}

}  // namespace win
