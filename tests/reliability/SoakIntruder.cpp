#include "tests/reliability/SoakIntruder.h"

#include <algorithm>

#include "base/LittleEndian.h"
#include "protocol/DeviceCommands.h"

namespace soak {
namespace {

std::uint16_t CodeOf(const sim::SimFrameRecord& frame) {
  return frame.bytes.size() >= 4 ? base::LoadU16(&frame.bytes[2]) : 0xFFFF;
}

std::string Where(std::size_t index, const sim::SimFrameRecord& frame) {
  char line[64];
  std::snprintf(line, sizeof line, "frame %zu (code 0x%04X, stay %llu)", index, CodeOf(frame),
                static_cast<unsigned long long>(frame.stay));
  return line;
}

// The first of what broke, and how many more.
std::vector<std::string> Summed(std::vector<std::string> broken) {
  if (broken.size() > 1) {
    broken[0] += " (and " + std::to_string(broken.size() - 1) + " more)";
    broken.resize(1);
  }
  return broken;
}

}  // namespace

void CIntruderHands::Begin(const std::vector<IntruderStep>& steps) {
  m_Pending = steps;
  m_Began = std::chrono::steady_clock::now();
}

void CIntruderHands::At(Moment moment) {
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(m_Pending, [&](const IntruderStep& step) {
    const bool due =
        step.moment == moment && (moment != Moment::kLater || now >= m_Began + step.after);
    if (due) {
      Take(step);
    }
    return due;
  });
}

void CIntruderHands::Leave() {
  m_Pending.clear();
  m_Controller.Unplug();
}

void CIntruderHands::Take(const IntruderStep& step) {
  if (m_Controller.IsPresent()) {
    m_Controller.Unplug();
  } else {
    m_Controller.PlugIn(step.mode);
    ++m_Arrivals;
  }
}

std::vector<std::string> CheckIntruderWire(const std::vector<sim::SimFrameRecord>& received) {
  std::vector<std::string> broken;
  for (std::size_t i = 0; i < received.size(); ++i) {
    const std::uint16_t code = CodeOf(received[i]);
    if (code != protocol::kCmdQueryAppInfo && code != protocol::kCmdQueryBootType) {
      broken.push_back("the second controller was sent " + Where(i, received[i]));
    }
  }
  return Summed(std::move(broken));
}

std::vector<std::string> CheckPinnedWire(const std::vector<sim::SimFrameRecord>& received) {
  std::vector<std::string> broken;
  std::uint64_t stay = 0;
  int typeQueries = 0;  // in this stay
  bool armed = false;   // identified, asked again by the run, then the region query
  bool erased = false;  // in this stay
  std::uint16_t previous = 0;
  for (std::size_t i = 0; i < received.size(); ++i) {
    const sim::SimFrameRecord& frame = received[i];
    if (frame.stay != stay) {
      stay = frame.stay;
      typeQueries = 0;
      armed = erased = false;
      previous = 0;
    }
    const std::uint16_t code = CodeOf(frame);
    switch (code) {
      case protocol::kCmdQueryBootType:
        ++typeQueries;
        armed = false;
        break;
      case protocol::kCmdQueryRegionStart:
        armed = typeQueries >= 2 && (previous == protocol::kCmdQueryBootType ||
                                     (previous == protocol::kCmdQueryRegionStart && armed));
        break;
      case protocol::kCmdEraseRegion:
        if (!armed && previous != protocol::kCmdEraseRegion) {
          broken.push_back(
              "an erase without the identification and the run's type query before "
              "it: " +
              Where(i, frame));
        }
        erased = true;
        break;
      case protocol::kCmdWriteBlock:
        if (!erased) {
          broken.push_back("a block without an erase in the same stay: " + Where(i, frame));
        }
        break;
      default:
        break;
    }
    previous = code;
  }
  return Summed(std::move(broken));
}

}  // namespace soak
