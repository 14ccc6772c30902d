// The host's own work for one block, piece by piece: the CRC-16, building the packet,
// handing it to the link, reading the block from the image file, and a whole block
// command against a device that echoes at once, with no device model and no thread.
#include <benchmark/benchmark.h>

#include <array>
#include <optional>
#include <vector>

#include "bench/BenchRig.h"
#include "firmware/ImageFile.h"
#include "protocol/CommandPacket.h"
#include "protocol/Crc16.h"
#include "protocol/DeviceCommands.h"

namespace bench {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  return bytes;
}

// A boot-mode controller reduced to its echo: every frame written is answered at once
// with the echo of its code, read back by the next read. Used from one thread only.
class CEchoPlatform final : public hid::IHidPlatform {
 public:
  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override {
    return {{"echo:0", hid::kVendorId, hid::kBootProductId}};
  }
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& /*path*/,
                                                      hid::Access /*access*/) override {
    return std::unique_ptr<hid::IHidHandle>(std::make_unique<CHandle>(m_Pending));
  }
  bool RegisterForDeviceNotices(hid::NativeWindow /*window*/) override { return true; }
  void UnregisterDeviceNotices() override {}

 private:
  class CHandle final : public hid::IHidHandle {
   public:
    explicit CHandle(std::optional<hid::Frame>& pending) : m_Pending(pending) {}
    hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds /*timeout*/) override {
      if (!m_Pending) {
        return hid::ReadOutcome::kTimeout;
      }
      frame = *m_Pending;
      m_Pending.reset();
      return hid::ReadOutcome::kReport;
    }
    base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
      // Boot reply: report ID 0, then 00 05 00 00 and the code the frame carried.
      hid::Frame echo{};
      echo[2] = 5;
      echo[5] = frame[2];
      echo[6] = frame[3];
      m_Pending = echo;
      return {};
    }

   private:
    std::optional<hid::Frame>& m_Pending;
  };

  std::optional<hid::Frame> m_Pending;
};

void Crc16(benchmark::State& state) {
  const auto data = Pattern(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(protocol::Crc16(data.data(), static_cast<int>(data.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Crc16)->Arg(46)->Arg(4096);

void BuildBlockPacket(benchmark::State& state) {
  const auto block = Pattern(protocol::kMaxDataLength);
  std::uint32_t offset = 0;
  for (auto _ : state) {
    const protocol::CommandPacket packet =
        protocol::BuildCommandPacket(protocol::kBootPacketType, true,
                                     {.code = protocol::kCmdWriteBlock,
                                      .length = protocol::kMaxDataLength,
                                      .size = 65536,
                                      .offset = offset,
                                      .data = block.data()});
    benchmark::DoNotOptimize(packet);
    offset += protocol::kMaxDataLength;
  }
}
BENCHMARK(BuildBlockPacket);

// Building the packet and writing it through the link, as WriteBlock sends it.
void SendBlockPacket(benchmark::State& state) {
  hid::CHid link(std::make_shared<CEchoPlatform>());
  if (link.FindDevice() == 0 || link.OpenDevice() == 0) {
    state.SkipWithError("the echo device did not open");
    return;
  }
  const auto block = Pattern(protocol::kMaxDataLength);
  std::uint32_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(protocol::SendFullBootPacket(link, {.code = protocol::kCmdWriteBlock,
                                                                 .length = 46,
                                                                 .size = 65536,
                                                                 .offset = offset,
                                                                 .data = block.data()}));
    offset += 46;
  }
}
BENCHMARK(SendBlockPacket);

// The two reads of the image file each block costs: the block, then the look-ahead.
void ReadBlockTwice(benchmark::State& state) {
  const CBenchImage image(64 * 1024);
  firmware::CImageFile file;
  if (!file.Open(image.Path())) {
    state.SkipWithError("the image did not open");
    return;
  }
  std::array<std::uint8_t, 46> chunk{};
  std::uint64_t offset = firmware::kHeaderSize;
  const std::uint64_t end = firmware::kHeaderSize + image.PayloadBytes() - 2 * chunk.size();
  for (auto _ : state) {
    benchmark::DoNotOptimize(file.ReadAt(offset, chunk.data(), chunk.size()));
    benchmark::DoNotOptimize(file.ReadAt(offset + chunk.size(), chunk.data(), chunk.size()));
    offset = offset + chunk.size() < end ? offset + chunk.size() : firmware::kHeaderSize;
  }
}
BENCHMARK(ReadBlockTwice);

// One block command, send and echo, with nothing but the tool's own code in the path.
void WriteBlockEcho(benchmark::State& state) {
  hid::CHid link(std::make_shared<CEchoPlatform>());
  if (link.FindDevice() == 0 || link.OpenDevice() == 0) {
    state.SkipWithError("the echo device did not open");
    return;
  }
  protocol::CDeviceCommands commands(link);
  const auto block = Pattern(protocol::kMaxDataLength);
  std::uint32_t offset = 0;
  for (auto _ : state) {
    if (commands.WriteBlock(block.data(), offset, 46, 65536, 1) == 0) {
      state.SkipWithError("the echo was not accepted");
      break;
    }
    offset += 46;
  }
}
BENCHMARK(WriteBlockEcho);

}  // namespace
}  // namespace bench
