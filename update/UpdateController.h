// The update control: what device is present and in which mode, what the notices and
// the update button do, and the flashing run on a thread of its own.
//
// The device has two modes told apart by product ID: application mode (0x6E21) runs the
// firmware and reports type and version; boot mode (0x6E30) waits in the bootloader. The
// update button sends the command that restarts the device in boot mode; when it comes
// back, identification starts a flashing run (UpdateWorker) on its own thread.
//
// Threads: IdentifyDevice, OnDeviceChange, OnUpdateClicked and StartUp run on the owner's
// UI thread. At most one run exists at a time. While a run uses the link, identification
// leaves the link alone and the button sends nothing, so the worker's frames are never
// interleaved with the UI thread's and its handles are never replaced under it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/DebugOutput.h"
#include "base/Stop.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/ImageFile.h"
#include "firmware/VersionPrompt.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "text/LocalizedText.h"
#include "update/RunOutcome.h"
#include "update/UserInterface.h"

namespace update {

inline constexpr std::uint16_t kDeviceKindUnknown = 7;
inline constexpr std::uint16_t kDeviceKindType600A = 5;
inline constexpr std::uint16_t kDeviceKindType6011 = 6;

inline constexpr std::uint32_t kBlockSize = 46;
inline constexpr std::uint32_t kVerifiedLength = 4096;

// Loads a text in the language the owner chose (by default the user's UI language).
using TextLoader = std::function<std::string(text::TextId)>;

struct ControllerOptions {
  protocol::CommandOptions commands;
  TextLoader texts;  // empty: text::LoadLocalizedText
  base::DebugSink debug;
  // Told how each run ended, on the worker thread, before the run counts as over.
  std::function<void(const RunOutcome&)> onRunFinished;
};

class CUpdateController {
 public:
  CUpdateController(hid::CHid& link, IUserInterface& ui, ControllerOptions options = {});
  // Asks a running run to stop and waits for it. The owner must keep the link and the
  // user interface alive until then, and must keep answering the user interface's
  // operations (a worker may be inside one).
  ~CUpdateController();
  CUpdateController(const CUpdateController&) = delete;
  CUpdateController& operator=(const CUpdateController&) = delete;

  // The identified device variant: 7 before any identification, then 5 (type 0x600A) or
  // 6 (type 0x6011). Never set back to 7.
  std::uint16_t GetDeviceKind() const { return m_DeviceKind.load(); }
  void SetDeviceKind(std::uint16_t kind) { m_DeviceKind.store(kind); }

  // The firmware version last read in application mode: low 16 bits hundredths, high 16
  // bits beta. 0x5A5A5A5A until a version has been read.
  std::uint32_t GetCurrentFirmwareInfo() const { return m_CurrentFirmwareInfo.load(); }
  void SetCurrentFirmwareInfo(std::uint32_t info) { m_CurrentFirmwareInfo.store(info); }

  // USB IDs of the device the last successful search found.
  hid::MatchedDeviceIds GetMatchedDeviceIds() const { return m_Hid.GetMatchedDeviceIds(); }

  // The start-up scan: marks the version unread, searches once, identifies a device it
  // finds, sets the button and the title. A device already in boot mode starts a run.
  void StartUp();

  // Identifies the device the last search found: in application mode reads its type and
  // version and enables the button; in boot mode reads its type and starts a run.
  void IdentifyDevice();

  // A device-change notice (0x0007, 0x8000, 0x8004; others are ignored). Always true.
  bool OnDeviceChange(std::uint32_t eventType, std::uintptr_t eventData = 0);

  // The update button: sends the boot-mode command to an identified device.
  void OnUpdateClicked();

  // Told, on the worker thread, each time a run enters a step after choosing the image
  // and after each block the device confirmed, with what the run knows so far: for
  // front ends that name the phase and count bytes. Set it before StartUp.
  void SetRunProgressObserver(std::function<void(const RunOutcome&)> observer) {
    m_OnRunProgress = std::move(observer);
  }

  // Runs.
  bool IsRunActive() const { return m_RunActive.load(); }
  bool IsLinkHeldByRun() const { return m_LinkHold.load() != LinkHold::kFree; }
  // Asks the running run to stop at its next block boundary or step.
  void RequestStop();
  // Waits until no run is active; the outcome of the last run, or nullopt on time-out
  // or when no run ever ended.
  std::optional<RunOutcome> WaitForRunEnd(std::chrono::milliseconds timeout);
  // How many runs have been started.
  int RunsStarted() const { return m_RunsStarted.load(); }

  // The image choice: chooses, checks and confirms an image for a device whose images
  // have the expected type. On false, the outcome says why.
  bool SelectFirmwareImage(std::uint16_t expectedType, RunOutcome* outcome = nullptr);
  const std::string& ImagePath() const { return m_ImagePath; }
  const firmware::FirmwareHeader& ImageHeader() const { return m_ImageHeader; }

  // The procedure a run executes; public so that tests and front ends without threads
  // can run it in place. Returns how it ended.
  RunOutcome UpdateWorker(base::CStopToken stop);

 private:
  std::string Text(text::TextId id) const;
  void Debug(const std::string& line) const;
  void StartRun();
  void FinishRun(const RunOutcome& outcome);
  // The steps of a run after the image was chosen; the outcome is filled as they go.
  void StreamImage(base::CStopToken stop, RunOutcome& outcome);
  bool Verify(firmware::CImageFile& image, RunOutcome& outcome);
  void EnterStep(RunOutcome& outcome, RunStep step);
  void ReportRunProgress(const RunOutcome& outcome);
  void SetRunProgress(std::uint64_t progressBytes, std::uint32_t regionLength);

  hid::CHid& m_Hid;
  IUserInterface& m_Ui;
  const ControllerOptions m_Options;
  std::function<void(const RunOutcome&)> m_OnRunProgress;
  protocol::CDeviceCommands m_UiCommands;      // the UI thread's commands
  protocol::CDeviceCommands m_WorkerCommands;  // the run's commands

  std::atomic<std::uint16_t> m_DeviceKind{kDeviceKindUnknown};
  std::atomic<std::uint32_t> m_CurrentFirmwareInfo{firmware::kFirmwareInfoUnread};

  // The state of one run, touched only by the worker.
  std::string m_ImagePath;
  firmware::FirmwareHeader m_ImageHeader{};
  std::uint8_t m_ChunkBuffer[kBlockSize] = {};
  std::int32_t m_LastProgress = -1;

  std::atomic<bool> m_RunActive{false};
  // Who may use the link: anyone; only the run; or, once the run has sent its completing
  // command, also identification of a device back in application mode. The device can
  // restart and return before the worker has even read the echo of that command: its
  // return must not be missed.
  enum class LinkHold { kFree, kRun, kCompleting };
  std::atomic<LinkHold> m_LinkHold{LinkHold::kFree};
  std::atomic<int> m_RunsStarted{0};
  std::mutex m_RunMutex;
  std::condition_variable m_RunEnded;
  std::optional<RunOutcome> m_LastOutcome;
  base::CStopSource m_StopSource;  // the running run's
#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
  std::jthread m_hWorkerThread;  // last; joined first on destruction
#endif
};

}  // namespace update
