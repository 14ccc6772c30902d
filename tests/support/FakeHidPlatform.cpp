#include "tests/support/FakeHidPlatform.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace testing_support {

class CFakeHidPlatform::CHandle : public hid::IHidHandle {
 public:
  explicit CHandle(CFakeHidPlatform& owner) : m_Owner(owner) {}

  hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds timeout) override {
    std::lock_guard lock(m_Owner.m_Mutex);
    m_Owner.m_ReadTimeoutsMs.push_back(static_cast<std::uint32_t>(timeout.count()));
    if (m_Owner.m_Reads.empty()) {
      return hid::ReadOutcome::kTimeout;
    }
    const ScriptedRead read = m_Owner.m_Reads.front();
    m_Owner.m_Reads.pop_front();
    if (read.outcome == hid::ReadOutcome::kReport) {
      frame = read.frame;
    }
    return read.outcome;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    std::lock_guard lock(m_Owner.m_Mutex);
    m_Owner.m_Written.emplace_back(frame.begin(), frame.end());
    if (m_Owner.writeError) {
      return *m_Owner.writeError;
    }
    return {};
  }

 private:
  CFakeHidPlatform& m_Owner;
};

base::Error NoSuchDevice(const std::string& operation) {
  return {base::ErrorKind::kDisconnected,
          operation + ": " + std::generic_category().message(ENODEV)};
}

void CFakeHidPlatform::QueueRead(const ScriptedRead& read) {
  std::lock_guard lock(m_Mutex);
  m_Reads.push_back(read);
}

std::vector<hid::InterfaceInfo> CFakeHidPlatform::EnumerateInterfaces() {
  ++enumerateCalls;
  return interfaces;
}

base::Result<std::unique_ptr<hid::IHidHandle>> CFakeHidPlatform::Open(const std::string& path,
                                                                      hid::Access access) {
  opened.emplace_back(path, access);
  const auto& failure = access == hid::Access::kWrite ? writeOpenError : readOpenError;
  if (failure) {
    return *failure;
  }
  return std::unique_ptr<hid::IHidHandle>(std::make_unique<CHandle>(*this));
}

bool CFakeHidPlatform::RegisterForDeviceNotices(hid::NativeWindow) {
  ++registerCalls;
  return registerResult;
}

void CFakeHidPlatform::UnregisterDeviceNotices() {
  ++unregisterCalls;
}

}  // namespace testing_support
