// The datagrams of the emulator link, from either side of the socket: whatever the
// other end sends is decoded or refused, and what is decoded encodes back to the
// same bytes. The input is one datagram.
#include <algorithm>

#include "fuzz/FuzzSupport.h"
#include "hid/emulator/EmulatorMessage.h"

namespace emulator = hid::emulator;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);

  if (const auto message = emulator::DecodeEmulatorMessage(datagram)) {
    std::vector<std::uint8_t> again;
    switch (message->kind) {
      case emulator::MessageKind::kAttach:
        again = emulator::EncodeAttach(message->vendorId, message->productId);
        break;
      case emulator::MessageKind::kDetach:
        again = emulator::EncodeDetach();
        break;
      case emulator::MessageKind::kInputReport:
        again = emulator::EncodeInputReport(message->report);
        break;
    }
    fuzzing::Expect(std::equal(again.begin(), again.end(), datagram.begin(), datagram.end()),
                    "a decoded message encodes back to its datagram");
  } else {
    fuzzing::Expect(message.error().kind == base::ErrorKind::kInvalidData,
                    "a refused datagram is invalid data");
  }

  if (const auto report = emulator::DecodeOutputReport(datagram)) {
    fuzzing::Expect(!report->empty() && report->size() <= emulator::kMaxOutputSize,
                    "an output report holds 1 to 65 bytes");
    const auto again = emulator::EncodeOutputReport(report.value());
    fuzzing::Expect(std::equal(again.begin(), again.end(), datagram.begin(), datagram.end()),
                    "a decoded output report encodes back to its datagram");
  }
  return 0;
}
