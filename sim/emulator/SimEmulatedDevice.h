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
  // On its own thread: connects to the device and attaches it to the port when asked,
  // and forwards the replies of the current connection to the port.
  void Pump(std::stop_token stop);
  // Connects and attaches; called with the lock held, which it lets go meanwhile.
  void Connect(std::unique_lock<std::mutex>& lock);

  const std::shared_ptr<CSimController> m_Controller;
  int m_ListenerId = -1;

  // Guards the members below and is held across port calls. Never held while the
  // controller is called: the controller calls OnPresence with its own locks held.
  std::mutex m_Mutex;
  std::condition_variable_any m_Changed;
  hid::emulator::IDevicePort* m_Port = nullptr;
  std::optional<SimConnection> m_Connection;
  bool m_ConnectWanted = false;  // a port is bound or the device arrived: connect
  std::uint64_t m_Changes = 0;   // counts port and presence changes
  std::jthread m_Pump;           // last: stopped and joined first
};

}  // namespace sim
