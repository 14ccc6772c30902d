// The user interface of the fault soak: picks the scenario's image, agrees to every
// prompt, counts the runs inside the user interface at once, and lets the soak act
// while a run goes on. The file dialog and the prompt are open on the owner's thread, as
// a window's are: a stop there runs in place, as a window's nested event loop would run
// it. Progress comes from the worker, which is held there until the soak has acted: at
// the run's first position (to hand the controller notices), and at a stop's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "update/UserInterface.h"

namespace soak {

enum class StopPoint { kNone, kChoosing, kPrompt, kProgress };
enum class Hold { kPoke, kStop };

class CSoakUi : public update::IUserInterface {
 public:
  // For the next run: the image it picks, and where the owner stops it (at a progress
  // stop, the first position at or above stopAtProgress).
  void Prepare(std::string imagePath, StopPoint stopAt = StopPoint::kNone, int stopAtProgress = 0);
  // What a stop in the file dialog or the prompt does, on the owner's thread.
  void SetStop(std::function<void()> stop);

  // Waits at most `timeout` for the worker to be held; why it is.
  std::optional<Hold> WaitForHold(std::chrono::milliseconds timeout);
  void Release();  // lets the held run go on

  // Runs between their file dialog and RunFinished: at most one, ever.
  void RunFinished();
  int MostRunsAtOnce() const;

  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;
  void EnableUpdateButton(bool) override {}
  void ShowCompletionLabel(bool) override {}
  void SetWindowTitle(const std::string&) override {}
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest&) override;

 private:
  void StopInPlace(StopPoint point);

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::string m_Image;
  StopPoint m_StopAt = StopPoint::kNone;
  int m_StopAtProgress = 0;
  bool m_Poked = false;
  std::function<void()> m_Stop;
  std::optional<Hold> m_Held;
  int m_RunsInside = 0;
  int m_MostRunsAtOnce = 0;
};

}  // namespace soak
