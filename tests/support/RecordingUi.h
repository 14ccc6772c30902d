// A user interface for tests: records every operation in order, keeps the state a
// window would show, and answers dialogs as the test says.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/UserInterface.h"

namespace testing_support {

class CRecordingUi : public update::IUserInterface {
 public:
  // Answers, taken in order. Without one, a file dialog is cancelled and a box gets OK.
  void QueueFile(std::optional<std::string> path);
  void QueueBoxAnswer(update::MessageResult answer);
  // Runs `meanwhile` while the next file dialog is open, as a window's nested event
  // loop runs notices and clicks then.
  void WhileFileDialogOpen(std::function<void()> meanwhile);
  // The same while the next OK-and-Cancel box (the version question) is open.
  void WhileQuestionOpen(std::function<void()> meanwhile);

  std::vector<std::string> Calls() const { return Copy(m_Calls); }
  std::vector<update::OpenFileRequest> FileRequests() const { return Copy(m_FileRequests); }
  std::vector<std::string> BoxTexts() const { return Copy(m_BoxTexts); }
  bool ButtonEnabled() const { return Copy(m_Button); }
  bool LabelVisible() const { return Copy(m_Label); }
  std::vector<int> ProgressHistory() const { return Copy(m_Progress); }
  int Progress() const {
    const std::vector<int> history = ProgressHistory();
    return history.empty() ? 0 : history.back();
  }

  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;
  void EnableUpdateButton(bool enabled) override;
  void ShowCompletionLabel(bool visible) override;
  void SetWindowTitle(const std::string& title) override;
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest& request) override;

 private:
  template <typename T>
  T Copy(const T& member) const {
    std::lock_guard lock(m_Mutex);
    return member;
  }

  mutable std::mutex m_Mutex;
  std::vector<std::string> m_Calls;
  std::deque<std::optional<std::string>> m_Files;
  std::deque<update::MessageResult> m_BoxAnswers;
  std::vector<update::OpenFileRequest> m_FileRequests;
  std::vector<std::string> m_BoxTexts;
  std::vector<int> m_Progress;
  std::function<void()> m_WhileFileDialogOpen;
  std::function<void()> m_WhileQuestionOpen;
  bool m_Button = false;
  bool m_Label = false;
};

}  // namespace testing_support
