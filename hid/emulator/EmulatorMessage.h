// The datagrams of the emulator link. An external device emulator listens on a
// Unix-domain SOCK_SEQPACKET socket; each datagram is one message, byte 0 its kind:
//
//   'A' vendor ID (u16 LE), product ID (u16 LE)   emulator to program: a device is attached
//   'D'                                            emulator to program: the device is gone
//   'I' report ID, 64 data bytes                   emulator to program: one input report
//   'O' the bytes the program wrote (1..65)        program to emulator: one output report
//
// Both ends encode and decode here. The decoders are pure functions of the bytes, so
// that they can be driven with arbitrary input; anything that does not fit the table
// is an error of kind kInvalidData, never a crash.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/Error.h"
#include "hid/HidTypes.h"

namespace hid::emulator {

inline constexpr std::uint8_t kKindAttach = 'A';
inline constexpr std::uint8_t kKindDetach = 'D';
inline constexpr std::uint8_t kKindInput = 'I';
inline constexpr std::uint8_t kKindOutput = 'O';

inline constexpr std::size_t kAttachSize = 5;                // kind, two u16
inline constexpr std::size_t kDetachSize = 1;                // kind only
inline constexpr std::size_t kInputSize = 1 + kFrameSize;    // kind, 65-byte frame
inline constexpr std::size_t kMaxOutputSize = kFrameSize;    // bytes after the kind
inline constexpr std::size_t kMaxDatagramSize = kInputSize;  // the largest valid datagram

enum class MessageKind { kAttach, kDetach, kInputReport };

// One message from the emulator.
struct EmulatorMessage {
  MessageKind kind = MessageKind::kDetach;
  std::uint16_t vendorId = 0;   // kAttach only
  std::uint16_t productId = 0;  // kAttach only
  Frame report{};               // kInputReport only: report ID, then 64 data bytes

  bool operator==(const EmulatorMessage&) const = default;
};

// Decodes a datagram the program received. Output reports ('O') never travel this way
// and are rejected like unknown kinds.
base::Result<EmulatorMessage> DecodeEmulatorMessage(std::span<const std::uint8_t> datagram);

// Decodes a datagram the emulator received: the output report's bytes (a view into
// datagram, report ID first), or why it is not one.
base::Result<std::span<const std::uint8_t>> DecodeOutputReport(
    std::span<const std::uint8_t> datagram);

std::vector<std::uint8_t> EncodeAttach(std::uint16_t vendorId, std::uint16_t productId);
std::vector<std::uint8_t> EncodeDetach();
std::vector<std::uint8_t> EncodeInputReport(const Frame& report);
// Callers pass 1..65 bytes; the encoding itself does not check.
std::vector<std::uint8_t> EncodeOutputReport(std::span<const std::uint8_t> report);

}  // namespace hid::emulator
