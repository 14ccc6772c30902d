#include "hid/emulator/EmulatorMessage.h"

#include <algorithm>
#include <string>

#include "base/LittleEndian.h"

namespace hid::emulator {
namespace {

base::Error Invalid(std::string what) {
  return base::Error{base::ErrorKind::kInvalidData, std::move(what)};
}

base::Error WrongLength(std::uint8_t kind, std::size_t got, const char* expected) {
  std::string what = "'";
  what += static_cast<char>(kind);
  what += "' datagram of " + std::to_string(got) + " bytes, expected " + expected;
  return Invalid(std::move(what));
}

// The kind byte, then the report: sized once, so that every report sent or received
// through the socket costs one allocation.
std::vector<std::uint8_t> WithKind(std::uint8_t kind, std::span<const std::uint8_t> report) {
  std::vector<std::uint8_t> datagram(1 + report.size());
  datagram[0] = kind;
  std::copy(report.begin(), report.end(), datagram.begin() + 1);
  return datagram;
}

std::string KindText(std::uint8_t kind) {
  static constexpr char kHex[] = "0123456789abcdef";
  return std::string("0x") + kHex[kind >> 4] + kHex[kind & 0x0F];
}

}  // namespace

base::Result<EmulatorMessage> DecodeEmulatorMessage(std::span<const std::uint8_t> datagram) {
  if (datagram.empty()) {
    return Invalid("empty datagram");
  }
  const std::uint8_t kind = datagram[0];
  EmulatorMessage message;
  switch (kind) {
    case kKindAttach:
      if (datagram.size() != kAttachSize) {
        return WrongLength(kind, datagram.size(), "5");
      }
      message.kind = MessageKind::kAttach;
      message.vendorId = base::LoadU16(&datagram[1]);
      message.productId = base::LoadU16(&datagram[3]);
      return message;
    case kKindDetach:
      if (datagram.size() != kDetachSize) {
        return WrongLength(kind, datagram.size(), "1");
      }
      message.kind = MessageKind::kDetach;
      return message;
    case kKindInput:
      if (datagram.size() != kInputSize) {
        return WrongLength(kind, datagram.size(), "66");
      }
      message.kind = MessageKind::kInputReport;
      std::copy(datagram.begin() + 1, datagram.end(), message.report.begin());
      return message;
    default:
      return Invalid("datagram of unknown kind " + KindText(kind));
  }
}

base::Result<std::span<const std::uint8_t>> DecodeOutputReport(
    std::span<const std::uint8_t> datagram) {
  if (datagram.empty()) {
    return Invalid("empty datagram");
  }
  if (datagram[0] != kKindOutput) {
    return Invalid("datagram of unknown kind " + KindText(datagram[0]));
  }
  if (datagram.size() < 2 || datagram.size() > 1 + kMaxOutputSize) {
    return WrongLength(kKindOutput, datagram.size(), "2 to 66");
  }
  return datagram.subspan(1);
}

std::vector<std::uint8_t> EncodeAttach(std::uint16_t vendorId, std::uint16_t productId) {
  std::vector<std::uint8_t> datagram(kAttachSize, kKindAttach);
  base::StoreU16(&datagram[1], vendorId);
  base::StoreU16(&datagram[3], productId);
  return datagram;
}

std::vector<std::uint8_t> EncodeDetach() {
  return {kKindDetach};
}

std::vector<std::uint8_t> EncodeInputReport(const Frame& report) {
  return WithKind(kKindInput, report);
}

std::vector<std::uint8_t> EncodeOutputReport(std::span<const std::uint8_t> report) {
  return WithKind(kKindOutput, report);
}

}  // namespace hid::emulator
