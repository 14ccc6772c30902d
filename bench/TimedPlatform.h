// A platform that passes everything to another one and notes when each report was
// handed over and when each read came back, so that the time of a block splits into the
// host's own part (from the echo of one block to the write of the next) and the wait
// for the device's reply (the device's latency and the wake-up that delivers it).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "hid/ForwardingPlatform.h"

namespace bench {

struct LinkEvent {
  bool write = false;      // else a read
  bool report = false;     // a read that brought a report
  std::uint16_t code = 0;  // a write's command code
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point end;
};

// Averages over the block writes of one run, in microseconds.
struct BlockSplit {
  double hostUs = 0;       // echo of the previous block read back .. this block handed over
  double replyWaitUs = 0;  // this block handed over .. its echo read back
  std::uint32_t blocks = 0;
};

class CTimedPlatform final : public hid::CForwardingPlatform {
 public:
  explicit CTimedPlatform(std::shared_ptr<hid::IHidPlatform> inner);

  // Takes the events noted so far and splits the block writes among them.
  BlockSplit TakeBlockSplit();

  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;

 private:
  class CHandle;
  void Note(const LinkEvent& event);

  std::mutex m_Mutex;
  std::vector<LinkEvent> m_Events;
};

}  // namespace bench
