// The emulator's side of the socket: listens at a path, serves one program connection
// at a time (the next program may connect when it leaves; one that connects meanwhile
// is closed before any message, which it takes as "busy"), tells each program the
// current state first ('A' with the IDs, or 'D'), hands the program's output reports to
// a device model and carries the model's attach, detach and input reports back.
// Tests, the demo and the benchmarks run the link end to end with it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/emulator/UnixSocket.h"
#include "hid/emulator/server/EmulatedDevice.h"

namespace hid::emulator {

struct EmulatorServerOptions {
  // Bounds a send to a program that stopped reading.
  std::chrono::milliseconds sendTimeout{1000};
  base::DebugSink debug;
};

class CEmulatorServer final : public IDevicePort {
 public:
  // Listens at socketPath (replacing a socket file left there by an earlier emulator
  // that is gone, never any other file, and never one that another emulator serves),
  // binds the device model's port and starts serving.
  static base::Result<std::unique_ptr<CEmulatorServer>> Listen(
      const std::string& socketPath, std::shared_ptr<IEmulatedDevice> device,
      EmulatorServerOptions options = {});

  // Stops serving, takes the port back from the model, closes the sockets and removes
  // the socket file.
  ~CEmulatorServer();
  CEmulatorServer(const CEmulatorServer&) = delete;
  CEmulatorServer& operator=(const CEmulatorServer&) = delete;

  // IDevicePort
  void Attach(std::uint16_t vendorId, std::uint16_t productId) override;
  void Detach() override;
  bool SendInputReport(const Frame& report) override;

  // Ends the current program's connection, as an emulator that quits does; the program
  // takes it as the device going away. The server then waits for the next program.
  void CloseConnection();

  // Sends a datagram as given to the connected program, for fault tests. False when no
  // program is connected or the send failed.
  bool SendRaw(std::span<const std::uint8_t> datagram);

  // Waits until at least count programs have connected since the start.
  bool WaitForConnections(std::uint64_t count, std::chrono::milliseconds timeout);

  struct Counters {
    std::uint64_t connections = 0;    // programs accepted
    std::uint64_t outputReports = 0;  // handed to the device model
    std::uint64_t ignored = 0;        // malformed datagrams from the program
    std::uint64_t droppedInput = 0;   // input reports with no program to take them
    std::uint64_t turnedAway = 0;     // programs that came while another was served
  };
  Counters GetCounters() const;
  const std::string& SocketPath() const { return m_SocketPath; }

 private:
  struct Presence {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
  };

  CEmulatorServer(CFd listener, std::string socketPath, std::shared_ptr<IEmulatedDevice> device,
                  EmulatorServerOptions options);
  void Serve();
  void ServeConnection(int connection);
  // Waits until the program being served sends or leaves (or the server stops), turning
  // away every other program that connects meanwhile.
  void TurnAwayWhileServing(int connection);
  // Sends to the connected program, if any. Called with m_Mutex held.
  bool SendLocked(std::span<const std::uint8_t> datagram);

  const CFd m_Listener;
  const std::string m_SocketPath;
  const std::shared_ptr<IEmulatedDevice> m_Device;
  const EmulatorServerOptions m_Options;
  CWakePipe m_Wake;
  std::thread m_Thread;

  mutable std::mutex m_Mutex;  // guards the members below; held across sends to keep order
  std::condition_variable m_Changed;
  CFd m_Connection;
  std::optional<Presence> m_Presence;
  Counters m_Counters;
};

}  // namespace hid::emulator
