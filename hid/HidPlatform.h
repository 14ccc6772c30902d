// What an operating system does for the device link, and nothing more: list HID
// interfaces, open them, read one input report with a time-out, write one output
// report, and tell the owner when interfaces come and go. The link's own rules
// (matching, the transmit buffer, statuses, time-outs) live in CHid above this.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/Error.h"
#include "base/Wake.h"
#include "hid/HidTypes.h"
#include "hid/Survey.h"

namespace hid {

enum class ReadOutcome {
  kReport,      // one report arrived; the frame holds it, byte 0 the report ID
  kTimeout,     // nothing arrived in time; the pending read was retired
  kAbandoned,   // the wait object was abandoned (Windows WAIT_ABANDONED); retired as a time-out
  kDeviceGone,  // the device went away; never to be mistaken for a time-out
  kFailed,      // any other failure of the platform
};

// What one read brought: the outcome and, for kDeviceGone and kFailed, the operating
// system's reason, worded once by the backend that saw it ("read: Input/output error").
// A report or a time-out needs no reason, so an outcome alone converts to a result.
struct ReadResult {
  ReadResult(ReadOutcome what) : outcome(what) {}  // NOLINT: implicit by design
  ReadResult(ReadOutcome what, base::Error why) : outcome(what), error(std::move(why)) {}

  ReadOutcome outcome;
  std::optional<base::Error> error;
};

// One opened HID interface. Implementations must allow ReadFrame and WriteFrame to
// be called from different threads, and must retire a read that timed out before
// returning, so that no buffer of the caller is written afterwards.
class IHidHandle {
 public:
  virtual ~IHidHandle() = default;

  // Waits at most timeout for one input report and copies it to frame as a 65-byte
  // frame: report ID first (0x00 when the interface has no numbered reports).
  virtual ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) = 0;

  // Writes one output report exactly as given: byte 0 the report ID, then the data.
  // Blocks until done. Success as the platform reports it, else its reason
  // ("write: No such device"), an unplugged device's with kind kDisconnected.
  virtual base::Status WriteFrame(std::span<const std::uint8_t> frame) = 0;
};

enum class Access {
  kWrite,  // synchronous writes
  kRead,   // reads with a time-out
};

class IHidPlatform;

// The survey every platform can make: its list of HID interfaces with the vendor ID
// (taken to be on USB), the controller's among them checked by opening them for writing
// and closing them at once.
SystemSurvey SurveyByListing(IHidPlatform& platform);

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // A snapshot of the HID interfaces present now, in the platform's enumeration order.
  // Interfaces whose IDs cannot be read are left out.
  virtual std::vector<InterfaceInfo> EnumerateInterfaces() = 0;

  // Opens an interface by path. The error's kind tells "not found", "permission
  // denied" and the rest apart, so that a front end can name the fix.
  virtual base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path,
                                                         Access access) = 0;

  // Starts delivering arrival and removal notices of HID interfaces: to notifyWindow
  // on platforms that post window messages, else to the queue behind NoticeFd().
  // False when they cannot be delivered.
  virtual bool RegisterForDeviceNotices(NativeWindow notifyWindow) = 0;
  virtual void UnregisterDeviceNotices() = 0;

  // For event loops that wait on descriptors (QSocketNotifier, poll): readable while
  // notices are pending; -1 when this platform delivers none this way.
  virtual int NoticeFd() const { return -1; }

  // The same for event loops that wait on Windows handles (WaitForMultipleObjects): a
  // manual-reset event (a HANDLE), signalled while notices are pending; null when this
  // platform delivers none this way.
  virtual void* NoticeEvent() const { return nullptr; }

  // Takes the pending notice codes (kNoticeArrival, ...), oldest first. Call on the
  // owner's event loop thread.
  virtual std::vector<std::uint32_t> TakeNotices() { return {}; }

  // What the platform sees of the controller's maker, for telling a user why no
  // controller can be used (hid/Survey.h). Sends nothing. By default only the listed
  // interfaces (SurveyByListing); a platform that sees the system's device tree says more.
  virtual SystemSurvey Survey() { return SurveyByListing(*this); }
};

// What a wait (base::WaitForAny) watches for the platform's notices: NoticeEvent() on
// Windows, NoticeFd() elsewhere.
inline base::Waitable NoticeWaitable(const IHidPlatform& platform) {
#if defined(_WIN32)
  return platform.NoticeEvent();
#else
  return platform.NoticeFd();
#endif
}

}  // namespace hid
