#include "update/UpdateController.h"

#include <system_error>

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
  if (m_hWorkerThread.joinable()) {
    m_StopSource.RequestStop();
    m_hWorkerThread.join();
  }
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
    SetCurrentFirmwareInfo(base::LoadU32(reply + 4) & 0x7FFFFFFFu);
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
    StartRun();
  }
}

bool CUpdateController::OnDeviceChange(std::uint32_t eventType, std::uintptr_t /*eventData*/) {
  switch (eventType & 0xFFFFu) {
    case hid::kNoticeDevNodesChanged:
      if (m_Hid.FindDevice() != 0) {
        if (GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread) {
          m_Ui.EnableUpdateButton(true);
        }
      } else {
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
  const std::uint16_t kind = GetDeviceKind();
  if (kind != kDeviceKindType600A && kind != kDeviceKindType6011) {
    return;
  }
  (void)m_UiCommands.EnterBootMode();
  m_Ui.ShowCompletionLabel(false);
}

void CUpdateController::StartRun() {
  if (m_hWorkerThread.joinable()) {
    m_hWorkerThread.join();  // the previous run has ended; only its thread is left
  }
  m_RunActive.store(true);
  m_LinkHold.store(LinkHold::kRun);
  try {
    m_StopSource = base::CStopSource();
    m_hWorkerThread =
        std::jthread([this, stop = m_StopSource.Token()] { FinishRun(UpdateWorker(stop)); });
  } catch (const std::system_error&) {
    // No thread, no run; nothing is reported, as for any failed start.
    m_LinkHold.store(LinkHold::kFree);
    m_RunActive.store(false);
    return;
  }
  ++m_RunsStarted;
}

void CUpdateController::FinishRun(const RunOutcome& outcome) {
  if (m_Options.onRunFinished) {
    m_Options.onRunFinished(outcome);
  }
  {
    std::lock_guard lock(m_RunMutex);
    m_LastOutcome = outcome;
    m_LinkHold.store(LinkHold::kFree);
    m_RunActive.store(false);
  }
  m_RunEnded.notify_all();
}

void CUpdateController::RequestStop() {
  m_StopSource.RequestStop();
}

std::optional<RunOutcome> CUpdateController::WaitForRunEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_RunMutex);
  if (!m_RunEnded.wait_for(lock, timeout, [this] { return !m_RunActive.load(); })) {
    return std::nullopt;
  }
  return m_LastOutcome;
}

}  // namespace update
