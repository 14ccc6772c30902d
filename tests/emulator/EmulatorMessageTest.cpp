#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "hid/emulator/EmulatorMessage.h"

namespace {

using namespace hid::emulator;
using Bytes = std::vector<std::uint8_t>;

TEST(EmulatorMessage, ExactlyTheThreeMessageShapesDecodeOnTheProgramSide) {
  // Every kind byte at every length up to past the largest message: only 'A'/5, 'D'/1
  // and 'I'/66 are messages; the rest is rejected as invalid data, never a crash.
  const std::set<std::pair<std::uint8_t, std::size_t>> valid = {{'A', 5}, {'D', 1}, {'I', 66}};
  for (int kind = 0; kind < 256; ++kind) {
    for (std::size_t size = 1; size <= 70; ++size) {
      Bytes datagram(size, 0x5A);
      datagram[0] = static_cast<std::uint8_t>(kind);
      const auto decoded = DecodeEmulatorMessage(datagram);
      const bool expected = valid.count({datagram[0], size}) != 0;
      ASSERT_EQ(decoded.ok(), expected) << "kind " << kind << " size " << size;
      if (!decoded) {
        EXPECT_EQ(decoded.error().kind, base::ErrorKind::kInvalidData);
      }
    }
  }
  EXPECT_FALSE(DecodeEmulatorMessage({}).ok());
}

TEST(EmulatorMessage, OutputReportsCarryOneToSixtyFiveBytes) {
  for (std::size_t size = 0; size <= 67; ++size) {
    Bytes datagram(size, 0x11);
    if (size > 0) {
      datagram[0] = 'O';
    }
    const auto decoded = DecodeOutputReport(datagram);
    ASSERT_EQ(decoded.ok(), size >= 2 && size <= 66) << size;
    if (decoded) {
      EXPECT_EQ(Bytes(decoded->begin(), decoded->end()),
                Bytes(datagram.begin() + 1, datagram.end()));
    }
  }
  EXPECT_FALSE(DecodeOutputReport(Bytes{'I', 0x00}).ok());
}

}  // namespace
