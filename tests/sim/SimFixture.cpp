#include "tests/sim/SimFixture.h"

#include <algorithm>
#include <sstream>

#include "base/LittleEndian.h"

namespace sim_test {

Bytes Hex(std::string_view text, std::size_t size) {
  Bytes bytes;
  std::istringstream in{std::string(text)};
  unsigned value = 0;
  while (in >> std::hex >> value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  if (bytes.size() < size) {
    bytes.resize(size, 0);
  }
  return bytes;
}

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 251) ^ 0x5C);
  }
  return bytes;
}

std::uint32_t WordSum(const Bytes& region) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= region.size(); i += 4) {
    sum += base::LoadU32(&region[i]);
  }
  return sum;
}

std::uint16_t Code(const sim::SimFrameRecord& frame) {
  return base::LoadU16(&frame.bytes.at(2));
}

void SimFixture::Start(sim::SimConfig config, std::uint32_t readTimeoutMs,
                       protocol::CommandOptions options) {
  device = std::make_shared<sim::CSimController>(std::move(config));
  platform = std::make_shared<sim::CSimPlatform>(device);
  link = std::make_unique<hid::CHid>(platform);
  commands = std::make_unique<protocol::CDeviceCommands>(*link, options);
  Reopen(readTimeoutMs);
}

void SimFixture::Reopen(std::uint32_t readTimeoutMs) {
  ASSERT_EQ(link->FindDevice(), 1);
  ASSERT_EQ(link->OpenDevice(), 1);
  link->SetTimeout(readTimeoutMs);
}

std::vector<std::uint32_t> SimFixture::WaitForNotices(std::size_t count) {
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

std::vector<std::uint16_t> SimFixture::ReceivedCodes() const {
  std::vector<std::uint16_t> codes;
  for (const sim::SimFrameRecord& frame : device->Received()) {
    codes.push_back(Code(frame));
  }
  return codes;
}

bool SimFixture::EraseAndWrite(const Bytes& region) {
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

}  // namespace sim_test
