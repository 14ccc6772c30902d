// What the device sends back, as the tool takes it apart: the link's reads, the reply
// checks and the payload copies of every command, and a whole flashing run whose
// replies all come from the input. The replies never wait: a read with nothing left
// times out at once.
//
// Input: a selector byte, a size byte, a command code byte, then reads of 66 bytes
// each: how the read ends (report, time-out, device gone, failure) and the frame.
#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "firmware/FirmwareHeader.h"
#include "fuzz/FuzzSupport.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"
#include "update/UpdateController.h"

namespace {

using Reads = std::deque<std::pair<hid::ReadOutcome, hid::Frame>>;

class CScriptedHandle : public hid::IHidHandle {
 public:
  explicit CScriptedHandle(std::shared_ptr<Reads> reads) : m_Reads(std::move(reads)) {}

  hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds) override {
    if (m_Reads->empty()) {
      return hid::ReadOutcome::kTimeout;
    }
    const auto [outcome, bytes] = m_Reads->front();
    m_Reads->pop_front();
    if (outcome == hid::ReadOutcome::kReport) {
      frame = bytes;
    }
    return outcome;
  }
  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    fuzzing::Expect(!frame.empty() && frame.size() <= hid::kFrameSize,
                    "every write is a report ID and at most 64 bytes");
    return {};
  }

 private:
  std::shared_ptr<Reads> m_Reads;
};

class CScriptedPlatform : public hid::IHidPlatform {
 public:
  CScriptedPlatform(std::uint16_t productId, std::shared_ptr<Reads> reads)
      : m_ProductId(productId), m_Reads(std::move(reads)) {}

  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override {
    return {{"scripted", hid::kVendorId, m_ProductId}};
  }
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string&, hid::Access) override {
    return std::unique_ptr<hid::IHidHandle>(std::make_unique<CScriptedHandle>(m_Reads));
  }
  bool RegisterForDeviceNotices(hid::NativeWindow) override { return true; }
  void UnregisterDeviceNotices() override {}

 private:
  std::uint16_t m_ProductId;
  std::shared_ptr<Reads> m_Reads;
};

// Mostly reports: they are what is being checked.
constexpr hid::ReadOutcome kOutcomes[8] = {
    hid::ReadOutcome::kReport,     hid::ReadOutcome::kReport, hid::ReadOutcome::kReport,
    hid::ReadOutcome::kReport,     hid::ReadOutcome::kReport, hid::ReadOutcome::kTimeout,
    hid::ReadOutcome::kDeviceGone, hid::ReadOutcome::kFailed};

std::shared_ptr<Reads> ScriptFrom(fuzzing::CFuzzInput& input) {
  auto reads = std::make_shared<Reads>();
  while (!input.Empty()) {
    const hid::ReadOutcome outcome = kOutcomes[input.Byte() % 8];
    hid::Frame frame{};
    const auto bytes = input.Bytes(frame.size());
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    reads->emplace_back(outcome, frame);
  }
  return reads;
}

// A reply buffer of exactly the size a caller asking for `wanted` bytes provides, on
// the heap so that AddressSanitizer sees a copy running past it.
std::vector<std::uint8_t> ReplyBuffer(std::uint32_t wanted) {
  return std::vector<std::uint8_t>(std::max<std::uint32_t>(1, std::min<std::uint32_t>(wanted, 46)));
}

void RunCommand(hid::CHid& link, std::uint8_t selector, std::uint8_t wanted, std::uint8_t code,
                const hid::Frame& data) {
  protocol::CDeviceCommands commands(link, protocol::CommandOptions{std::chrono::milliseconds(0)});
  std::vector<std::uint8_t> reply = ReplyBuffer(wanted);
  std::vector<std::uint8_t> linkRead(std::max<std::uint8_t>(1, std::min<std::uint8_t>(wanted, 64)));
  switch (selector % 9) {
    case 0:
      (void)commands.QueryAppInfo(reply.data(), wanted);
      break;
    case 1:
      (void)commands.QueryBootType(reply.data(), wanted);
      break;
    case 2:
      (void)commands.ExchangeBootCommand(
          {.code = code, .length = wanted % 47u, .size = wanted % 47u, .data = data.data() + 1},
          reply.data(), wanted, 0);
      break;
    case 3:
      (void)commands.EraseRegion(0, wanted);
      break;
    case 4:
      (void)commands.WriteBlock(data.data() + 1, 0, wanted % 47, wanted, 1);
      break;
    case 5:
      (void)commands.CompleteUpdate();
      break;
    case 6:
      (void)link.ReadReport(linkRead.data(), static_cast<std::uint8_t>(linkRead.size()));
      break;
    case 7:
      (void)link.ReadAppReport(linkRead.data(), static_cast<std::uint8_t>(linkRead.size()));
      break;
    default: {
      protocol::ResponseReport record{};
      std::copy(data.begin(), data.end() - 1, record.begin());
      const bool app = protocol::PassesAppCheck(record, code);
      const bool boot = protocol::PassesBootCheck(record, code);
      fuzzing::Expect(!(app && boot), "no record passes both the application and the boot check");
      fuzzing::Expect(protocol::CopyPayload(record, reply.data(), wanted) ==
                          std::min<std::uint32_t>(wanted, 46),
                      "a payload copy is as long as asked, at most 46 bytes");
      break;
    }
  }
}

// A whole run against replies from the input: the region start, the erase, every block
// and the CRC come from the script, so every branch of the run sees any bytes.
void RunWorker(std::shared_ptr<Reads> reads) {
  static const fuzzing::CScratchFile scratch;
  static const firmware::FirmwareHeader header = [] {
    firmware::FirmwareHeader made;
    made.version = 215;
    made.firmwareType = firmware::kTypeCodeKind5;
    made.payloadLength = 300;
    const auto head = firmware::SerializeFirmwareHeader(made);
    std::vector<std::uint8_t> image(head.begin(), head.end());
    for (std::uint32_t i = 0; i < made.payloadLength; ++i) {
      image.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    }
    scratch.Write(image);
    return made;
  }();
  hid::CHid link(std::make_shared<CScriptedPlatform>(hid::kBootProductId, std::move(reads)));
  fuzzing::CAgreeingUi ui(scratch.Path());
  update::CUpdateController controller(link, ui, [] {
    update::ControllerOptions options;
    options.commands.eraseBound = std::chrono::milliseconds(0);
    return options;
  }());
  fuzzing::Expect(link.FindDevice() != 0, "the scripted device is found");
  // The run proper, as after the image was checked and confirmed: it asks the type once
  // more before the erase.
  const update::RunOutcome outcome =
      controller.UpdateWorker({scratch.Path(), header}, firmware::kTypeCodeKind5, {});
  if (outcome.Completed()) {
    fuzzing::Expect(outcome.imageCrc == outcome.deviceCrc,
                    "a completed run saw the device report the image's CRC-16");
    fuzzing::Expect(outcome.regionStart < 300 && outcome.block == outcome.blockCount,
                    "a completed run wrote every block of a region inside the payload");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::CFuzzInput input(data, size);
  const std::uint8_t selector = input.Byte();
  const std::uint8_t wanted = input.Byte();
  const std::uint8_t code = input.Byte();
  if (selector >= 0xF0) {
    RunWorker(ScriptFrom(input));
    return 0;
  }
  hid::Frame commandData{};
  const auto bytes = input.Bytes(commandData.size());
  std::copy(bytes.begin(), bytes.end(), commandData.begin());
  auto reads = ScriptFrom(input);
  const std::uint16_t product = selector % 2 == 0 ? hid::kAppProductId : hid::kBootProductId;
  hid::CHid link(std::make_shared<CScriptedPlatform>(product, std::move(reads)));
  fuzzing::Expect(link.FindDevice() != 0 && link.OpenDevice() != 0,
                  "the scripted device is found and opened");
  RunCommand(link, selector, wanted, code, commandData);
  return 0;
}
