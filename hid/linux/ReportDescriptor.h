// Reading an HID report descriptor that the device itself supplied. The bytes come
// from the device, so nothing here trusts a length: a truncated or malformed
// descriptor ends the walk, it never reads past the buffer.
#pragma once

#include <cstdint>
#include <span>

namespace hid {

// True when the descriptor declares at least one Report ID item. The kernel then
// prefixes every report of the interface with its ID byte; without one, reads start
// with the data and the frame's ID byte (0x00) has to be added by us.
//
// Items: a short item is one prefix byte (tag, type, and a size code 0..3 where 3
// means four data bytes) followed by its data; the prefix 0xFE starts a long item whose
// next two bytes are its data size and its tag. A Report ID item is a short global item
// with tag 8 (prefix & 0xFC == 0x84). An item whose data runs past the end stops the
// walk and does not count.
[[nodiscard]] bool UsesNumberedReports(std::span<const std::uint8_t> descriptor);

}  // namespace hid
