// The update control: what device is present and in which mode, what the notices and
// the update button do, the asking before a run and the flashing run itself.
//
// The device has two modes told apart by product ID: application mode (0x6E21) runs the
// firmware and reports type and version; boot mode (0x6E30) waits in the bootloader. The
// update button sends the command that restarts the device in boot mode; when it comes
// back, identification holds the link for a run, asks for the image (file dialog, type
// check, version prompt) on the owner's thread, then hands the checked image to the run
// (UpdateWorker) on a thread of its own. The run asks nobody.
//
// Threads: StartUp, IdentifyDevice, OnDeviceChange, OnUpdateClicked, OnRunEnded and the
// asking run on the owner's UI thread. At most one run exists at a time. While a run holds
// the link, identification leaves the link alone and the button sends nothing, so the
// worker's frames are never interleaved with the UI thread's and its handles are never
// replaced under it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "base/Stop.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/ImageFile.h"
#include "firmware/VersionPrompt.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "text/LocalizedText.h"
#include "update/RunOutcome.h"
#include "update/RunThread.h"
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
  // Told how each run ended: on the worker thread when its worker ends (the owner then
  // calls OnRunEnded on its own thread), on the owner's thread when the asking before it
  // ended it. Never waits for a person.
  std::function<void(const RunOutcome&)> onRunFinished;
  // Runs work later on the owner's thread, once its event loop turns (a queued call, a
  // posted message). Given, a boot-mode identification holds the link for the run at
  // once and asks for its image from there, so that no file dialog opens inside the
  // identification (at start-up that is before the window shows). Empty: asks in place.
  std::function<void(std::function<void()>)> postToOwner;
  // How long the link follows a restarting controller's place (see CHid::FindDevice):
  // far above the few seconds a controller takes to come back in its other mode.
  std::chrono::milliseconds followBound{30000};
};

// An image the user chose and confirmed for a device of its type: what a run writes.
struct CheckedImage {
  std::string path;
  firmware::FirmwareHeader header{};
};

class CUpdateController {
 public:
  CUpdateController(hid::CHid& link, IUserInterface& ui, ControllerOptions options = {});
  // Asks a running run to stop and waits for its worker. The owner must keep the link
  // and the user interface alive until then; the worker never waits on the owner's
  // thread, so this may run there.
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

  // The update button: sends the boot-mode command to an identified device in application
  // mode, and from then on follows its place (see CHid::FindDevice). For a controller
  // that waits in boot mode without a run (its run ended without writing it), starts the
  // run again: the file dialog opens as at its arrival.
  void OnUpdateClicked();

  // The asking before a run, on the owner's thread: the file dialog (or the image the
  // owner named), the header, the type check with its box, the version prompt. A checked
  // image, or nullopt with the reason in *why.
  std::optional<CheckedImage> SelectFirmwareImage(std::uint16_t expectedType,
                                                  RunOutcome* why = nullptr);
  // An image the owner has already checked and confirmed (before it switched the device
  // to boot mode): the next run writes it without asking again.
  void SetCheckedImage(std::optional<CheckedImage> image) { m_CheckedImage = std::move(image); }

  // Told, on the worker thread, each time a run enters a step and after each block the
  // device confirmed, with what the run knows so far: for front ends that name the phase
  // and count bytes. Set it before StartUp.
  void SetRunProgressObserver(std::function<void(const RunOutcome&)> observer) {
    m_OnRunProgress = std::move(observer);
  }

  // Runs.
  bool IsRunActive() const { return m_RunActive.load(); }
  bool IsLinkHeldByRun() const { return m_LinkHold.load() != LinkHold::kFree; }
  // Asks the running run to stop at its next block boundary or step.
  void RequestStop();
  // On the owner's thread, once onRunFinished has told of a worker's end: joins it; for a
  // completed run shows the success box and the completion label and disables the
  // button; frees the link. The run's outcome, or nullopt when no worker had ended.
  std::optional<RunOutcome> OnRunEnded();
  // For owners without an event loop, on the owner's thread: waits until the run's
  // worker ends and does what OnRunEnded does. The outcome of the last run, or nullopt on
  // time-out or when no run ever ended.
  std::optional<RunOutcome> WaitForRunEnd(std::chrono::milliseconds timeout);
  // How many runs have been started (counting those the asking ended).
  int RunsStarted() const { return m_RunsStarted.load(); }
  // The version the device reported in application mode after the last completed run,
  // once it is back; nullopt until then.
  std::optional<std::uint32_t> VersionAfterUpdate() const;

  // A whole run on the calling thread, for front ends without threads and for tests: as
  // a boot-mode identification would start it (asking included), then as OnRunEnded
  // ends it.
  RunOutcome RunInPlace(base::CStopToken stop = {});

  // The run proper: opens the link again and writes the checked image. Asks nobody.
  RunOutcome UpdateWorker(const CheckedImage& image, base::CStopToken stop);

 private:
  std::string Text(text::TextId id) const;
  void Debug(const std::string& line) const;
  // Identification; a boot-mode controller starts a run only when startRun says so, and
  // otherwise waits for the button.
  void Identify(bool startRun);
  // After every run, as an arrival would: looks once for what is plugged in now and
  // identifies it. A completed run's controller is on its way back to application mode:
  // found still in boot mode, it is left to its own arrival; identified back already, it
  // is not asked again.
  void IdentifyAfterRun(bool completed);
  // Holds the link for a run; false when a run is going on already.
  bool HoldLinkForRun();
  // Asks for the run's image; false when the asking ended the run (the outcome says why).
  bool AskForRun(CheckedImage& image, RunOutcome& outcome);
  // Holds the link, asks (now or once posted), then starts the worker on a thread of its
  // own (in place where there are no threads).
  void StartRun();
  void AskAndLaunch();
  void WorkerEnded(const RunOutcome& outcome);
  // The end of every run, on the owner's thread.
  void EndRun(const RunOutcome& outcome, bool tellUser);
  // The steps of a run after the link was opened; the outcome is filled as they go.
  void StreamImage(const CheckedImage& image, base::CStopToken stop, RunOutcome& outcome);
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

  std::optional<CheckedImage> m_CheckedImage;  // the owner's, for the next run
  // The folder of the last image chosen in the file dialog, where the next one opens;
  // empty until then (the face's own choice: the user's downloads). UI thread only.
  std::string m_LastImageFolder;
  // A controller identified in boot mode waits for the button (no run is going on).
  std::atomic<bool> m_BootModeWaiting{false};

  // The state of one run, touched only by the worker.
  std::uint8_t m_ChunkBuffer[kBlockSize] = {};
  std::int32_t m_LastProgress = -1;

  // From the start of the asking until the owner has ended the run.
  std::atomic<bool> m_RunActive{false};
  // Set once the worker has sent the completing command; cleared by the first
  // identification in application mode after it, which records the version.
  std::atomic<bool> m_AwaitingReturn{false};
  std::optional<std::uint32_t> m_VersionAfterUpdate;  // under m_RunMutex
  // Who may use the link: anyone; only the run; or, once the run has sent its completing
  // command, also identification of a device back in application mode. The device can
  // restart and return before the worker has even read the echo of that command: its
  // return must not be missed.
  enum class LinkHold { kFree, kRun, kCompleting };
  std::atomic<LinkHold> m_LinkHold{LinkHold::kFree};
  std::atomic<int> m_RunsStarted{0};
  mutable std::mutex m_RunMutex;
  std::condition_variable m_RunEnded;
  std::optional<RunOutcome> m_WorkerOutcome;  // a worker's, until the owner ends its run
  std::optional<RunOutcome> m_LastOutcome;
  base::CStopSource m_StopSource;  // RequestStop's, for the run on the worker
  base::CStopToken m_RunStop;      // the token the current run checks
  CRunThread m_hWorkerThread;      // last; joined first on destruction
};

}  // namespace update
