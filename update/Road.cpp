// The road's searching and identifying: start-up, notices, the button, the bounds.
#include "update/Road.h"

#include "update/EventLines.h"

#include "text/UiLanguage.h"

namespace update {

const char* ToString(RoadStage stage) {
  switch (stage) {
    case RoadStage::kNoDevice:
      return "no device";
    case RoadStage::kReady:
      return "ready";
    case RoadStage::kSwitching:
      return "switching to boot mode";
    case RoadStage::kAsking:
      return "asking for the image";
    case RoadStage::kRunning:
      return "running";
    case RoadStage::kAwaitingReturn:
      return "awaiting the return";
  }
  return "?";
}

bool DeviceIdentity::Supported() const {
  return KnownTypeOrNone(type) != firmware::kTypeCodeUnknown;
}

CRoad::CRoad(std::shared_ptr<hid::IHidPlatform> platform, IUserInterface& ui, RoadOptions options)
    : m_Platform(std::move(platform)),
      m_Ui(ui),
      m_Options(std::move(options)),
      m_Hid(m_Platform, m_Options.debug),
      m_Control(m_Hid, m_Ui, ControllerOptions{m_Options.commands, m_Options.debug}) {
  m_Control.SetRunProgressObserver(m_Options.onRunProgress);
}

CRoad::~CRoad() {
  m_Control.RequestStop();
  m_Control.JoinRun();
}

std::uint16_t CRoad::LanguageId() const {
  return m_Options.languageId ? *m_Options.languageId : text::GetUserDefaultUILanguage();
}

std::string CRoad::Text(text::TextId id) const {
  return text::LoadLocalizedText(id, LanguageId());
}

void CRoad::Debug(const std::string& line) const {
  base::WriteDebugLine(m_Options.debug, line);
}

RoadView CRoad::View() const {
  RoadView view;
  view.stage = m_Stage;
  view.device = m_Device;
  view.unusable = m_Device ? Unusable::kNone : m_Unusable;
  view.openError = m_OpenError;
  view.foundPath = m_FoundPath;
  view.unsupported = m_Unsupported;
  view.imageReady = m_Image.has_value();
  return view;
}

void CRoad::Changed() {
  if (m_Options.onChanged) {
    m_Options.onChanged(View());
  }
}

void CRoad::SetStage(RoadStage stage) {
  m_Stage = stage;
}

void CRoad::SetDeadline(std::optional<std::chrono::milliseconds> wait) {
  m_Deadline = wait ? std::optional(Clock::now() + *wait) : std::nullopt;
  if (m_Options.armTimer) {
    m_Options.armTimer(wait);
  }
}

void CRoad::ShowGone() {
  m_Ui.EnableUpdateButton(false);
  m_Ui.SetWindowTitle(Text(text::kWindowTitle));
}

void CRoad::Pin(const DeviceIdentity& device, bool modeChanged) {
  // Without a place, a new path is another controller, unless the road awaited its own
  // in the other mode (and has checked its type).
  if (m_Device && (m_Device->place != device.place || m_Device->type != device.type ||
                   (device.place.empty() && !modeChanged && m_Device->path != device.path))) {
    m_Image.reset();  // checked for another controller
  }
  m_Device = device;
  m_Hid.PinDevice(device.place.empty() ? hid::DevicePin{"", device.path, 0}
                                       : hid::DevicePin{device.place, "", 0});
}

void CRoad::StartUp() {
  m_Control.SetCurrentFirmwareInfo(firmware::kFirmwareInfoUnread);
  if (m_Hid.FindDevice() != 0) {
    (void)Identify(!m_Options.asksFirst);
    if (m_Control.GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread) {
      m_Ui.EnableUpdateButton(true);
    }
  } else {
    m_Ui.EnableUpdateButton(false);
  }
  m_Ui.SetWindowTitle(Text(text::kWindowTitle));
  Changed();
}

bool CRoad::Identify(bool askNow) {
  const std::uint16_t productId = m_Hid.GetMatchedDeviceIds().ProductId;
  m_FoundPath = m_Hid.DevicePath();
  const Identification found = m_Control.IdentifyDevice();
  m_OpenError = found.opened ? std::nullopt : found.error;
  DeviceIdentity device{m_FoundPath, m_Hid.DeviceLocation(), productId, found.type, found.version};
  m_Unsupported = found.answered && !device.Supported() ? std::optional(device) : std::nullopt;
  if (!found.answered || !device.Supported()) {
    m_Unusable = !found.answered ? (found.opened ? Unusable::kNotAnswering : Unusable::kNotOpened)
                                 : Unusable::kUnknownType;
    m_Device.reset();
    m_Image.reset();
    m_Hid.UnpinDevice();
    SetStage(RoadStage::kNoDevice);
    return false;
  }
  m_Unusable = Unusable::kNone;
  Pin(device);
  if (!device.InBootMode()) {
    SetStage(RoadStage::kReady);
    m_Ui.EnableUpdateButton(true);
  } else if (askNow) {
    BeginRun();
  } else {
    // Waiting in boot mode for the button: its run asks for the image then.
    SetStage(RoadStage::kReady);
    m_Ui.EnableUpdateButton(true);
  }
  return true;
}

void CRoad::HandleNotices() {
  for (const std::uint32_t code : m_Platform->TakeNotices()) {
    OnDeviceChange(code);
  }
}

void CRoad::OnDeviceChange(std::uint32_t eventType) {
  Debug(DeviceNoticeLine(eventType));
  const std::uint32_t code = eventType & 0xFFFFu;
  if (code != hid::kNoticeDevNodesChanged && code != hid::kNoticeArrival &&
      code != hid::kNoticeRemoveComplete) {
    return;
  }
  switch (m_Stage) {
    case RoadStage::kNoDevice:
      NoticeUnpinned(code);
      break;
    case RoadStage::kReady:
      NoticeReady(code);
      break;
    case RoadStage::kSwitching:
      LookForBootMode();
      if (m_Stage == RoadStage::kSwitching && !m_Hid.IsConnected() && code != hid::kNoticeArrival) {
        if (code == hid::kNoticeRemoveComplete) {
          Debug(Text(text::kWindowTitle));
        }
        ShowGone();
      }
      break;
    case RoadStage::kAsking:
    case RoadStage::kRunning:
      // The run holds the controller: nothing is searched or opened under it. What
      // changed is looked at once it has ended.
      m_LookAgain = true;
      break;
    case RoadStage::kAwaitingReturn:
      LookForReturn();
      if (m_Stage == RoadStage::kAwaitingReturn && !m_Hid.IsConnected() &&
          code == hid::kNoticeRemoveComplete) {
        Debug(Text(text::kWindowTitle));
        ShowGone();
      }
      break;
  }
  Changed();
}

void CRoad::NoticeUnpinned(std::uint32_t code) {
  const bool found = m_Hid.FindDevice() != 0;
  switch (code) {
    case hid::kNoticeDevNodesChanged:
      // Something changed somewhere: a controller found now is identified before the
      // button may send it anything.
      if (found) {
        (void)Identify(false);
      } else {
        ShowGone();
      }
      break;
    case hid::kNoticeArrival:
      if (found) {
        (void)Identify(!m_Options.asksFirst);
      }
      break;
    case hid::kNoticeRemoveComplete:
      if (!found) {
        Debug(Text(text::kWindowTitle));
        ShowGone();
      }
      break;
    default:
      break;
  }
}

void CRoad::NoticeReady(std::uint32_t code) {
  if (m_Hid.FindDevice() == 0) {
    // Ours is gone before anything was sent to it: whatever else is present is new.
    m_Device.reset();
    m_Image.reset();
    m_Unusable = Unusable::kNothingFound;
    m_Hid.UnpinDevice();
    SetStage(RoadStage::kNoDevice);
    NoticeUnpinned(code);
    return;
  }
  const bool asks = code == hid::kNoticeArrival && !m_Options.asksFirst;
  if (m_Hid.DevicePath() != m_Device->path ||
      m_Hid.GetMatchedDeviceIds().ProductId != m_Device->productId ||
      (asks && m_Device->InBootMode())) {
    // Ours at its place under a new path or in its other mode (replugged, or restarted by
    // hand), or an arrival while it waits in boot mode (it may have been replugged there,
    // which the path alone does not show): what it is now is asked again, as at its first
    // arrival, and in boot mode a window asks for its image.
    (void)Identify(asks);
    return;
  }
  if (code == hid::kNoticeDevNodesChanged) {
    m_Ui.EnableUpdateButton(true);
  }
}

void CRoad::OnUpdateClicked() {
  if (m_Stage != RoadStage::kReady || !m_Device) {
    // Nothing identified, or a road under way: its controller must get nothing else.
    return;
  }
  if (m_Device->InBootMode()) {
    BeginRun();
    Changed();
    return;
  }
  // Without a place, one that waits in boot mode already (allowed or plugged in meanwhile)
  // is not ours when ours comes back there.
  std::vector<std::string> waiting;
  if (m_Device->place.empty()) {
    waiting = PathsInMode(hid::kBootProductId);
  }
  if (!m_Control.EnterBootMode() && !SwitchAgain()) {
    return;
  }
  if (m_Device->place.empty()) {
    // The controller comes back under a new path, and nothing tells it apart from another
    // one: the first controller that comes back in boot mode is taken, and its type must
    // be ours (it is asked again before the run and at the run's start).
    Debug("no place known for " + m_Device->path +
          ": the road takes the first controller that comes back in boot mode\n");
    m_Hid.PinDevice(hid::DevicePin{"", "", hid::kBootProductId, std::move(waiting)});
  }
  SetStage(RoadStage::kSwitching);
  SetDeadline(m_Options.waits.bootMode);
  m_Ui.ShowCompletionLabel(false);
  Changed();
}

bool CRoad::SwitchAgain() {
  // The link was opened before the controller was replugged at its place (notices handled
  // together show no change): it is identified anew and, still in application mode, sent
  // the command once more. If that fails too, nothing was switched: the road ends so.
  if (m_Hid.FindDevice() != 0 && Identify(false) && !m_Device->InBootMode() &&
      m_Control.EnterBootMode()) {
    return true;
  }
  if (m_Stage == RoadStage::kReady && m_Device && !m_Device->InBootMode()) {
    RunOutcome outcome;
    outcome.step = RunStep::kSwitching;
    outcome.failure = RunFailure::kDeviceCommand;
    outcome.error = m_Hid.LastIoError();
    EndRoad(outcome, false);
  }
  Changed();
  return false;
}

void CRoad::LookForBootMode() {
  if (m_Hid.FindDevice() == 0 || m_Hid.GetMatchedDeviceIds().ProductId != hid::kBootProductId) {
    return;  // gone, or not gone yet
  }
  const Identification found = m_Control.IdentifyDevice();
  RunOutcome outcome;
  outcome.step = RunStep::kSwitching;
  if (!found.answered) {
    outcome.failure = RunFailure::kNotIdentified;
    outcome.error = found.error;
    EndRoad(outcome, false);
    return;
  }
  if (found.type != m_Device->type) {
    if (m_Device->place.empty()) {
      // Without a place, the type is all that tells ours: this is another one.
      NotOurs(found.type);
      LookForBootMode();
      return;
    }
    outcome.failure = RunFailure::kTypeChanged;
    outcome.deviceType = found.type;
    outcome.imageType =
        m_Image ? static_cast<std::uint16_t>(m_Image->header.firmwareType) : m_Device->type;
    EndRoad(outcome, false);
    return;
  }
  DeviceIdentity device = *m_Device;
  device.path = m_Hid.DevicePath();
  device.productId = hid::kBootProductId;
  Pin(device, true);
  SetDeadline(std::nullopt);
  BeginRun();
}

void CRoad::LookForReturn() {
  if (m_Hid.FindDevice() == 0 || m_Hid.GetMatchedDeviceIds().ProductId != hid::kAppProductId) {
    // Gone, or still restarting in boot mode: that is not a new run, only not back yet.
    return;
  }
  const Identification found = m_Control.IdentifyDevice();
  if (!found.answered) {
    return;  // the next notice or the bound decides
  }
  if (found.type != m_Device->type && m_Device->place.empty()) {
    NotOurs(found.type);
    LookForReturn();
    return;
  }
  const RunOutcome outcome = m_RunOutcome.value_or(RunOutcome{});
  EndRoad(outcome, true, found.type == m_Device->type ? found.version : std::nullopt);
}

std::vector<std::string> CRoad::PathsInMode(std::uint16_t productId) const {
  std::vector<std::string> paths;
  for (const hid::InterfaceInfo& info : hid::ListControllers(*m_Platform)) {
    if (info.productId == productId) {
      paths.push_back(info.path);
    }
  }
  return paths;
}

void CRoad::NotOurs(std::uint16_t type) {
  hid::DevicePin pin = m_Hid.Pin().value_or(hid::DevicePin{});
  pin.notPaths.push_back(m_Hid.DevicePath());
  char line[64];
  std::snprintf(line, sizeof line, " reports type 0x%04X: not ours\n", type);
  Debug(m_Hid.DevicePath() + line);
  m_Hid.PinDevice(std::move(pin));
}

void CRoad::OnTimer() {
  if (!m_Deadline) {
    return;
  }
  if (Clock::now() < *m_Deadline) {
    SetDeadline(std::chrono::ceil<std::chrono::milliseconds>(*m_Deadline - Clock::now()));
    return;
  }
  m_Deadline.reset();
  if (m_Stage == RoadStage::kSwitching) {
    LookForBootMode();
    if (m_Stage == RoadStage::kSwitching) {
      RunOutcome outcome;
      outcome.step = RunStep::kSwitching;
      outcome.failure = RunFailure::kBootModeTimeout;
      EndRoad(outcome, false);
    }
  } else if (m_Stage == RoadStage::kAwaitingReturn) {
    LookForReturn();
    if (m_Stage == RoadStage::kAwaitingReturn) {
      EndRoad(m_RunOutcome.value_or(RunOutcome{}), true);
    }
  }
  Changed();
}

}  // namespace update
