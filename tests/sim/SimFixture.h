// A simulated controller behind the real link and command layer, as the tool uses them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/LittleEndian.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"

namespace sim_test {

using Bytes = std::vector<std::uint8_t>;
using testing_support::Pattern;
using namespace std::chrono_literals;

// "05 08 00" -> {0x05, 0x08, 0x00}, then zeros up to `size` when given.
inline Bytes Hex(std::string_view text, std::size_t size = 0) {
  Bytes bytes;
  std::istringstream in{std::string(text)};
  unsigned value = 0;
  while (in >> std::hex >> value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  bytes.resize(std::max(size, bytes.size()), 0);
  return bytes;
}

inline std::uint32_t WordSum(const Bytes& region) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= region.size(); i += 4) {
    sum += base::LoadU32(&region[i]);
  }
  return sum;
}

struct SimFixture : ::testing::Test {
  std::shared_ptr<sim::CSimController> device;
  std::shared_ptr<sim::CSimPlatform> platform;
  std::unique_ptr<hid::CHid> link;
  std::unique_ptr<protocol::CDeviceCommands> commands;

  // A device built from config, found and opened; reads then wait readTimeoutMs: none
  // by default, which suits a device without latency, whose replies are queued as soon
  // as a frame arrives; hid::kOpenTimeoutMs for the link's real time-out.
  void Start(sim::SimConfig config, std::uint32_t readTimeoutMs = 0,
             protocol::CommandOptions options = {}) {
    device = std::make_shared<sim::CSimController>(std::move(config));
    platform = std::make_shared<sim::CSimPlatform>(device);
    link = std::make_unique<hid::CHid>(platform);
    commands = std::make_unique<protocol::CDeviceCommands>(*link, options);
    Reopen(readTimeoutMs);
  }

  // Finds the device again and opens it, as identification does after a restart.
  void Reopen(std::uint32_t readTimeoutMs = 0) {
    ASSERT_EQ(link->FindDevice(), 1);
    ASSERT_EQ(link->OpenDevice(), 1);
    link->SetTimeout(readTimeoutMs);
  }

  // Waits (5 s at most) until `count` notices have come; returns those that came.
  std::vector<std::uint32_t> WaitForNotices(std::size_t count) {
    std::vector<std::uint32_t> codes;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (codes.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms || !platform->Notices().WaitFor(left)) {
        break;
      }
      const std::vector<std::uint32_t> more = platform->TakeNotices();
      codes.insert(codes.end(), more.begin(), more.end());
    }
    return codes;
  }

  std::vector<std::uint16_t> ReceivedCodes() const {
    std::vector<std::uint16_t> codes;
    for (const sim::SimFrameRecord& frame : device->Received()) {
      codes.push_back(base::LoadU16(&frame.bytes.at(2)));
    }
    return codes;
  }

  // Erases `size` bytes and writes region in 46-byte blocks; false at the first failure.
  bool EraseAndWrite(const Bytes& region) {
    const auto size = static_cast<std::uint32_t>(region.size());
    if (commands->EraseRegion(0, size) == 0) {
      return false;
    }
    for (std::uint32_t offset = 0; offset < size; offset += 46) {
      const std::uint32_t length = std::min<std::uint32_t>(46, size - offset);
      if (commands->WriteBlock(region.data() + offset, offset, length, size, 1) == 0) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace sim_test
