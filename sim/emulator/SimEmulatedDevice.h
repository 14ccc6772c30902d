// The simulated controller behind the emulator socket: output reports written by a
// program go to the model as frames from the host; its replies, removals and arrivals go
// back over the socket. This is what `update-sim-emulator` serves, so that the tool can
// be exercised through the emulator link as through a real device.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "hid/emulator/server/EmulatedDevice.h"
#include "sim/SimController.h"

namespace sim {

class CSimEmulatedDevice final : public hid::emulator::IEmulatedDevice {
 public:
  explicit CSimEmulatedDevice(std::shared_ptr<CSimController> controller);
  ~CSimEmulatedDevice() override;
  CSimEmulatedDevice(const CSimEmulatedDevice&) = delete;
  CSimEmulatedDevice& operator=(const CSimEmulatedDevice&) = delete;

  void BindPort(hid::emulator::IDevicePort* port) override;
  void OnOutputReport(std::span<const std::uint8_t> report) override;

  CSimController& Controller() { return *m_Controller; }

 private:
  void OnPresence(bool present);
  // Forwards the replies of the current connection to the port, on its own thread.
  void Pump(std::stop_token stop);

  const std::shared_ptr<CSimController> m_Controller;
  int m_ListenerId = -1;

  std::mutex m_Mutex;  // guards the port and the connection; held across port calls
  std::condition_variable_any m_Changed;
  hid::emulator::IDevicePort* m_Port = nullptr;
  std::optional<SimConnection> m_Connection;
  std::jthread m_Pump;  // last: stopped and joined first
};

}  // namespace sim
