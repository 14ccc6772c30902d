// Writes the seed corpus of every fuzz target from the formats' own encoders, so that
// each target starts from inputs that reach deep: whole images, a complete exchange of
// replies, a whole flashing conversation with the simulated controller, every datagram.
//
//   update_fuzz_seeds <corpus-root>      writes <corpus-root>/<target>/<seed>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/LittleEndian.h"
#include "firmware/FirmwareHeader.h"
#include "hid/emulator/EmulatorMessage.h"
#include "protocol/CommandPacket.h"
#include "protocol/Crc16.h"
#include "protocol/DeviceCommands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes operator+(Bytes first, const Bytes& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

Bytes Le(std::uint32_t value, int bytes) {
  Bytes le(4);
  base::StoreU32(le.data(), value);
  le.resize(static_cast<std::size_t>(bytes));
  return le;
}

Bytes Payload(std::uint32_t length) {
  Bytes payload;
  for (std::uint32_t i = 0; i < length; ++i) {
    payload.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  }
  return payload;
}

Bytes Image(std::uint32_t type, std::uint32_t payloadLength, std::uint32_t bodyBytes,
            std::uint16_t beta = 0) {
  firmware::FirmwareHeader header;
  header.version = 215;
  header.beta = beta;
  header.firmwareType = type;
  header.payloadLength = payloadLength;
  const auto head = firmware::SerializeFirmwareHeader(header);
  return Bytes(head.begin(), head.end()) + Payload(bodyBytes);
}

// One scripted read of the replies target, a report as the link hands it over: a
// boot-mode reply has report ID 0 before its record; an application-mode reply is its
// record, report ID 2 first.
Bytes BootRead(std::uint16_t code, const Bytes& payload = {}) {
  Bytes read(1 + hid::kFrameSize, 0);
  read[3] = 5;
  base::StoreU16(&read[6], code);
  std::copy(payload.begin(), payload.end(), read.begin() + 20);
  return read;
}

Bytes AppRead(std::uint16_t code, const Bytes& payload) {
  Bytes read(1 + hid::kFrameSize, 0);
  read[1] = 2;
  read[2] = 4;
  read[3] = 4;
  base::StoreU16(&read[5], code);
  std::copy(payload.begin(), payload.end(), read.begin() + 19);
  return read;
}

// One host frame of the simulated controller's target: a length byte, then the frame.
Bytes Framed(std::uint8_t reportId, const protocol::CommandPacket& packet, std::size_t size) {
  return Bytes{static_cast<std::uint8_t>(size), reportId} +
         Bytes(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(size - 1));
}

Bytes BootFrame(std::uint16_t code, const Bytes& data, std::uint32_t offset, std::uint32_t size,
                bool withCrc) {
  return Framed(0,
                protocol::BuildCommandPacket(protocol::kBootPacketType, withCrc,
                                             {.code = code,
                                              .length = static_cast<std::uint32_t>(data.size()),
                                              .size = size,
                                              .offset = offset,
                                              .data = data.empty() ? nullptr : data.data()}),
                hid::kFrameSize);
}

Bytes AppFrame(std::uint16_t code, std::uint32_t length) {
  return Framed(0x81,
                protocol::BuildCommandPacket(protocol::kAppPacketType, false,
                                             {.code = code, .length = length, .size = length}),
                hid::kFrameSize - 1);
}

std::uint32_t WordSum(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    sum += base::LoadU32(&bytes[i]);
  }
  return sum;
}

// The whole conversation of a run with a region of `length` bytes of Payload().
Bytes FlashingFrames(std::uint32_t length) {
  const Bytes region = Payload(length);
  Bytes frames = BootFrame(protocol::kCmdQueryBootType, {}, 0, 2, false) +
                 BootFrame(protocol::kCmdQueryRegionStart, {}, 0, 0, false) +
                 BootFrame(protocol::kCmdEraseRegion, {}, 0, length, true);
  for (std::uint32_t at = 0; at < length; at += 46) {
    const Bytes block(region.begin() + at, region.begin() + std::min(length, at + 46));
    frames = frames + BootFrame(protocol::kCmdWriteBlock, block, at, length, true);
  }
  const auto query =
      protocol::CrcQuery{0, std::min<std::uint32_t>(4096, length), 0, WordSum(region), length}
          .Serialize();
  return frames + BootFrame(protocol::kCmdFinishWrite, {}, 0, 0, false) +
         BootFrame(protocol::kCmdQueryRegionCrc, Bytes(query.begin(), query.end()), 0, 20, false) +
         BootFrame(protocol::kCmdCompleteUpdate, {}, 0, 0, false);
}

// A whole run over the replies target's 300-byte image: the type asked once more, then
// the region, the erase, the blocks and the check.
Bytes WholeRun() {
  Bytes reads = BootRead(protocol::kCmdQueryBootType, {0x0A, 0x60}) +
                BootRead(protocol::kCmdQueryRegionStart, {0, 0, 0, 0}) +
                BootRead(protocol::kCmdEraseRegion);
  for (int block = 0; block < 7; ++block) {
    reads = reads + BootRead(protocol::kCmdWriteBlock);
  }
  const Bytes crc = Le(protocol::Crc16(Payload(300).data(), 300), 2);
  return reads + BootRead(protocol::kCmdFinishWrite) + BootRead(protocol::kCmdQueryRegionCrc, crc) +
         BootRead(protocol::kCmdCompleteUpdate);
}

struct Seed {
  const char* target;
  const char* name;
  Bytes bytes;
};

std::vector<Seed> Seeds() {
  const Bytes noData(hid::kFrameSize, 0);
  Bytes headerCut = Image(0x600A, 0, 0);
  headerCut.pop_back();
  // A gamepad's vendor collection without report IDs, then the same with one.
  const Bytes plain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                       0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                       0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
  Bytes numbered = plain;
  numbered.insert(numbered.begin() + 7, {0x85, 0x81});
  hid::Frame report{};
  report[1] = 5;
  namespace emulator = hid::emulator;
  return {
      {"fuzz_image_file", "kind5-release", Image(0x600A, 300, 300)},
      {"fuzz_image_file", "kind6-beta-trailing", Image(0x6011, 100, 160, 3)},
      {"fuzz_image_file", "payload-past-end", Image(0x600A, 5000, 40)},
      {"fuzz_image_file", "empty-payload", Image(0x600A, 0, 0)},
      {"fuzz_image_file", "type-upper-bits", Image(0x1600A, 64, 64)},
      {"fuzz_image_file", "header-cut", headerCut},
      // The command line's image inspect: the last byte's low bit chooses JSON.
      {"fuzz_image_inspect", "kind5-release", Image(0x600A, 300, 300)},
      {"fuzz_image_inspect", "kind6-beta-json", Image(0x6011, 100, 101, 3)},
      {"fuzz_image_inspect", "payload-past-end", Image(0x600A, 5000, 40)},
      {"fuzz_image_inspect", "type-upper-bits", Image(0x1600A, 64, 64)},
      // Selector, size and code bytes, the command's data, then the reads.
      {"fuzz_device_replies", "query-app-info",
       Bytes{0, 8, 0} + noData + AppRead(protocol::kCmdQueryAppInfo, Le(0x600A, 4) + Le(214, 4))},
      {"fuzz_device_replies", "query-boot-type",
       Bytes{1, 2, 0} + noData + BootRead(0x00FF) +  // a stray first
           BootRead(protocol::kCmdQueryBootType, {0x11, 0x60})},
      {"fuzz_device_replies", "write-block",  // a time-out, then the echo
       Bytes{4, 46, 0} + noData + (Bytes{5} + noData) + BootRead(protocol::kCmdWriteBlock)},
      {"fuzz_device_replies", "whole-run", Bytes{0xF0, 0, 0} + WholeRun()},
      {"fuzz_report_descriptor", "unnumbered", plain},
      {"fuzz_report_descriptor", "numbered", numbered},
      {"fuzz_report_descriptor", "long-item", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x85, 0x02}},
      {"fuzz_report_descriptor", "cut-item", {0x06, 0x00, 0xFF, 0x27, 0xFF}},
      {"fuzz_emulator_message", "attach",
       emulator::EncodeAttach(hid::kVendorId, hid::kBootProductId)},
      {"fuzz_emulator_message", "detach", emulator::EncodeDetach()},
      {"fuzz_emulator_message", "input", emulator::EncodeInputReport(report)},
      {"fuzz_emulator_message", "output",
       emulator::EncodeOutputReport(std::span<const std::uint8_t>(report.data(), 65))},
      // Flags (boot mode, fault count), flash size, region start, the faults, the frames.
      {"fuzz_sim_frames", "boot-flashing-run",
       Bytes{1} + Le(4096, 2) + Le(0, 4) + FlashingFrames(300)},
      {"fuzz_sim_frames", "app-to-boot",
       Bytes{0} + Le(4096, 2) + Le(64, 4) + AppFrame(protocol::kCmdQueryAppInfo, 8) +
           AppFrame(protocol::kCmdEnterBootMode, 0) +
           BootFrame(protocol::kCmdQueryBootType, {}, 0, 2, false)},
      {"fuzz_sim_frames", "faulty-flashing-run",
       Bytes{1 | (2 << 1)} + Le(4096, 2) + Le(0, 4) +
           Bytes{6, 0x40, 0xC3, 0x00, 0, 0, 0} +  // a wrong CRC at 0x00C3
           Bytes{4, 0x00, 3, 0, 5} +              // corrupt the third block's sixth byte
           FlashingFrames(200)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus-root>\n", argv[0]);
    return 2;
  }
  for (const Seed& seed : Seeds()) {
    const fs::path dir = fs::path(argv[1]) / seed.target;
    fs::create_directories(dir);
    std::FILE* file = std::fopen((dir / seed.name).c_str(), "wb");
    const bool written = file != nullptr &&
                         (seed.bytes.empty() || std::fwrite(seed.bytes.data(), 1, seed.bytes.size(),
                                                            file) == seed.bytes.size());
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      std::fprintf(stderr, "update_fuzz_seeds: could not write %s\n", (dir / seed.name).c_str());
      return 1;
    }
  }
  return 0;
}
