// A simulated controller behind the real link and command layer, as the tool uses them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string_view>
#include <vector>

#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "sim/SimPlatform.h"

namespace sim_test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// "05 08 00" -> {0x05, 0x08, 0x00}, then zeros up to `size` when given.
Bytes Hex(std::string_view text, std::size_t size = 0);

// A region's worth of bytes that differ from block to block.
Bytes Pattern(std::size_t size);

std::uint32_t WordSum(const Bytes& region);
std::uint16_t Code(const sim::SimFrameRecord& frame);  // of a frame the device received

struct SimFixture : ::testing::Test {
  std::shared_ptr<sim::CSimController> device;
  std::shared_ptr<sim::CSimPlatform> platform;
  std::unique_ptr<hid::CHid> link;
  std::unique_ptr<protocol::CDeviceCommands> commands;

  // A device built from config, found and opened; reads then wait readTimeoutMs: none
  // by default, which suits a device without latency, whose replies are queued as soon
  // as a frame arrives; hid::kOpenTimeoutMs for the link's real time-out.
  void Start(sim::SimConfig config, std::uint32_t readTimeoutMs = 0,
             protocol::CommandOptions options = {});
  // Finds the device again and opens it, as identification does after a restart.
  void Reopen(std::uint32_t readTimeoutMs = 0);
  // Waits (5 s at most) until `count` notices have come; returns those that came.
  std::vector<std::uint32_t> WaitForNotices(std::size_t count);
  std::vector<std::uint16_t> ReceivedCodes() const;
  // Erases `size` bytes and writes region in 46-byte blocks; false at the first failure.
  bool EraseAndWrite(const Bytes& region);
};

}  // namespace sim_test
