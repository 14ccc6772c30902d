// CHid: the device link. Finds the controller among the HID interfaces, keeps the
// path of its interface, opens it with a write handle and a read handle, reads single
// input reports with a time-out and writes output reports in three forms. It knows
// nothing of packets or commands.
//
// Frames and the transmit buffer. Every report is a 65-byte frame, report ID first.
// WriteReport and WriteAppReport build their frames in one transmit buffer that is
// never cleared: the bytes a write does not fill go out as an earlier write left them.
// The controller has always seen those left-over bytes, so they are kept on the wire.
//
// Threads. The UI thread and one flashing worker share the link. Every member is safe
// to call from either; a whole command (a write and the reads of its replies) is kept
// apart from another thread's commands by holding BeginCommand() across it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

namespace hid {

// Read statuses. Every caller treats 0 as success and anything else as failure.
inline constexpr std::uint32_t kReadOk = 0;
inline constexpr std::uint32_t kReadNotOpen = 128;        // no read handle; also an abandoned wait
inline constexpr std::uint32_t kReadTimeout = 258;        // nothing within the read time-out
inline constexpr std::uint32_t kReadDeviceGone = 1167;    // the device went away (as Windows' 1167)
inline constexpr std::uint32_t kReadFailed = 0xFFFFFFFF;  // any other platform failure

inline constexpr std::uint32_t kInitialTimeoutMs = 10;  // read time-out of a new link
inline constexpr std::uint32_t kOpenTimeoutMs = 200;    // read time-out after every opening

// The controllers the platform lists now (IsController), in its order: what
// CHid::FindDevice takes the first of.
std::vector<InterfaceInfo> ListControllers(IHidPlatform& platform);

// The one controller a search may find (see CHid::PinDevice).
struct DevicePin {
  std::string place;            // where it is plugged in; empty where the platform tells none
  std::string path;             // with no place: its interface
  std::uint16_t productId = 0;  // with neither: the mode it is awaited in,
  std::vector<std::string> notPaths = {};  // at none of these interfaces (not it)

  bool Matches(const InterfaceInfo& info) const;
};

class CHid {
 public:
  explicit CHid(std::shared_ptr<IHidPlatform> platform, base::DebugSink debug = {});
  virtual ~CHid();
  CHid(const CHid&) = delete;
  CHid& operator=(const CHid&) = delete;

  // The window that receives device notices, on platforms that post them to a window.
  void SetNotifyWindow(NativeWindow window);

  // Searches the present HID interfaces for the controller (vendor 0x4B2E, product
  // 0x6E21 or 0x6E30); the first in enumeration order wins. On a match records its path,
  // IDs and place and returns 1; else returns 0 and keeps the earlier ones. The first
  // call also registers for device notices, once for the life of the link. Leaves the
  // open or closed state of the link and its time-out alone.
  //
  // While the link is pinned (PinDevice), only the pinned controller is found, so that
  // another one plugged in meanwhile never replaces it.
  int FindDevice();

  // Pins the search to one controller, until UnpinDevice: FindDevice then finds only an
  // interface at its place, which stays the same while the controller restarts into its
  // other mode under a new path. Where the platform tells no place, only its path; or,
  // with no path either, the first controller in the mode `productId` names that is at
  // none of the interfaces `notPaths` names.
  void PinDevice(DevicePin pin);
  void UnpinDevice();
  std::optional<DevicePin> Pin() const;

  // Opens the device at the recorded path: a write handle, then a read handle. Returns 1
  // when both are open and sets the read time-out to 200 ms. A failed read side keeps
  // the write handle: writes still go out while every read returns 128.
  int OpenDevice();

  void SetTimeout(std::uint32_t milliseconds);

  // Read one input report within the time-out. ReadReport copies frame bytes 1..n (the
  // report ID dropped), ReadAppReport frame bytes 0..n-1 (the ID included); n <= 64.
  // Returns a read status (kReadOk, kReadTimeout, ...); nothing is copied on failure,
  // and LastIoError() says why.
  std::uint32_t ReadReport(std::uint8_t* destination, std::uint8_t n);
  std::uint32_t ReadAppReport(std::uint8_t* destination, std::uint8_t n);

  // WriteReport: frame = 0x00, the n source bytes, then whatever the transmit buffer
  // held beyond them; 65 bytes go out. WriteAppReport: frame = 0x81 and the source
  // bytes in the transmit buffer; the first n bytes of it go out (0x81 and n-1 source
  // bytes). WriteReportWithId: frame = id and the n bytes, in a buffer of its own; n+1
  // bytes go out. n is at most 64. Non-zero when the platform write succeeded; on 0,
  // LastIoError() says why.
  int WriteReport(const std::uint8_t* source, std::uint8_t n);
  int WriteAppReport(const std::uint8_t* source, std::uint8_t n);
  int WriteReportWithId(const std::uint8_t* source, std::uint8_t reportId, std::uint8_t n);

  // Held by a device command across its write and its reads, so that a command of the
  // other thread never interleaves its frames with this one.
  [[nodiscard]] std::unique_lock<std::mutex> BeginCommand();

  // State, for the layers above and for tests.
  MatchedDeviceIds GetMatchedDeviceIds() const;
  bool IsConnected() const;
  std::string DevicePath() const;
  std::string DeviceLocation() const;  // empty where the platform tells no place
  std::uint32_t Timeout() const;
  bool IsWriteOpen() const;
  bool IsReadOpen() const;
  bool IsNotifyRegistered() const;
  // Why the last OpenDevice failed; nullopt after a successful one.
  std::optional<base::Error> LastOpenError() const;
  // Why the last write or read failed, on whichever thread: the platform's reason
  // ("write: No such device") or the link's own ("read: no report within 200 ms",
  // "write: the device is not open"); nullopt after one that succeeded. A command
  // looks at it under its BeginCommand lock, right after its own write or read.
  std::optional<base::Error> LastIoError() const;

  IHidPlatform& Platform() { return *m_Platform; }

 private:
  std::uint32_t Read(std::uint8_t* destination, std::uint8_t n, std::size_t firstByte);
  int WriteFromTransmitBuffer(std::uint8_t reportId, const std::uint8_t* source, std::uint8_t n,
                              std::size_t bytesOnWire);
  std::shared_ptr<IHidHandle> WriteHandle() const;
  int RecordWrite(const std::shared_ptr<IHidHandle>& handle, std::span<const std::uint8_t> frame);
  void RecordIo(std::optional<base::Error> error);

  const std::shared_ptr<IHidPlatform> m_Platform;
  const base::DebugSink m_Debug;

  mutable std::mutex m_Mutex;  // guards the members below, never held across I/O
  NativeWindow m_hNotifyWnd = 0;
  int m_bConnected = 0;
  std::shared_ptr<IHidHandle> m_hWrite;
  std::shared_ptr<IHidHandle> m_hRead;
  std::string m_DevicePath;
  std::string m_DeviceLocation;
  std::optional<DevicePin> m_Pin;
  std::uint32_t m_nTimeout = kInitialTimeoutMs;
  int m_bNotifyRegistered = 0;
  bool m_bNotifyActive = false;
  MatchedDeviceIds m_MatchedIds;
  std::optional<base::Error> m_LastOpenError;
  std::optional<base::Error> m_LastIoError;

  std::mutex m_TransmitMutex;  // held while the transmit buffer is filled and written
  Frame m_TransmitBuffer{};

  std::mutex m_CommandMutex;
};

}  // namespace hid
