// The user interface of the fault soak: picks the scenario's image, agrees to every
// prompt, counts the runs that are inside the user interface at once, and lets the soak
// act at chosen points: ask the run to stop as a closing window or Ctrl-C does, or hand
// the controller notices while the run is certainly going on. The file dialog and the
// prompt are open on the owner's thread, as a window's are: there the soak's action runs
// in place, as a window's nested event loop would run it. A progress position comes from
// the worker, which is held there until the soak has acted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/UserInterface.h"

namespace soak {

enum class StopPoint { kNone, kChoosing, kPrompt, kProgress };

struct Hold {
  StopPoint at = StopPoint::kNone;
  int progress = 0;  // kProgress: the first position at or above this
};

class CSoakUi : public update::IUserInterface {
 public:
  // For the next run: the image it picks, and where it is held, in order.
  void Prepare(std::string imagePath, std::vector<Hold> holds = {});

  // What to do at a hold on the owner's thread (the file dialog, the prompt), given the
  // hold's index.
  void SetMeanwhile(std::function<void(std::size_t)> meanwhile);

  // Waits at most `timeout` for the worker to be held; the index of the hold it is at.
  std::optional<std::size_t> WaitForHold(std::chrono::milliseconds timeout);
  // Lets the held run go on.
  void Release();

  // Runs between their first user-interface call and RunFinished: at most one, ever.
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
  // Called by the run wherever it may be held: holds it at each due hold in turn.
  void MaybeHold(StopPoint point, int progress);

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::string m_Image;
  std::vector<Hold> m_Holds;
  std::function<void(std::size_t)> m_Meanwhile;
  std::size_t m_NextHold = 0;
  std::optional<std::size_t> m_Held;
  int m_RunsInside = 0;
  int m_MostRunsAtOnce = 0;
};

}  // namespace soak
