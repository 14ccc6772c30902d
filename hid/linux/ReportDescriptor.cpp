#include "hid/linux/ReportDescriptor.h"

#include <cstddef>

namespace hid {
namespace {

constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint8_t kReportIdPrefix = 0x84;  // global item, tag 8, before the size bits
constexpr std::uint8_t kTagAndTypeMask = 0xFC;
constexpr std::uint8_t kSizeMask = 0x03;

}  // namespace

bool UsesNumberedReports(std::span<const std::uint8_t> descriptor) {
  std::size_t at = 0;
  while (at < descriptor.size()) {
    const std::uint8_t prefix = descriptor[at];
    const std::size_t left = descriptor.size() - at - 1;  // bytes after the prefix
    std::size_t itemData = 0;
    std::size_t itemHeader = 1;
    if (prefix == kLongItemPrefix) {
      if (left < 2) {
        return false;  // the long item's size and tag bytes are cut off
      }
      itemHeader = 3;
      itemData = descriptor[at + 1];
    } else {
      const std::uint8_t sizeCode = prefix & kSizeMask;
      itemData = sizeCode == 3 ? 4 : sizeCode;
    }
    if (itemData > descriptor.size() - at - itemHeader) {
      return false;  // truncated item: its data runs past the end
    }
    if (prefix != kLongItemPrefix && (prefix & kTagAndTypeMask) == kReportIdPrefix) {
      return true;
    }
    at += itemHeader + itemData;
  }
  return false;
}

}  // namespace hid
