// The device link's platform backed by an external device emulator: a Unix-domain
// SOCK_SEQPACKET socket, one message per datagram (see EmulatorMessage.h). The emulator
// tells which device is attached and sends its input reports; the program sends the
// output reports it writes. Anyone can write such an emulator, in any language.
//
// The link behaves as an operating system's HID stack does:
// - Enumeration lists exactly the attached device, at the path "emulator:<socket path>",
//   or nothing. An 'A' while a device is attached replaces it: the old one is removed
//   (a removal notice, its handles dead, its reports dropped), then the new one arrives.
// - A 'D', or the emulator closing the socket, removes the device: a removal notice,
//   handles opened before fail every read at once with kDeviceGone (never a time-out)
//   and every write, and queued input reports are dropped. Those handles stay dead
//   after a later 'A', as with a real device that re-enumerates, until the program
//   opens the device again.
// - Input reports wait in one queue for the attached device until a read takes them,
//   the oldest first, at most 64. When the queue is full the oldest report is dropped
//   for the new one, as a ring buffer does: a command waiting for its reply wants the
//   newest report, never one that has been stale for 64 reports. Reports that come
//   while no device is attached have nowhere to go and are dropped.
// - Arrival and removal notices are queued only between RegisterForDeviceNotices and
//   UnregisterDeviceNotices, and reach the owner through NoticeFd / TakeNotices.
//
// Malformed datagrams (unknown kind, wrong length, an 'O' sent to the program) are
// ignored and counted; one line for each goes to the debug sink.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"
#include "hid/emulator/UnixSocket.h"

namespace hid::emulator {

inline constexpr std::size_t kInputQueueLimit = 64;
inline constexpr const char* kPathPrefix = "emulator:";

struct EmulatorOptions {
  // Bounds a connect to a listener that does not accept (its backlog full).
  std::chrono::milliseconds connectTimeout{1000};
  // How long Connect waits for the emulator's first message, its current state, so
  // that a device present from the start is found by the first scan. Without it in
  // time the link starts with no device and takes the state whenever it comes.
  std::chrono::milliseconds firstStateTimeout{1000};
  // Bounds a write to an emulator that stopped reading.
  std::chrono::milliseconds sendTimeout{1000};
  base::DebugSink debug;
};

class CEmulatorPlatform final : public IHidPlatform {
 public:
  // Connects to the emulator listening at socketPath and waits (bounded) for its first
  // message. A missing socket, a refused or timed-out connection are errors naming the
  // path and the OS reason; they come back at once, never as a hang. An emulator that
  // closes the connection before its first message is serving another program: that is
  // an error too, which says so.
  static base::Result<std::shared_ptr<CEmulatorPlatform>> Connect(const std::string& socketPath,
                                                                  EmulatorOptions options = {});

  // Stops and joins the reader thread and closes the connection; handles still held
  // fail from then on.
  ~CEmulatorPlatform() override;
  CEmulatorPlatform(const CEmulatorPlatform&) = delete;
  CEmulatorPlatform& operator=(const CEmulatorPlatform&) = delete;

  // The path enumeration gives the emulated device.
  const std::string& DevicePath() const;

  struct Counters {
    std::uint64_t datagrams = 0;       // every datagram received, valid or not
    std::uint64_t ignored = 0;         // malformed datagrams
    std::uint64_t droppedReports = 0;  // input reports lost to a full queue or no device
  };
  Counters GetCounters() const;

  // IHidPlatform
  std::vector<InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;
  bool RegisterForDeviceNotices(NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  int NoticeFd() const override;
  std::vector<std::uint32_t> TakeNotices() override;

 private:
  struct CLink;  // the state the reader thread and the handles share
  class CHandle;

  CEmulatorPlatform(CFd socket, const std::string& socketPath, EmulatorOptions options);
  void ReadDatagrams();

  const std::shared_ptr<CLink> m_Link;
  CWakePipe m_Wake;
  std::thread m_Reader;
};

}  // namespace hid::emulator
