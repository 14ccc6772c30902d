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

std::uint16_t KnownTypeOrNone(std::uint16_t typeCode) {
  return DeviceKindOf(typeCode) ? typeCode : firmware::kTypeCodeUnknown;
}

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

Identification CUpdateController::IdentifyDevice() {
  Identification found;
  const hid::MatchedDeviceIds ids = GetMatchedDeviceIds();
  if (ids.VendorId != hid::kVendorId ||
      (ids.ProductId != hid::kAppProductId && ids.ProductId != hid::kBootProductId)) {
    return found;
  }
  if (m_Hid.OpenDevice() == 0) {
    found.error = m_Hid.LastOpenError();
    return found;
  }
  found.opened = true;
  if (ids.ProductId == hid::kAppProductId) {
    std::uint8_t reply[protocol::kAppInfoReplySize] = {};
    if (m_UiCommands.QueryAppInfo(reply, protocol::kAppInfoReplySize) == 0) {
      found.error = m_UiCommands.LastError();
      return found;
    }
    // The version is kept before the type is looked at: a device of an unknown type
    // still leaves its version behind. Bit 31 is not part of it.
    const std::uint32_t info = base::LoadU32(reply + 4) & 0x7FFFFFFFu;
    SetCurrentFirmwareInfo(info);
    found.version = info;
    found.type = base::LoadU16(reply);
  } else {
    std::uint8_t reply[protocol::kBootTypeReplySize] = {};
    if (m_UiCommands.QueryBootType(reply, protocol::kBootTypeReplySize) == 0) {
      found.error = m_UiCommands.LastError();
      return found;
    }
    found.type = base::LoadU16(reply);
  }
  found.answered = true;
  if (const auto kind = DeviceKindOf(found.type)) {
    SetDeviceKind(*kind);
  }
  return found;
}

bool CUpdateController::EnterBootMode() {
  return m_UiCommands.EnterBootMode() != 0;
}

bool CUpdateController::StartRun(CheckedImage image, std::uint16_t deviceType,
                                 std::function<void(const RunOutcome&)> ended) {
  m_hWorkerThread.Join();  // the last run's worker has told its end already
  m_StopSource = base::CStopSource();
  m_Hid.SetTimeout(hid::kInitialTimeoutMs);
  return m_hWorkerThread.Start(
      [this, image = std::move(image), deviceType, stop = m_StopSource.Token(),
       ended = std::move(ended)] { ended(UpdateWorker(image, deviceType, stop)); });
}

void CUpdateController::JoinRun() {
  m_hWorkerThread.Join();
}

}  // namespace update
