// The update control: what the controller is asked and told. It identifies the device the
// link has found (0x0101 in application mode, 0x0008 in boot mode), sends the boot-mode
// command, and writes a checked image in a run on a thread of its own (UpdateWorker). It
// decides nothing about when: the road (update/Road.h) does, and owns it.
//
// The device has two modes told apart by product ID: application mode (0x6E21) runs the
// firmware and reports type and version; boot mode (0x6E30) waits in the bootloader.
//
// Threads: everything but the run on the owner's thread. The run asks nobody; while it
// holds the link the owner sends nothing (the road sees to it), and the link keeps the
// two threads' commands apart in any case.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "base/Stop.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/VersionPrompt.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "update/RunOutcome.h"
#include "update/RunThread.h"
#include "update/UserInterface.h"

namespace update {

inline constexpr std::uint16_t kDeviceKindUnknown = 7;
inline constexpr std::uint16_t kDeviceKindType600A = 5;
inline constexpr std::uint16_t kDeviceKindType6011 = 6;

inline constexpr std::uint32_t kBlockSize = 46;
inline constexpr std::uint32_t kVerifiedLength = 4096;

struct ControllerOptions {
  protocol::CommandOptions commands;
  base::DebugSink debug;
};

// An image that passed the check for a device of its type and was confirmed: what a run
// writes.
struct CheckedImage {
  std::string path;
  firmware::FirmwareHeader header{};
};

// What identification found out about the device the link found last.
struct Identification {
  bool opened = false;
  bool answered = false;                 // it was opened and told its type
  std::uint16_t type = 0;                // the type code it reported
  std::optional<std::uint32_t> version;  // application mode: its version word
  std::optional<base::Error> error;      // why it could not be opened, where it could not
};

class CUpdateController {
 public:
  CUpdateController(hid::CHid& link, IUserInterface& ui, ControllerOptions options = {});
  // Asks a run to stop and waits for its worker, which never waits on the owner.
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

  // Opens the device the last search found and asks the one question of its mode. In
  // application mode records its version (also for a type this tool has no images for),
  // and the kind for a known type; in boot mode records the kind.
  Identification IdentifyDevice();

  // The update button's command (0x000C): the device restarts in boot mode.
  bool EnterBootMode();

  // Told on the worker thread each time a run enters a step and after each block the
  // device confirmed, with what the run knows so far.
  void SetRunProgressObserver(std::function<void(const RunOutcome&)> observer) {
    m_OnRunProgress = std::move(observer);
  }

  // Starts a run on a thread of its own (in place where there are no threads); `ended`
  // is told its outcome on that thread. False when a run is going on or no thread could
  // be had.
  [[nodiscard]] bool StartRun(CheckedImage image, std::uint16_t deviceType,
                              std::function<void(const RunOutcome&)> ended);
  // Waits for the run's worker, which has told its end or is about to.
  void JoinRun();
  // Asks the running run to stop at its next block boundary or step.
  void RequestStop() { m_StopSource.RequestStop(); }

  // The run proper: opens the link again, asks the device its type once more (it must
  // still be deviceType), and writes the checked image. Asks nobody.
  RunOutcome UpdateWorker(const CheckedImage& image, std::uint16_t deviceType,
                          base::CStopToken stop);

 private:
  void StreamImage(const CheckedImage& image, base::CStopToken stop, RunOutcome& outcome);
  void EnterStep(RunOutcome& outcome, RunStep step);
  void ReportRunProgress(const RunOutcome& outcome);
  void SetRunProgress(std::uint64_t progressBytes, std::uint32_t regionLength);

  hid::CHid& m_Hid;
  IUserInterface& m_Ui;
  const ControllerOptions m_Options;
  std::function<void(const RunOutcome&)> m_OnRunProgress;
  protocol::CDeviceCommands m_UiCommands;      // the owner's commands
  protocol::CDeviceCommands m_WorkerCommands;  // the run's commands

  std::atomic<std::uint16_t> m_DeviceKind{kDeviceKindUnknown};
  std::atomic<std::uint32_t> m_CurrentFirmwareInfo{firmware::kFirmwareInfoUnread};

  // The state of one run, touched only by the worker.
  std::uint8_t m_ChunkBuffer[kBlockSize] = {};
  std::int32_t m_LastProgress = -1;

  base::CStopSource m_StopSource;  // RequestStop's, for the run on the worker
  CRunThread m_hWorkerThread;      // last; joined first on destruction
};

// The image type a device that reported this type code takes: the code itself for the two
// known types, else 0xFFFE, which matches no image.
std::uint16_t KnownTypeOrNone(std::uint16_t typeCode);

}  // namespace update
