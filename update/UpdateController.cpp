#include "update/UpdateController.h"

#include <utility>

#include "base/LittleEndian.h"

namespace update {
namespace {

// The device type codes the controller reports, and the variant each one names.
std::optional<std::uint16_t> DeviceKindOf(std::uint16_t typeCode) {
  switch (typeCode) {
    case firmware::kTypeCodeKind5:
      return kDeviceKindType600A;
    case firmware::kTypeCodeKind6:
      return kDeviceKindType6011;
    default:
      return std::nullopt;
  }
}

}  // namespace

CUpdateController::CUpdateController(hid::CHid& link, IUserInterface& ui, ControllerOptions options)
    : m_Hid(link),
      m_Ui(ui),
      m_Options(std::move(options)),
      m_UiCommands(link, m_Options.commands),
      m_WorkerCommands(link, m_Options.commands) {}

CUpdateController::~CUpdateController() {
  m_StopSource.RequestStop();
  m_hWorkerThread.Join();
}

std::string CUpdateController::Text(text::TextId id) const {
  return m_Options.texts ? m_Options.texts(id) : text::LoadLocalizedText(id);
}

void CUpdateController::Debug(const std::string& line) const {
  base::WriteDebugLine(m_Options.debug, line);
}

void CUpdateController::StartUp() {
  SetCurrentFirmwareInfo(firmware::kFirmwareInfoUnread);
  if (m_Hid.FindDevice() != 0) {
    IdentifyDevice();
    if (GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread) {
      m_Ui.EnableUpdateButton(true);
    }
  } else {
    m_Ui.EnableUpdateButton(false);
  }
  m_Ui.SetWindowTitle(Text(text::kWindowTitle));
}

void CUpdateController::IdentifyDevice() {
  Identify(true);
}

void CUpdateController::Identify(bool startRun) {
  const hid::MatchedDeviceIds ids = GetMatchedDeviceIds();
  if (ids.VendorId != hid::kVendorId) {
    return;
  }
  const LinkHold hold = m_LinkHold.load();
  const bool backAfterUpdate = hold == LinkHold::kCompleting && ids.ProductId == hid::kAppProductId;
  if (hold != LinkHold::kFree && !backAfterUpdate) {
    // Reopening the link would pull the handles from under the running worker.
    return;
  }
  if (ids.ProductId == hid::kAppProductId) {
    if (m_Hid.OpenDevice() == 0) {
      return;
    }
    std::uint8_t reply[protocol::kAppInfoReplySize] = {};
    if (m_UiCommands.QueryAppInfo(reply, protocol::kAppInfoReplySize) == 0) {
      return;
    }
    // The version is kept before the type is looked at: a device of an unknown type
    // still leaves its version behind. Bit 31 is not part of it.
    const std::uint32_t info = base::LoadU32(reply + 4) & 0x7FFFFFFFu;
    SetCurrentFirmwareInfo(info);
    m_BootModeWaiting.store(false);
    if (m_AwaitingReturn.exchange(false)) {
      // The first version read since the completing command is the new firmware's; the
      // controller followed through its restart is back.
      m_Hid.StopFollowing();
      std::lock_guard lock(m_RunMutex);
      m_VersionAfterUpdate = info;
    }
    const auto kind = DeviceKindOf(base::LoadU16(reply));
    if (!kind) {
      return;
    }
    SetDeviceKind(*kind);
    m_Ui.EnableUpdateButton(true);
  } else if (ids.ProductId == hid::kBootProductId) {
    if (IsRunActive()) {
      // One run at a time: the one going on already owns this device.
      return;
    }
    if (m_Hid.OpenDevice() == 0) {
      return;
    }
    std::uint8_t reply[protocol::kBootTypeReplySize] = {};
    if (m_UiCommands.QueryBootType(reply, protocol::kBootTypeReplySize) == 0) {
      return;
    }
    const auto kind = DeviceKindOf(base::LoadU16(reply));
    if (!kind) {
      return;
    }
    SetDeviceKind(*kind);
    if (startRun) {
      StartRun();
    } else {
      m_BootModeWaiting.store(true);
      m_Ui.EnableUpdateButton(true);
    }
  }
}

bool CUpdateController::OnDeviceChange(std::uint32_t eventType, std::uintptr_t /*eventData*/) {
  switch (eventType & 0xFFFFu) {
    case hid::kNoticeDevNodesChanged:
      if (m_Hid.FindDevice() != 0) {
        if (GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread ||
            (m_BootModeWaiting.load() && !IsRunActive())) {
          m_Ui.EnableUpdateButton(true);
        }
      } else {
        m_BootModeWaiting.store(false);
        m_Ui.EnableUpdateButton(false);
        m_Ui.SetWindowTitle(Text(text::kWindowTitle));
      }
      break;
    case hid::kNoticeArrival:
      if (m_Hid.FindDevice() != 0) {
        IdentifyDevice();
      }
      break;
    case hid::kNoticeRemoveComplete:
      if (m_Hid.FindDevice() == 0) {
        m_BootModeWaiting.store(false);
        m_Ui.EnableUpdateButton(false);
        Debug(Text(text::kWindowTitle));
        m_Ui.SetWindowTitle(Text(text::kWindowTitle));
      }
      break;
    default:
      break;
  }
  return true;
}

void CUpdateController::OnUpdateClicked() {
  if (IsLinkHeldByRun()) {
    // The button can be enabled again during a run; its command must not reach a
    // device the worker is writing.
    return;
  }
  if (m_BootModeWaiting.load() && GetMatchedDeviceIds().ProductId == hid::kBootProductId) {
    m_BootModeWaiting.store(false);
    StartRun();
    return;
  }
  const std::uint16_t kind = GetDeviceKind();
  if (kind != kDeviceKindType600A && kind != kDeviceKindType6011) {
    return;
  }
  // The controller comes back as a new device in boot mode: from its place, where the
  // platform tells one, so that another controller plugged in meanwhile is not taken
  // for it.
  if (!m_Hid.FollowDevicePlace(m_Options.followBound)) {
    Debug("no place known for " + m_Hid.DevicePath() +
          ": the run takes the first controller that comes back in boot mode\n");
  }
  (void)m_UiCommands.EnterBootMode();
  m_Ui.ShowCompletionLabel(false);
}

void CUpdateController::StartRun() {
  if (!HoldLinkForRun()) {
    return;
  }
  if (m_Options.postToOwner) {
    m_Options.postToOwner([this] { AskAndLaunch(); });
  } else {
    AskAndLaunch();
  }
}

void CUpdateController::AskAndLaunch() {
  CheckedImage image;
  RunOutcome outcome;
  if (!AskForRun(image, outcome)) {
    return;
  }
  const bool started = m_hWorkerThread.Start([this, image = std::move(image), stop = m_RunStop] {
    WorkerEnded(UpdateWorker(image, stop));
  });
  if (!started) {
    outcome.failure = RunFailure::kStopped;
    outcome.error = base::Error{base::ErrorKind::kIo, "the system gave no thread for the run"};
    EndRun(outcome, false);
  }
}

bool CUpdateController::HoldLinkForRun() {
  if (m_RunActive.exchange(true)) {
    return false;  // one run at a time: the one going on owns the device
  }
  m_BootModeWaiting.store(false);
  m_LinkHold.store(LinkHold::kRun);
  ++m_RunsStarted;
  m_AwaitingReturn.store(false);
  {
    std::lock_guard lock(m_RunMutex);
    m_VersionAfterUpdate.reset();
  }
  m_StopSource = base::CStopSource();
  m_RunStop = m_StopSource.Token();
  return true;
}

bool CUpdateController::AskForRun(CheckedImage& image, RunOutcome& outcome) {
  // The link is held from here: a notice while the file dialog or a box is open finds
  // the run going on and leaves the device to it.
  std::optional<CheckedImage> chosen = std::exchange(m_CheckedImage, std::nullopt);
  if (m_RunStop.StopRequested()) {
    // The owner is closing before it could ask: nobody is left to answer.
    outcome.failure = RunFailure::kStopped;
    chosen.reset();
  } else if (!chosen) {
    chosen = SelectFirmwareImage(firmware::ExpectedFirmwareType(GetDeviceKind()), &outcome);
  }
  if (!chosen) {
    if (m_Options.onRunFinished) {
      m_Options.onRunFinished(outcome);
    }
    EndRun(outcome, false);
    return false;
  }
  m_Hid.SetTimeout(hid::kInitialTimeoutMs);
  image = std::move(*chosen);
  return true;
}

void CUpdateController::WorkerEnded(const RunOutcome& outcome) {
  {
    std::lock_guard lock(m_RunMutex);
    m_WorkerOutcome = outcome;
  }
  m_RunEnded.notify_all();
  if (m_Options.onRunFinished) {
    m_Options.onRunFinished(outcome);
  }
}

std::optional<RunOutcome> CUpdateController::OnRunEnded() {
  std::optional<RunOutcome> outcome;
  {
    std::lock_guard lock(m_RunMutex);
    outcome = std::exchange(m_WorkerOutcome, std::nullopt);
  }
  if (!outcome) {
    return std::nullopt;
  }
  m_hWorkerThread.Join();  // it ends right after telling
  // A run stopped by its owner (a closing window) tells nobody of its success.
  EndRun(*outcome, !m_RunStop.StopRequested());
  return outcome;
}

void CUpdateController::EndRun(const RunOutcome& outcome, bool tellUser) {
  if (outcome.Completed() && tellUser) {
    (void)m_Ui.ShowMessageBox("\n " + Text(text::kFirmwareUpgraded) + " \n",
                              Text(text::kWindowTitle), MessageButtons::kOk);
    m_Ui.ShowCompletionLabel(true);
    m_Ui.EnableUpdateButton(false);
  }
  {
    std::lock_guard lock(m_RunMutex);
    m_LastOutcome = outcome;
    m_LinkHold.store(LinkHold::kFree);
    m_RunActive.store(false);
  }
  if (outcome.failure != RunFailure::kStopped) {
    IdentifyAfterRun(outcome.Completed());  // a stopped run's owner is going away
  }
  m_RunEnded.notify_all();
}

void CUpdateController::IdentifyAfterRun(bool completed) {
  if (!completed) {
    m_Hid.StopFollowing();  // the controller stays here, in boot mode: nothing to follow
  }
  if (completed && VersionAfterUpdate()) {
    return;  // back already, and identified on its arrival while the worker was ending
  }
  if (m_Hid.FindDevice() == 0) {
    return;
  }
  if (completed && GetMatchedDeviceIds().ProductId == hid::kBootProductId) {
    return;  // still restarting: its arrival in application mode identifies it
  }
  Identify(false);
}

RunOutcome CUpdateController::RunInPlace(base::CStopToken stop) {
  CheckedImage image;
  RunOutcome outcome;
  if (IsRunActive()) {
    outcome.failure = RunFailure::kStopped;
    outcome.error = base::Error{base::ErrorKind::kCancelled, "a run is going on already"};
    return outcome;
  }
  if (!HoldLinkForRun() || !AskForRun(image, outcome)) {
    return outcome;
  }
  m_RunStop = stop;
  WorkerEnded(UpdateWorker(image, stop));
  return OnRunEnded().value_or(outcome);
}

void CUpdateController::RequestStop() {
  m_StopSource.RequestStop();
}

std::optional<RunOutcome> CUpdateController::WaitForRunEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_RunMutex);
  if (!m_RunEnded.wait_for(lock, timeout,
                           [this] { return m_WorkerOutcome.has_value() || !m_RunActive.load(); })) {
    return std::nullopt;
  }
  if (m_WorkerOutcome) {
    lock.unlock();
    return OnRunEnded();
  }
  return m_LastOutcome;
}

std::optional<std::uint32_t> CUpdateController::VersionAfterUpdate() const {
  std::lock_guard lock(m_RunMutex);
  return m_VersionAfterUpdate;
}

}  // namespace update
