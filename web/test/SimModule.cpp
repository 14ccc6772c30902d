// The simulated controller compiled for the browser tests: the device behind the
// stand-in for navigator.hid (stand-in.js). The stand-in owns the time: the controller
// answers at once and leaves and comes back at once, and the stand-in delays each
// reply by the test's latency and each return by the re-enumeration time. So the
// controller never needs its timer thread, which a build without threads cannot start.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "sim/SimController.h"

// clang-format off
EM_JS(void, sim_presence_changed, (void* device, int present), {
  Module.onPresence(device, !!present);
});
// clang-format on

namespace {

struct CSimDevice {
  explicit CSimDevice(sim::SimConfig config)
      : controller(std::make_shared<sim::CSimController>(std::move(config))) {
    controller->AddPresenceListener(
        [this](bool present) { sim_presence_changed(this, present ? 1 : 0); });
  }
  std::shared_ptr<sim::CSimController> controller;
  std::map<int, sim::SimConnection> connections;
  int nextConnection = 1;
};

}  // namespace

extern "C" {

// removeAtBlock > 0: the device is pulled out when that block write arrives (counted
// from 1 over the device's life), before it stores it.
EMSCRIPTEN_KEEPALIVE CSimDevice* sim_create(int typeCode, int version, int updatedVersion,
                                            int regionStart, int startInBootMode,
                                            int removeAtBlock) {
  sim::SimConfig config;
  config.typeCode = static_cast<std::uint16_t>(typeCode);
  config.version = static_cast<std::uint16_t>(version);
  config.updatedVersion = static_cast<std::uint16_t>(updatedVersion);
  config.regionStart = static_cast<std::uint32_t>(regionStart);
  config.startInBootMode = startInBootMode != 0;
  config.reenumerateDelay = {};
  if (removeAtBlock > 0) {
    config.faults.push_back(sim::SimFault::Remove(
        sim::FaultTrigger::AtBlock(static_cast<std::uint32_t>(removeAtBlock))));
  }
  return new CSimDevice(std::move(config));
}

EMSCRIPTEN_KEEPALIVE int sim_product_id(CSimDevice* device) {
  return device->controller->IsPresent() ? device->controller->ProductId() : 0;
}

// A new connection (an opened device), or 0 while the device is away.
EMSCRIPTEN_KEEPALIVE int sim_connect(CSimDevice* device) {
  auto connection = device->controller->Connect();
  if (!connection) {
    return 0;
  }
  const int id = device->nextConnection++;
  device->connections.emplace(id, std::move(*connection));
  return id;
}

EMSCRIPTEN_KEEPALIVE void sim_disconnect(CSimDevice* device, int connection) {
  device->connections.erase(connection);
}

EMSCRIPTEN_KEEPALIVE int sim_receive(CSimDevice* device, int connection, const std::uint8_t* frame,
                                     int length) {
  const auto found = device->connections.find(connection);
  return found != device->connections.end() &&
         device->controller->Receive({frame, static_cast<std::size_t>(length)},
                                     found->second.presence);
}

// Takes the connection's next report into frame (65 bytes): 1 when there was one, 2
// when the device has gone, 0 when none is waiting.
EMSCRIPTEN_KEEPALIVE int sim_take_report(CSimDevice* device, int connection, std::uint8_t* frame) {
  const auto found = device->connections.find(connection);
  if (found == device->connections.end()) {
    return 2;
  }
  hid::Frame taken{};
  switch (found->second.queue->Read(taken, std::chrono::milliseconds(0))) {
    case hid::ReadOutcome::kReport:
      std::memcpy(frame, taken.data(), taken.size());
      return 1;
    case hid::ReadOutcome::kDeviceGone:
      return 2;
    default:
      return 0;
  }
}

EMSCRIPTEN_KEEPALIVE void sim_unplug(CSimDevice* device) {
  device->controller->Unplug();
}

EMSCRIPTEN_KEEPALIVE void sim_plug_in(CSimDevice* device, int bootMode) {
  device->controller->PlugIn(bootMode != 0 ? sim::SimMode::kBoot : sim::SimMode::kApplication);
}

EMSCRIPTEN_KEEPALIVE std::uint32_t sim_version_word(CSimDevice* device) {
  return device->controller->VersionWord();
}

// The frames the device received, in order, each as its length (u16 LE) then its bytes,
// into out; returns the bytes used, or how many are needed when capacity is too small.
EMSCRIPTEN_KEEPALIVE int sim_received(CSimDevice* device, std::uint8_t* out, int capacity) {
  const auto frames = device->controller->Received();
  int needed = 0;
  for (const auto& frame : frames) {
    needed += 2 + static_cast<int>(frame.bytes.size());
  }
  if (needed > capacity) {
    return needed;
  }
  for (const auto& frame : frames) {
    const auto size = frame.bytes.size();
    *out++ = static_cast<std::uint8_t>(size & 0xFF);
    *out++ = static_cast<std::uint8_t>(size >> 8);
    out = std::copy(frame.bytes.begin(), frame.bytes.end(), out);
  }
  return needed;
}

// The region of the last erase as stored; same contract as sim_received.
EMSCRIPTEN_KEEPALIVE int sim_stored_region(CSimDevice* device, std::uint8_t* out, int capacity) {
  const auto region = device->controller->StoredRegion();
  if (static_cast<int>(region.size()) <= capacity) {
    std::copy(region.begin(), region.end(), out);
  }
  return static_cast<int>(region.size());
}

}  // extern "C"
