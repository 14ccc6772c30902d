#include "bench/TimedPlatform.h"

#include "base/LittleEndian.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kWriteBlockCode = 0x0003;

double Microseconds(Clock::duration span) {
  return std::chrono::duration<double, std::micro>(span).count();
}

}  // namespace

class CTimedPlatform::CHandle final : public hid::CForwardingHandle {
 public:
  CHandle(CTimedPlatform& owner, std::unique_ptr<hid::IHidHandle> inner)
      : CForwardingHandle(std::move(inner)), m_Owner(owner) {}

  hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds timeout) override {
    LinkEvent event;
    event.start = Clock::now();
    hid::ReadResult result = CForwardingHandle::ReadFrame(frame, timeout);
    event.end = Clock::now();
    event.report = result.outcome == hid::ReadOutcome::kReport;
    m_Owner.Note(event);
    return result;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    LinkEvent event;
    event.write = true;
    // Boot-mode frames: report ID, packet type, then the code.
    if (frame.size() >= 4) {
      event.code = base::LoadU16(&frame[2]);
    }
    event.start = Clock::now();
    base::Status written = CForwardingHandle::WriteFrame(frame);
    event.end = Clock::now();
    m_Owner.Note(event);
    return written;
  }

 private:
  CTimedPlatform& m_Owner;  // outlives its handles in every benchmark
};

CTimedPlatform::CTimedPlatform(std::shared_ptr<hid::IHidPlatform> inner)
    : CForwardingPlatform(std::move(inner)) {
  m_Events.reserve(2 * 8192);  // a 256 KiB run without reallocating in its stream
}

void CTimedPlatform::Note(const LinkEvent& event) {
  std::lock_guard lock(m_Mutex);
  m_Events.push_back(event);
}

BlockSplit CTimedPlatform::TakeBlockSplit() {
  std::vector<LinkEvent> events;
  {
    std::lock_guard lock(m_Mutex);
    events.swap(m_Events);
    m_Events.reserve(events.capacity());
  }
  BlockSplit split;
  double host = 0;
  std::uint32_t hostCount = 0;
  double wait = 0;
  // The last read that brought a report, and whether it was a block's echo.
  const LinkEvent* lastReply = nullptr;
  bool lastWasBlock = false;
  bool inBlock = false;
  Clock::time_point blockWritten;
  for (const LinkEvent& event : events) {
    if (event.write) {
      const bool block = event.code == kWriteBlockCode;
      if (block && lastWasBlock && lastReply != nullptr) {
        host += Microseconds(event.start - lastReply->end);
        ++hostCount;
      }
      inBlock = block;
      blockWritten = event.end;
      continue;
    }
    if (!event.report) {
      continue;
    }
    lastReply = &event;
    lastWasBlock = inBlock;
    if (inBlock) {
      wait += Microseconds(event.end - blockWritten);
      ++split.blocks;
      inBlock = false;
    }
  }
  if (hostCount > 0) {
    split.hostUs = host / hostCount;
  }
  if (split.blocks > 0) {
    split.replyWaitUs = wait / split.blocks;
  }
  return split;
}

base::Result<std::unique_ptr<hid::IHidHandle>> CTimedPlatform::Open(const std::string& path,
                                                                    hid::Access access) {
  return OpenWrapped(path, access, [this](std::unique_ptr<hid::IHidHandle> handle) {
    return std::make_unique<CHandle>(*this, std::move(handle));
  });
}

}  // namespace bench
