// A scripted platform for the link's tests: a fixed list of interfaces, reads answered
// from a script (never waiting), and every written frame recorded byte for byte.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"

namespace testing_support {

struct ScriptedRead {
  hid::ReadOutcome outcome = hid::ReadOutcome::kReport;
  hid::Frame frame{};
};

// What a node that was unplugged says to an operation on it: ENODEV, "No such device".
base::Error NoSuchDevice(const std::string& operation);

class CFakeHidPlatform : public hid::IHidPlatform {
 public:
  // What the platform reports and does.
  std::vector<hid::InterfaceInfo> interfaces;
  std::optional<base::Error> writeOpenError;  // Open(kWrite) fails with this
  std::optional<base::Error> readOpenError;   // Open(kRead) fails with this
  bool registerResult = true;
  std::optional<base::Error> writeError;  // every write fails with this

  // A read takes the next scripted answer; with none left it times out at once.
  void QueueRead(const ScriptedRead& read);
  void QueueReport(const hid::Frame& frame) { QueueRead({hid::ReadOutcome::kReport, frame}); }

  // What the link did.
  std::vector<std::vector<std::uint8_t>> Written() const {
    std::lock_guard lock(m_Mutex);
    return m_Written;
  }
  std::vector<std::uint32_t> ReadTimeoutsMs() const {
    std::lock_guard lock(m_Mutex);
    return m_ReadTimeoutsMs;
  }
  int enumerateCalls = 0;
  int registerCalls = 0;
  int unregisterCalls = 0;
  std::vector<std::pair<std::string, hid::Access>> opened;

  // hid::IHidPlatform
  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;
  bool RegisterForDeviceNotices(hid::NativeWindow) override;
  void UnregisterDeviceNotices() override;

 private:
  class CHandle;
  mutable std::mutex m_Mutex;
  std::deque<ScriptedRead> m_Reads;
  std::vector<std::vector<std::uint8_t>> m_Written;
  std::vector<std::uint32_t> m_ReadTimeoutsMs;
};

}  // namespace testing_support
