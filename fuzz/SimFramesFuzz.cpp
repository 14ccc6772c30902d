// The simulated controller's side of the wire: any frame the host might write, in
// either mode, with any of its faults armed. The device must take every frame without
// a fault of its own, keep its flash the size it was built with, and send only replies
// in its mode's form.
//
// Input: a flags byte (start in boot mode, how many faults), the flash size and region
// start, the faults, then frames, each a length byte and that many bytes.
#include <algorithm>

#include "fuzz/FuzzSupport.h"
#include "sim/SimController.h"

namespace {

sim::SimFault FaultFrom(fuzzing::CFuzzInput& input) {
  sim::SimFault fault;
  fault.kind = static_cast<sim::FaultKind>(input.Byte() % 8);
  const std::uint8_t trigger = input.Byte();
  fault.when.atFrame = trigger & 0x1F;
  fault.when.always = (trigger & 0x20) != 0;
  if ((trigger & 0x40) != 0) {
    fault.when.atCode = input.U16();
  }
  fault.when.atBlock = input.Byte() % 8;
  fault.count = input.Byte() % 4;
  fault.byteIndex = input.Byte();
  if ((trigger & 0x80) != 0) {
    fault.echoCode = input.U16();
  }
  // No delays (removal, latency spike): they would run on the controller's timer,
  // after this input.
  return fault;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::CFuzzInput input(data, size);
  const std::uint8_t flags = input.Byte();
  sim::SimConfig config;
  config.startInBootMode = (flags & 1) != 0;
  config.flashSize = 1 + input.U16() % 8192;
  config.regionStart = input.U32();
  config.reenumerateDelay = {};  // leave and come back within the frame that asks for it
  for (int i = 0; i < (flags >> 1) % 4; ++i) {
    config.faults.push_back(FaultFrom(input));
  }
  const std::size_t flashSize = config.flashSize;

  sim::CSimController device(config);
  std::optional<sim::SimConnection> connection = device.Connect();
  while (!input.Empty()) {
    const auto frame = input.Bytes(input.Byte() % 72);
    if (!connection || !device.Receive(frame, connection->presence)) {
      // Gone, or back since: a host opens the device again, after a tester plugs it in.
      if (!device.IsPresent()) {
        device.PlugIn();
      }
      connection = device.Connect();
      continue;
    }
    hid::Frame reply{};
    while (connection->queue->Read(reply, std::chrono::milliseconds(0)) ==
           hid::ReadOutcome::kReport) {
      fuzzing::Expect(reply[0] <= 2, "replies carry report ID 0, 1 or 2");
    }
  }
  fuzzing::Expect(device.Storage().size() == flashSize, "the flash keeps its size");
  const auto region = device.StoredRegion();
  fuzzing::Expect(region.size() <= flashSize, "the stored region lies in the flash");
  return 0;
}
