#include "sim/emulator/SimEmulatedDevice.h"

namespace sim {

CSimEmulatedDevice::CSimEmulatedDevice(std::shared_ptr<CSimController> controller)
    : m_Controller(std::move(controller)) {
  m_ListenerId = m_Controller->AddPresenceListener([this](bool present) { OnPresence(present); });
  m_Pump = std::jthread([this](std::stop_token stop) { Pump(stop); });
}

CSimEmulatedDevice::~CSimEmulatedDevice() {
  m_Controller->RemovePresenceListener(m_ListenerId);
  m_Pump.request_stop();
  m_Changed.notify_all();
  m_Pump.join();
}

void CSimEmulatedDevice::BindPort(hid::emulator::IDevicePort* port) {
  std::unique_lock lock(m_Mutex);
  m_Port = port;
  m_Connection.reset();
  m_ConnectWanted = port != nullptr;
  ++m_Changes;
  if (port != nullptr) {
    // At once, so that a program connecting next is told the device is there; should
    // the presence change meanwhile, the pump decides again.
    Connect(lock);
  }
  m_Changed.notify_all();
}

void CSimEmulatedDevice::OnPresence(bool present) {
  // Runs inside the controller's notice delivery: only our own state and the port here.
  std::lock_guard lock(m_Mutex);
  m_Connection.reset();
  m_ConnectWanted = present;
  ++m_Changes;
  if (!present && m_Port != nullptr) {
    m_Port->Detach();
  }
  m_Changed.notify_all();
}

void CSimEmulatedDevice::OnOutputReport(std::span<const std::uint8_t> report) {
  std::optional<SimConnection> connection;
  {
    std::lock_guard lock(m_Mutex);
    connection = m_Connection;
  }
  if (connection) {
    (void)m_Controller->Receive(report, connection->presence);
  }
}

void CSimEmulatedDevice::Connect(std::unique_lock<std::mutex>& lock) {
  const std::uint64_t changes = m_Changes;
  lock.unlock();
  std::optional<SimConnection> connection = m_Controller->Connect();
  lock.lock();
  if (changes != m_Changes || !m_ConnectWanted) {
    return;  // changed meanwhile, or another caller connected: decided elsewhere
  }
  m_ConnectWanted = false;
  if (connection && m_Port != nullptr) {
    m_Connection = std::move(connection);
    m_Port->Attach(hid::kVendorId, m_Connection->productId);
  }
}

void CSimEmulatedDevice::Pump(std::stop_token stop) {
  while (!stop.stop_requested()) {
    std::shared_ptr<CReportQueue> queue;
    {
      std::unique_lock lock(m_Mutex);
      m_Changed.wait(lock, stop, [this] {
        return m_Port != nullptr && (m_ConnectWanted || m_Connection.has_value());
      });
      if (stop.stop_requested()) {
        return;
      }
      if (m_ConnectWanted) {
        Connect(lock);
        continue;
      }
      queue = m_Connection->queue;
    }
    hid::Frame frame{};
    // A short wait keeps the thread responsive to a stop and to a new connection.
    const hid::ReadOutcome outcome = queue->Read(frame, std::chrono::milliseconds(50));
    std::unique_lock lock(m_Mutex);
    if (outcome == hid::ReadOutcome::kReport) {
      if (m_Port != nullptr) {
        (void)m_Port->SendInputReport(frame);
      }
    } else if (outcome == hid::ReadOutcome::kDeviceGone && m_Connection &&
               m_Connection->queue == queue) {
      // Gone: wait for the next arrival's connection.
      m_Connection.reset();
    }
  }
}

}  // namespace sim
