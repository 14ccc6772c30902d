#include "tests/support/RecordingUi.h"

#include <utility>

#include <algorithm>

namespace testing_support {

void CRecordingUi::QueueFile(std::optional<std::string> path) {
  std::lock_guard lock(m_Mutex);
  m_Files.push_back(std::move(path));
}

void CRecordingUi::QueueBoxAnswer(update::MessageResult answer) {
  std::lock_guard lock(m_Mutex);
  m_BoxAnswers.push_back(answer);
}

void CRecordingUi::WhileFileDialogOpen(std::function<void()> meanwhile) {
  std::lock_guard lock(m_Mutex);
  m_WhileFileDialogOpen = std::move(meanwhile);
}

void CRecordingUi::WhileQuestionOpen(std::function<void()> meanwhile) {
  std::lock_guard lock(m_Mutex);
  m_WhileQuestionOpen = std::move(meanwhile);
}

update::MessageResult CRecordingUi::ShowMessageBox(const std::string& text,
                                                   const std::string& caption,
                                                   update::MessageButtons buttons) {
  std::unique_lock lock(m_Mutex);
  const bool okCancel = buttons == update::MessageButtons::kOkCancel;
  if (okCancel) {
    if (auto meanwhile = std::exchange(m_WhileQuestionOpen, nullptr)) {
      lock.unlock();
      meanwhile();
      lock.lock();
    }
  }
  m_Calls.push_back(std::string("ShowMessageBox(") + (okCancel ? "OkCancel" : "Ok") + "," +
                    caption + "):" + text);
  m_BoxTexts.push_back(text);
  update::MessageResult answer = update::MessageResult::kOk;
  if (!m_BoxAnswers.empty()) {
    answer = m_BoxAnswers.front();
    m_BoxAnswers.pop_front();
  }
  return okCancel ? answer : update::MessageResult::kOk;
}

void CRecordingUi::SetProgress(std::int32_t position) {
  const int shown = std::clamp<std::int32_t>(position, 0, 100);
  std::lock_guard lock(m_Mutex);
  m_Calls.push_back("SetProgress(" + std::to_string(shown) + ")");
  m_Progress.push_back(shown);
}

void CRecordingUi::EnableUpdateButton(bool enabled) {
  std::lock_guard lock(m_Mutex);
  m_Calls.push_back(std::string("EnableUpdateButton(") + (enabled ? "1" : "0") + ")");
  m_Button = enabled;
}

void CRecordingUi::ShowCompletionLabel(bool visible) {
  std::lock_guard lock(m_Mutex);
  m_Calls.push_back(std::string("ShowCompletionLabel(") + (visible ? "1" : "0") + ")");
  m_Label = visible;
}

void CRecordingUi::SetWindowTitle(const std::string& title) {
  std::lock_guard lock(m_Mutex);
  m_Calls.push_back("SetWindowTitle:" + title);
}

std::optional<std::string> CRecordingUi::ShowOpenFileDialog(
    const update::OpenFileRequest& request) {
  std::unique_lock lock(m_Mutex);
  m_Calls.push_back("ShowOpenFileDialog");
  m_FileRequests.push_back(request);
  if (auto meanwhile = std::exchange(m_WhileFileDialogOpen, nullptr)) {
    lock.unlock();
    meanwhile();
    lock.lock();
  }
  if (m_Files.empty()) {
    return std::nullopt;
  }
  auto path = m_Files.front();
  m_Files.pop_front();
  return path;
}

}  // namespace testing_support
