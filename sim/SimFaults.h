// Faults the simulated controller can be told to show. Each fault is one rule: when a
// frame that its trigger selects arrives and the fault applies to that frame, the
// device misbehaves in the fault's way, once or on every such frame. Rules compose
// (several may hit one frame) and are plain data, so a test can build them by hand or
// draw them from a seeded random generator.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace sim {

enum class FaultKind {
  kDropReply,            // the frame is acted upon, but its reply never comes
  kWrongEcho,            // the reply carries echoCode (default: the code sent XOR 1)
  kStrayReports,         // `count` foreign reports reach the host just before the reply
  kRemove,               // the device goes away `delay` after the frame and stays away;
                         // without a delay it goes before acting on the frame
  kCorruptStorage,       // a stored block keeps byte `byteIndex` of it inverted; echo as usual
  kEraseNeverConfirmed,  // the erase happens, its confirmation never comes
  kWrongCrc,             // the CRC-16 answered to 0x00C3 is off by one bit
  kLatencySpike,         // the reply (and strays before it) reach the host `delay` late
};

// Which received frames a fault hits. Every criterion that is set must hold.
struct FaultTrigger {
  // Frames and blocks are counted from 1 over the controller's life, in every mode;
  // block writes are the boot-mode frames with code 0x0002 or 0x0003, good or bad.
  std::uint32_t atFrame = 0;            // the n-th frame received; 0: any
  std::optional<std::uint16_t> atCode;  // frames carrying this command code
  std::uint32_t atBlock = 0;            // the k-th block write; 0: any
  bool always = false;                  // every matching frame, not only the first

  static FaultTrigger AtFrame(std::uint32_t n) { return Set(&FaultTrigger::atFrame, n); }
  static FaultTrigger AtCode(std::uint16_t code) {
    FaultTrigger when;
    when.atCode = code;
    return when;
  }
  static FaultTrigger AtBlock(std::uint32_t k) { return Set(&FaultTrigger::atBlock, k); }
  FaultTrigger Always() const {
    FaultTrigger when = *this;
    when.always = true;
    return when;
  }

 private:
  static FaultTrigger Set(std::uint32_t FaultTrigger::*member, std::uint32_t value) {
    FaultTrigger when;
    when.*member = value;
    return when;
  }
};

// Which frames a fault applies to, beyond its trigger: kDropReply, kWrongEcho,
// kStrayReports and kLatencySpike need a frame the device answers; kCorruptStorage a block it
// stores; kEraseNeverConfirmed an erase it accepts; kWrongCrc a 0x00C3 it answers; kRemove applies
// to any frame. A once-only fault is used up only where it applies.
struct SimFault {
  FaultKind kind = FaultKind::kDropReply;
  FaultTrigger when;
  std::uint32_t count = 1;                // kStrayReports
  std::optional<std::uint16_t> echoCode;  // kWrongEcho, kStrayReports (default 0xFFFF)
  std::uint32_t byteIndex = 0;            // kCorruptStorage, clamped to the block
  std::chrono::microseconds delay{0};     // kRemove, kLatencySpike

  static SimFault DropReply(FaultTrigger when = {}) { return Of(FaultKind::kDropReply, when); }
  static SimFault WrongEcho(FaultTrigger when = {}, std::optional<std::uint16_t> echo = {}) {
    SimFault fault = Of(FaultKind::kWrongEcho, when);
    fault.echoCode = echo;
    return fault;
  }
  static SimFault StrayReports(std::uint32_t count, FaultTrigger when = {},
                               std::optional<std::uint16_t> echo = {}) {
    SimFault fault = Of(FaultKind::kStrayReports, when);
    fault.count = count;
    fault.echoCode = echo;
    return fault;
  }
  static SimFault Remove(FaultTrigger when = {}, std::chrono::microseconds after = {}) {
    SimFault fault = Of(FaultKind::kRemove, when);
    fault.delay = after;
    return fault;
  }
  static SimFault CorruptStorage(FaultTrigger when = {}, std::uint32_t byte = 0) {
    SimFault fault = Of(FaultKind::kCorruptStorage, when);
    fault.byteIndex = byte;
    return fault;
  }
  static SimFault EraseNeverConfirmed(FaultTrigger when = {}) {
    return Of(FaultKind::kEraseNeverConfirmed, when);
  }
  static SimFault WrongCrc(FaultTrigger when = {}) { return Of(FaultKind::kWrongCrc, when); }
  static SimFault LatencySpike(std::chrono::microseconds delay, FaultTrigger when = {}) {
    SimFault fault = Of(FaultKind::kLatencySpike, when);
    fault.delay = delay;
    return fault;
  }

 private:
  static SimFault Of(FaultKind kind, FaultTrigger when) {
    SimFault fault;
    fault.kind = kind;
    fault.when = when;
    return fault;
  }
};

}  // namespace sim
