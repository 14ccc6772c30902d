// update-cli run in-process, against simulated controllers the test builds and keeps,
// with its output captured and its questions answered from a string.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Wake.h"
#include "cli/Session.h"
#include "hid/ForwardingPlatform.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/TempDir.h"

namespace cli_test {

using Bytes = std::vector<std::uint8_t>;

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Command codes of the frames a simulated controller received, in order.
std::vector<std::uint16_t> ReceivedCodes(const sim::CSimController& device);

// An image file: header with type and version, then `payload`.
std::string WriteImage(const testing_support::CTempDir& dir, const std::string& name,
                       const Bytes& payload, std::uint32_t type = 0x600A,
                       std::uint16_t version = 215);
using testing_support::Pattern;

// The payload of most flashing tests: kBlocks blocks, the last one short.
inline constexpr std::size_t kBlocks = 20;
inline const Bytes kPayload = Pattern(46 * (kBlocks - 1) + 30);

// The codes a controller updated on its own road receives for kPayload, as a click
// through the window sends them: identify, the button, the boot-mode identification,
// the run, and identification after the restart.
std::vector<std::uint16_t> RoadCodes(bool startInBootMode);

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Passes everything to the platform it wraps and tells onWrite of each frame written
// (from the thread that writes it), for tests that act at a point of the road.
class CWriteWatch final : public hid::CForwardingPlatform {
 public:
  using OnWrite = std::function<void(const std::string& path, std::span<const std::uint8_t>)>;
  CWriteWatch(std::shared_ptr<hid::IHidPlatform> inner, OnWrite onWrite)
      : CForwardingPlatform(std::move(inner)), m_OnWrite(std::move(onWrite)) {}

  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;

 private:
  const OnWrite m_OnWrite;
};

// True for a boot-mode block write (command 0x0003).
bool IsBlockWrite(std::span<const std::uint8_t> frame);

class CCliHarness {
 public:
  // The controllers on the simulated bus, in enumeration order (paths sim:0, sim:1...).
  std::vector<std::shared_ptr<sim::CSimController>> devices;
  // Stands in for the platform entirely when set (a scripted one, a permission error).
  std::function<std::shared_ptr<hid::IHidPlatform>()> platform;
  // Wraps whatever platform the command line gets, for tests that watch the wire.
  std::function<std::shared_ptr<hid::IHidPlatform>(std::shared_ptr<hid::IHidPlatform>)> wrap;
  // Use the command line's own platform choice (--simulate, --emulator) instead; wrap
  // still sees it.
  bool ownPlatforms = false;
  std::string input;  // what the user types
  std::map<std::string, std::string> environment;
  cli::Waits waits{std::chrono::seconds(10), std::chrono::seconds(10)};
  base::CWakeFd interrupt;  // Ctrl-C

  // Adds a controller with this configuration.
  sim::CSimController& AddDevice(sim::SimConfig config = {});
  CliRun Run(std::vector<std::string> arguments);
};

}  // namespace cli_test
