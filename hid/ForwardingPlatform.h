// A platform over another one: every call passes to the inner platform unchanged, the
// notice calls included. The filters and watches that wrap a platform (the device
// choice, the trace, one controller's place, a benchmark's timer) derive from it and
// override only the calls they change, so that none of them forgets to pass one on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hid/HidPlatform.h"

namespace hid {

class CForwardingPlatform : public IHidPlatform {
 public:
  explicit CForwardingPlatform(std::shared_ptr<IHidPlatform> inner);

  std::vector<InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;
  bool RegisterForDeviceNotices(NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  int NoticeFd() const override;
  void* NoticeEvent() const override;
  std::vector<std::uint32_t> TakeNotices() override;
  // What the system shows, whatever this platform hides.
  SystemSurvey Survey() override { return m_Inner->Survey(); }

 protected:
  IHidPlatform& Inner() const { return *m_Inner; }

  // Opens path on the inner platform and hands the handle to wrap, which returns the
  // handle the caller gets (a CForwardingHandle that watches it); a failure passes as is.
  template <typename Wrap>
  base::Result<std::unique_ptr<IHidHandle>> OpenWrapped(const std::string& path, Access access,
                                                        Wrap wrap) {
    auto opened = m_Inner->Open(path, access);
    if (!opened) {
      return opened.error();
    }
    return std::unique_ptr<IHidHandle>(wrap(std::move(opened.value())));
  }

 private:
  const std::shared_ptr<IHidPlatform> m_Inner;
};

// A handle over another one: reads and writes pass to it unchanged. The watching
// platforms wrap what they open in one that overrides the calls it watches.
class CForwardingHandle : public IHidHandle {
 public:
  explicit CForwardingHandle(std::unique_ptr<IHidHandle> inner) : m_Inner(std::move(inner)) {}

  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override {
    return m_Inner->ReadFrame(frame, timeout);
  }
  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    return m_Inner->WriteFrame(frame);
  }

 private:
  const std::unique_ptr<IHidHandle> m_Inner;
};

}  // namespace hid
