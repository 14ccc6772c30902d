// The road's asking, running and ending.

#include "base/FilePath.h"
#include "update/EventLines.h"
#include "update/Road.h"
#include "update/RoadWords.h"
#include "update/Words.h"

namespace update {

ImageCheck CRoad::CheckImage(const std::string& path) const {
  const std::uint16_t expected =
      m_Device ? KnownTypeOrNone(m_Device->type) : firmware::kTypeCodeUnknown;
  return CheckImageFile(path, expected, m_Device ? m_Device->version : std::nullopt,
                        [this](text::TextId id) { return Text(id); });
}

bool CRoad::Confirm(const ImageCheck& check) {
  if (m_Stage != RoadStage::kReady || !m_Device || !check.Acceptable() ||
      check.expectedType != KnownTypeOrNone(m_Device->type)) {
    return false;
  }
  m_Image = CheckedImage{check.path, check.info.header};
  Changed();
  return true;
}

void CRoad::BeginRun() {
  SetStage(RoadStage::kAsking);
  if (m_Image) {
    Launch();
    return;
  }
  if (m_Options.asksFirst) {
    // The owner asks before it starts a run: nothing was confirmed, so nothing runs.
    SetStage(RoadStage::kReady);
    m_Ui.EnableUpdateButton(true);
    return;
  }
  if (m_Options.postToOwner) {
    // Not inside an identification (at start-up, before the window shows): once the
    // owner's event loop turns.
    m_Options.postToOwner([this] {
      Ask();
      Changed();
    });
  } else {
    Ask();
  }
}

void CRoad::Ask() {
  if (m_Stage != RoadStage::kAsking) {
    return;
  }
  RunOutcome outcome;
  outcome.step = RunStep::kChoosing;
  const bool chosen = !m_StopRequested && AskForImage(outcome);
  if (m_StopRequested) {
    // The owner is closing: nobody is left to answer, or to write for.
    outcome.failure = RunFailure::kStopped;
  }
  if (!chosen || m_StopRequested) {
    Debug(RunEndedLine(outcome));
    EndRoad(outcome, false);
    return;
  }
  Launch();
}

bool CRoad::AskForImage(RunOutcome& outcome) {
  OpenFileRequest request;
  request.filter = Text(text::kFileType) + "(*.dat)|*.dat||";
  request.defaultExtension = "*.*";
  // The folder of the image chosen last; before any, the front end's choice.
  request.initialDirectory = m_LastImageFolder;
  const std::optional<std::string> path = m_Ui.ShowOpenFileDialog(request);
  if (!path) {
    outcome.failure = RunFailure::kNoImageChosen;
    return false;
  }
  m_LastImageFolder = base::Utf8FromPath(base::PathFromUtf8(*path).parent_path());
  const ImageCheck check = CheckImage(*path);
  if (!check.Acceptable()) {
    if (check.IsTypeProblem()) {
      (void)m_Ui.ShowMessageBox("The firmware type is error!\n", Text(text::kWindowTitle),
                                MessageButtons::kOk);
    }
    // Unreadable, not whole, or without a payload: refused as the command line refuses
    // it, and no header field is ever taken from it.
    outcome.failure = RunFailure::kImageRefused;
    outcome.imageProblem = check.problem;
    if (!check.detail.empty()) {
      outcome.error = base::Error{base::ErrorKind::kIo, check.detail};
    }
    return false;
  }
  // No comparison of versions: the user sees both and decides.
  if (m_Ui.ShowMessageBox(check.prompt, Text(text::kWindowTitle), MessageButtons::kOkCancel) ==
      MessageResult::kCancel) {
    Debug("MessageBox == IDCANCEL\n");
    outcome.failure = RunFailure::kDeclined;
    return false;
  }
  m_Image = CheckedImage{check.path, check.info.header};
  return true;
}

void CRoad::Launch() {
  if (m_LookAgain) {
    // Notices came while the image was asked for: ours may have been replugged at its
    // place under a new path. The pinned search finds only ours; the run asks its type.
    m_LookAgain = false;
    if (m_Hid.FindDevice() != 0) {
      m_Device->path = m_Hid.DevicePath();
    }
  }
  if (m_Device->place.empty()) {
    // What waits in application mode now is not ours when it comes back there.
    m_AppModeAtLaunch = PathsInMode(hid::kAppProductId);
  }
  SetStage(RoadStage::kRunning);
  ++m_RunsStarted;
  {
    std::lock_guard lock(m_WorkerMutex);
    m_WorkerOutcome.reset();
  }
  const bool started = m_Control.StartRun(
      *m_Image, m_Device->type, [this](const RunOutcome& outcome) { WorkerEnded(outcome); });
  if (!started) {
    RunOutcome outcome;
    outcome.step = RunStep::kLinking;
    outcome.failure = RunFailure::kStopped;
    outcome.error = base::Error{base::ErrorKind::kIo, "the system gave no thread for the run"};
    std::lock_guard lock(m_WorkerMutex);
    m_WorkerOutcome = outcome;
  }
  if (!started) {
    OnRunEnded();
  }
}

void CRoad::WorkerEnded(const RunOutcome& outcome) {
  {
    std::lock_guard lock(m_WorkerMutex);
    m_WorkerOutcome = outcome;
  }
  m_WorkerEnded.notify_all();
  if (m_Options.postToOwner) {
    m_Options.postToOwner([this] { OnRunEnded(); });
  } else if (m_Options.onRunFinished) {
    m_Options.onRunFinished(outcome);
  }
}

bool CRoad::WaitForRunEnd(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(m_WorkerMutex);
    if (m_Stage != RoadStage::kRunning ||
        !m_WorkerEnded.wait_for(lock, timeout, [this] { return m_WorkerOutcome.has_value(); })) {
      return false;
    }
  }
  OnRunEnded();
  return true;
}

void CRoad::OnRunEnded() {
  std::optional<RunOutcome> outcome;
  {
    std::lock_guard lock(m_WorkerMutex);
    outcome = std::exchange(m_WorkerOutcome, std::nullopt);
  }
  if (!outcome || m_Stage != RoadStage::kRunning) {
    return;
  }
  m_Control.JoinRun();  // it ends right after telling
  m_LastRun = outcome;
  Debug(RunEndedLine(*outcome));
  if (!outcome->Completed()) {
    EndRoad(*outcome, true);
    Changed();
    return;
  }
  if (!m_StopRequested) {
    // A run stopped by its owner (a closing window) tells nobody of its success.
    (void)m_Ui.ShowMessageBox("\n " + Text(text::kFirmwareUpgraded) + " \n",
                              Text(text::kWindowTitle), MessageButtons::kOk);
    m_Ui.ShowCompletionLabel(true);
    m_Ui.EnableUpdateButton(false);
  }
  // The controller restarts in application mode: awaited at its place, or without one as
  // the first controller in application mode.
  m_RunOutcome = *outcome;
  SetStage(RoadStage::kAwaitingReturn);
  SetDeadline(m_Options.waits.application);
  if (m_Device->place.empty()) {
    m_Hid.PinDevice(hid::DevicePin{"", "", hid::kAppProductId, std::move(m_AppModeAtLaunch)});
  }
  m_LookAgain = false;
  if (!m_StopRequested) {
    LookForReturn();  // it may be back already
  }
  Changed();
}

bool CRoad::MayClose() {
  return m_Stage != RoadStage::kRunning ||
         m_Ui.ShowMessageBox(CloseQuestion(LanguageId()), Text(text::kWindowTitle),
                             MessageButtons::kOkCancel) == MessageResult::kOk;
}

void CRoad::RequestStop() {
  m_StopRequested = true;
  m_Control.RequestStop();
}

void CRoad::EndRoad(const RunOutcome& outcome, bool ran, std::optional<std::uint32_t> newVersion) {
  RoadEnd end{m_Device.value_or(DeviceIdentity{}), outcome, ran, newVersion};
  m_LastEnd = end;
  ++m_RoadsEnded;
  m_Image.reset();
  m_RunOutcome.reset();
  SetDeadline(std::nullopt);
  if (!ran && outcome.step != RunStep::kChoosing) {
    Debug("road ended: " + Describe(outcome) + "\n");  // before the run (the asking says it)
  }
  if (newVersion) {
    char line[96];
    std::snprintf(line, sizeof line, "back in application mode with firmware word 0x%08X\n",
                  *newVersion);
    Debug(line);
  }
  if (m_Options.onEnded) {
    m_Options.onEnded(end);
  }
  if (m_StopRequested) {
    m_Device.reset();
    m_Hid.UnpinDevice();
    SetStage(RoadStage::kNoDevice);
    return;  // the owner is going away
  }
  LookAfterEnd(end);
}

void CRoad::LookAfterEnd(const RoadEnd& end) {
  m_LookAgain = false;
  if (end.newVersion) {
    // Back and identified already: a new road with it, as after start-up.
    DeviceIdentity device = end.device;
    device.path = m_Hid.DevicePath();
    device.productId = hid::kAppProductId;
    device.version = end.newVersion;
    Pin(device);
    SetStage(RoadStage::kReady);
    m_Ui.EnableUpdateButton(true);
    return;
  }
  // Looks once at what is plugged in, as an arrival would, but asks nothing before a
  // click: its own controller first, where it has a place, then anything.
  m_Device.reset();
  m_Unusable = Unusable::kNothingFound;
  SetStage(RoadStage::kNoDevice);
  if (!end.device.place.empty() || !end.device.path.empty()) {
    m_Hid.PinDevice(end.device.place.empty() ? hid::DevicePin{"", end.device.path, 0}
                                             : hid::DevicePin{end.device.place, "", 0});
    if (m_Hid.FindDevice() != 0 && Identify(false)) {
      return;
    }
  }
  m_Hid.UnpinDevice();
  if (m_Hid.FindDevice() == 0 || !Identify(false)) {
    // Nothing usable: the button is not left as the click found it (a controller that
    // restarted before its removal was seen never had it greyed).
    ShowGone();
  }
}

}  // namespace update
