// The seam between the emulator's socket and a device model. The server owns the
// socket and the program's connection; a device model only sees output reports coming
// in and uses a port to plug itself in, unplug, and send input reports.
//
// A model with its own timing (replies after a latency, an erase that takes a while,
// a restart that comes back after a delay) may call the port from its own threads.
#pragma once

#include <cstdint>
#include <span>

#include "hid/HidTypes.h"

namespace hid::emulator {

// What a device model can do to the link. Every member is safe to call from any
// thread, also from inside IEmulatedDevice::OnOutputReport.
class IDevicePort {
 public:
  // The device is on the bus with these IDs (replacing any earlier one): 'A'.
  virtual void Attach(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // The device left the bus: 'D'. Input reports sent before it are dropped by the program.
  virtual void Detach() = 0;
  // One input report, report ID first: 'I'. False when no program is connected to take
  // it or the send failed; the report is then lost, as on a bus with no host.
  virtual bool SendInputReport(const Frame& report) = 0;

 protected:
  ~IDevicePort() = default;
};

class IEmulatedDevice {
 public:
  virtual ~IEmulatedDevice() = default;

  // The server hands over its port when it starts listening and takes it back with
  // nullptr before it goes away; the model must not touch the old port once this call
  // returns. The model reports its presence through the port (Attach), at once or later;
  // until it does, programs that connect are told that no device is attached.
  virtual void BindPort(IDevicePort* port) = 0;

  // One output report exactly as the program wrote it: 64 bytes for an application-mode
  // write (report ID 0x81 first), 65 for the others, n + 1 for a write with an explicit
  // report ID. Called on the server's thread, one at a time, in the order written.
  virtual void OnOutputReport(std::span<const std::uint8_t> report) = 0;
};

}  // namespace hid::emulator
