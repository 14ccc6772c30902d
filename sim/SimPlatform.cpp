#include "sim/SimPlatform.h"

namespace sim {

class CSimPlatform::CHandle : public hid::IHidHandle {
  // What an operating system says of a handle whose device has left since it was opened.
  static base::Error Gone(const std::string& operation) {
    return {base::ErrorKind::kDisconnected, operation + ": the device went away"};
  }

 public:
  CHandle(CSimPlatform& platform, std::string path, std::shared_ptr<CSimController> controller,
          SimConnection connection)
      : m_Platform(platform),
        m_Path(std::move(path)),
        m_Controller(std::move(controller)),
        m_Connection(std::move(connection)) {}

  hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds timeout) override {
    SimReadRecord record{m_Path, Clock::now(), {}, hid::ReadOutcome::kTimeout};
    record.outcome = m_Connection.queue->Read(frame, timeout);
    record.end = Clock::now();
    m_Platform.RecordRead(record);
    if (record.outcome == hid::ReadOutcome::kDeviceGone) {
      return {record.outcome, Gone("read")};
    }
    return record.outcome;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    if (!m_Controller->Receive(frame, m_Connection.presence)) {
      return Gone("write");
    }
    return {};
  }

 private:
  CSimPlatform& m_Platform;  // outlives its handles, as an operating system does
  const std::string m_Path;
  const std::shared_ptr<CSimController> m_Controller;
  const SimConnection m_Connection;
};

CSimPlatform::CSimPlatform(std::shared_ptr<CSimController> controller)
    : CSimPlatform(std::vector{std::move(controller)}) {}

CSimPlatform::CSimPlatform(std::vector<std::shared_ptr<CSimController>> controllers)
    : m_Controllers(std::move(controllers)) {
  for (const auto& controller : m_Controllers) {
    m_ListenerIds.push_back(controller->AddPresenceListener([this](bool present) {
      std::lock_guard lock(m_Mutex);
      if (m_Registered) {
        m_Notices.Push(present ? hid::kNoticeArrival : hid::kNoticeRemoveComplete);
      }
    }));
  }
}

CSimPlatform::~CSimPlatform() {
  for (std::size_t i = 0; i < m_Controllers.size(); ++i) {
    m_Controllers[i]->RemovePresenceListener(m_ListenerIds[i]);
  }
}

std::string CSimPlatform::PathOf(std::size_t index) {
  return "sim:" + std::to_string(index);
}

std::string CSimPlatform::LocationOf(std::size_t index) {
  return "sim-port-" + std::to_string(index);
}

std::vector<SimReadRecord> CSimPlatform::Reads() const {
  std::lock_guard lock(m_Mutex);
  return m_Reads;
}

void CSimPlatform::RecordRead(SimReadRecord record) {
  std::lock_guard lock(m_Mutex);
  m_Reads.push_back(std::move(record));
}

std::vector<hid::InterfaceInfo> CSimPlatform::EnumerateInterfaces() {
  std::vector<hid::InterfaceInfo> present;
  for (std::size_t i = 0; i < m_Controllers.size(); ++i) {
    const CSimController& controller = *m_Controllers[i];
    if (controller.IsPresent()) {
      present.push_back({PathOf(i), hid::kVendorId, controller.ProductId(), LocationOf(i)});
    }
  }
  return present;
}

base::Result<std::unique_ptr<hid::IHidHandle>> CSimPlatform::Open(const std::string& path,
                                                                  hid::Access /*access*/) {
  for (std::size_t i = 0; i < m_Controllers.size(); ++i) {
    if (path != PathOf(i)) {
      continue;
    }
    std::optional<SimConnection> connection = m_Controllers[i]->Connect();
    if (!connection) {
      break;
    }
    return std::unique_ptr<hid::IHidHandle>(
        std::make_unique<CHandle>(*this, path, m_Controllers[i], std::move(*connection)));
  }
  return base::Error{base::ErrorKind::kNotFound, "open " + path + ": no such device"};
}

bool CSimPlatform::RegisterForDeviceNotices(hid::NativeWindow /*notifyWindow*/) {
  std::lock_guard lock(m_Mutex);
  m_Registered = true;
  return true;
}

void CSimPlatform::UnregisterDeviceNotices() {
  std::lock_guard lock(m_Mutex);
  m_Registered = false;
}

}  // namespace sim
