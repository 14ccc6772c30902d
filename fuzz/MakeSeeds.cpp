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

void Append(Bytes& to, const Bytes& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

void PutLe(Bytes& to, std::uint32_t value, int bytes) {
  std::uint8_t word[4];
  base::StoreU32(word, value);
  to.insert(to.end(), word, word + bytes);
}

bool Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::FILE* file = std::fopen((dir / name).c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

Bytes Payload(std::uint32_t length) {
  Bytes payload;
  for (std::uint32_t i = 0; i < length; ++i) {
    payload.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  }
  return payload;
}

Bytes Image(std::uint32_t type, std::uint32_t payloadLength, std::size_t bodyBytes,
            std::uint16_t beta = 0) {
  firmware::FirmwareHeader header;
  header.version = 215;
  header.beta = beta;
  header.firmwareType = type;
  header.payloadLength = payloadLength;
  const auto head = firmware::SerializeFirmwareHeader(header);
  Bytes image(head.begin(), head.end());
  Append(image, Payload(static_cast<std::uint32_t>(bodyBytes)));
  return image;
}

// Replies as the link hands them over: a boot-mode reply has report ID 0 before its
// record; an application-mode reply is its record, report ID 2 first.
Bytes BootReply(std::uint16_t code, const Bytes& payload = {}) {
  Bytes frame(hid::kFrameSize, 0);
  frame[2] = 5;
  base::StoreU16(&frame[5], code);
  std::copy(payload.begin(), payload.end(), frame.begin() + 19);
  return frame;
}

Bytes AppReply(std::uint16_t code, const Bytes& payload = {}) {
  Bytes frame(hid::kFrameSize, 0);
  frame[0] = 2;
  frame[1] = 4;
  frame[2] = 4;
  base::StoreU16(&frame[4], code);
  std::copy(payload.begin(), payload.end(), frame.begin() + 18);
  return frame;
}

// One scripted read of the replies target: a report, then its frame.
Bytes Read(const Bytes& frame) {
  Bytes read{0};
  Append(read, frame);
  return read;
}

// A host frame as the simulated controller receives it.
Bytes BootFrame(std::uint16_t code, const Bytes& data, std::uint32_t offset, std::uint32_t size,
                bool withCrc) {
  const auto packet =
      protocol::BuildCommandPacket(protocol::kBootPacketType, withCrc,
                                   {.code = code,
                                    .length = static_cast<std::uint32_t>(data.size()),
                                    .size = size,
                                    .offset = offset,
                                    .data = data.empty() ? nullptr : data.data()});
  Bytes frame{0};
  frame.insert(frame.end(), packet.begin(), packet.end());
  return frame;
}

Bytes AppFrame(std::uint16_t code, std::uint32_t length) {
  const auto packet = protocol::BuildCommandPacket(
      protocol::kAppPacketType, false, {.code = code, .length = length, .size = length});
  Bytes frame{0x81};
  frame.insert(frame.end(), packet.begin(), packet.end() - 1);
  return frame;
}

// Frames for the simulated controller's target: a length byte, then the frame.
void AddFrame(Bytes& to, const Bytes& frame) {
  to.push_back(static_cast<std::uint8_t>(frame.size()));
  Append(to, frame);
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
  Bytes frames;
  AddFrame(frames, BootFrame(protocol::kCmdQueryBootType, {}, 0, 2, false));
  AddFrame(frames, BootFrame(protocol::kCmdQueryRegionStart, {}, 0, 0, false));
  AddFrame(frames, BootFrame(protocol::kCmdEraseRegion, {}, 0, length, true));
  for (std::uint32_t at = 0; at < length; at += 46) {
    const Bytes block(region.begin() + at, region.begin() + std::min(length, at + 46));
    AddFrame(frames, BootFrame(protocol::kCmdWriteBlock, block, at, length, true));
  }
  AddFrame(frames, BootFrame(protocol::kCmdFinishWrite, {}, 0, 0, false));
  const auto query =
      protocol::CrcQuery{0, std::min<std::uint32_t>(4096, length), 0, WordSum(region), length}
          .Serialize();
  AddFrame(frames, BootFrame(protocol::kCmdQueryRegionCrc, Bytes(query.begin(), query.end()), 0, 20,
                             false));
  AddFrame(frames, BootFrame(protocol::kCmdCompleteUpdate, {}, 0, 0, false));
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus-root>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  bool ok = true;

  const fs::path images = root / "fuzz_image_file";
  ok &= Save(images, "kind5-release", Image(0x600A, 300, 300));
  ok &= Save(images, "kind6-beta-trailing", Image(0x6011, 100, 160, 3));
  ok &= Save(images, "payload-past-end", Image(0x600A, 5000, 40));
  ok &= Save(images, "empty-payload", Image(0x600A, 0, 0));
  ok &= Save(images, "type-upper-bits", Image(0x1600A, 64, 64));
  Bytes cut = Image(0x600A, 0, 0);
  cut.pop_back();
  ok &= Save(images, "header-cut", cut);

  // The command line's image inspect: the same images, each once for people and once
  // as JSON (the last byte's low bit chooses).
  const fs::path inspected = root / "fuzz_image_inspect";
  ok &= Save(inspected, "kind5-release", Image(0x600A, 300, 300));
  ok &= Save(inspected, "kind6-beta-json", Image(0x6011, 100, 101, 3));
  ok &= Save(inspected, "payload-past-end", Image(0x600A, 5000, 40));
  ok &= Save(inspected, "type-upper-bits", Image(0x1600A, 64, 64));

  const fs::path replies = root / "fuzz_device_replies";
  const Bytes noData(hid::kFrameSize, 0);
  {
    Bytes seed{0, 8, 0};  // QueryAppInfo, 8 bytes
    Append(seed, noData);
    Bytes info;
    PutLe(info, 0x600A, 2);
    PutLe(info, 0, 2);
    PutLe(info, 214, 4);
    Append(seed, Read(AppReply(protocol::kCmdQueryAppInfo, info)));
    ok &= Save(replies, "query-app-info", seed);
  }
  {
    Bytes seed{1, 2, 0};  // QueryBootType, 2 bytes
    Append(seed, noData);
    Append(seed, Read(BootReply(0x00FF)));  // a stray first
    Append(seed, Read(BootReply(protocol::kCmdQueryBootType, {0x11, 0x60})));
    ok &= Save(replies, "query-boot-type", seed);
  }
  {
    Bytes seed{4, 46, 0};  // WriteBlock of 46 bytes: a time-out, then the echo
    Append(seed, noData);
    Bytes timeout{5};
    Append(timeout, noData);
    Append(seed, timeout);
    Append(seed, Read(BootReply(protocol::kCmdWriteBlock)));
    ok &= Save(replies, "write-block", seed);
  }
  {
    Bytes seed{0xF0, 0, 0};  // a whole run over the fuzzer's 300-byte image
    const Bytes region = Payload(300);
    Append(seed, Read(BootReply(protocol::kCmdQueryRegionStart, {0, 0, 0, 0})));
    Append(seed, Read(BootReply(protocol::kCmdEraseRegion)));
    for (int block = 0; block < 7; ++block) {
      Append(seed, Read(BootReply(protocol::kCmdWriteBlock)));
    }
    Append(seed, Read(BootReply(protocol::kCmdFinishWrite)));
    Bytes crc;
    PutLe(crc, protocol::Crc16(region.data(), 300), 2);
    Append(seed, Read(BootReply(protocol::kCmdQueryRegionCrc, crc)));
    Append(seed, Read(BootReply(protocol::kCmdCompleteUpdate)));
    ok &= Save(replies, "whole-run", seed);
  }

  const fs::path descriptors = root / "fuzz_report_descriptor";
  // A gamepad's vendor collection without report IDs, then the same with one.
  const Bytes plain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                       0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                       0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
  ok &= Save(descriptors, "unnumbered", plain);
  Bytes numbered = plain;
  numbered.insert(numbered.begin() + 7, {0x85, 0x81});
  ok &= Save(descriptors, "numbered", numbered);
  ok &= Save(descriptors, "long-item", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x85, 0x02});
  ok &= Save(descriptors, "cut-item", {0x06, 0x00, 0xFF, 0x27, 0xFF});

  const fs::path datagrams = root / "fuzz_emulator_message";
  hid::Frame report{};
  report[1] = 5;
  ok &= Save(datagrams, "attach", hid::emulator::EncodeAttach(hid::kVendorId, hid::kBootProductId));
  ok &= Save(datagrams, "detach", hid::emulator::EncodeDetach());
  ok &= Save(datagrams, "input", hid::emulator::EncodeInputReport(report));
  ok &= Save(datagrams, "output",
             hid::emulator::EncodeOutputReport(std::span<const std::uint8_t>(report.data(), 65)));

  const fs::path frames = root / "fuzz_sim_frames";
  {
    Bytes seed{1};         // boot mode, no faults
    PutLe(seed, 4096, 2);  // flash
    PutLe(seed, 0, 4);     // region start
    Append(seed, FlashingFrames(300));
    ok &= Save(frames, "boot-flashing-run", seed);
  }
  {
    Bytes seed{0};
    PutLe(seed, 4096, 2);
    PutLe(seed, 64, 4);
    AddFrame(seed, AppFrame(protocol::kCmdQueryAppInfo, 8));
    AddFrame(seed, AppFrame(protocol::kCmdEnterBootMode, 0));
    AddFrame(seed, BootFrame(protocol::kCmdQueryBootType, {}, 0, 2, false));
    ok &= Save(frames, "app-to-boot", seed);
  }
  {
    Bytes seed{1 | (2 << 1)};  // boot mode, two faults
    PutLe(seed, 4096, 2);
    PutLe(seed, 0, 4);
    Append(seed, {6, 0x40, 0xC3, 0x00, 0, 0, 0});  // a wrong CRC at 0x00C3
    Append(seed, {4, 0x00, 3, 0, 5});              // corrupt the third block's sixth byte
    Append(seed, FlashingFrames(200));
    ok &= Save(frames, "faulty-flashing-run", seed);
  }

  if (!ok) {
    std::fprintf(stderr, "update_fuzz_seeds: could not write every seed under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
