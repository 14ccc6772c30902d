#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "protocol/CommandPacket.h"
#include "tests/support/FakeHidPlatform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::CFakeHidPlatform;

struct SendFixture : ::testing::Test {
  std::shared_ptr<CFakeHidPlatform> platform = std::make_shared<CFakeHidPlatform>();
  hid::CHid link{platform};

  void SetUp() override {
    platform->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kBootProductId}};
    ASSERT_EQ(link.FindDevice(), 1);
    ASSERT_EQ(link.OpenDevice(), 1);
  }

  // Leaves C0 C1 ... FF in the transmit buffer, as an earlier packet would.
  Bytes Prime() {
    Bytes filler(64);
    std::iota(filler.begin(), filler.end(), std::uint8_t{0xC0});
    EXPECT_NE(link.WriteAppReport(filler.data(), 64), 0);
    return filler;
  }

  Bytes LastWritten() const { return platform->Written().back(); }
};

// One example of each send form after an earlier packet: the two forms that hand over
// only header and data leave the rest of the transmit buffer on the wire.
TEST_F(SendFixture, EachFormOnTheWire) {
  const Bytes abc = {0x61, 0x62, 0x63};  // CRC-16 0x5749
  struct Case {
    const char* name;
    std::function<int()> send;
    Bytes head;
    bool leftOvers;
    std::size_t size;
  };
  const Case cases[] = {
      {"QueryAppInfo",
       [&] { return protocol::SendAppPacket(link, {.code = 0x0101, .length = 8, .size = 8}); },
       {0x81, 0x04, 0x01, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08},
       false,
       64},
      {"EraseRegion",
       [&] { return protocol::SendBootPacketCrc(link, {.code = 0x0004, .size = 0x10000}); },
       {0x00, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x01},
       true,
       65},
      {"WriteBlock",
       [&] {
         return protocol::SendFullBootPacket(
             link,
             {.code = 0x0003, .length = 3, .size = 0x100, .offset = 0x2E, .data = abc.data()});
       },
       {0x00, 0x05, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x49, 0x57, 0x00,
        0x01, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63},
       false,
       65},
  };
  for (const Case& c : cases) {
    const Bytes filler = Prime();
    ASSERT_NE(c.send(), 0) << c.name;
    Bytes expected = c.head;
    expected.resize(c.leftOvers ? 18 : c.size, 0x00);
    if (c.leftOvers) {
      expected.insert(expected.end(), filler.begin() + 17, filler.end());
    }
    EXPECT_EQ(LastWritten(), expected) << c.name;
  }
}

TEST_F(SendFixture, DataIsCutTo46BytesInEveryForm) {
  Bytes fifty(50);
  std::iota(fifty.begin(), fifty.end(), std::uint8_t{1});
  const Bytes first46(fifty.begin(), fifty.begin() + 46);
  const protocol::PacketFields longBlock{.code = 0x0003, .length = 50, .data = fifty.data()};
  const Bytes filler = Prime();

  ASSERT_NE(protocol::SendBootPacketCrc(link, longBlock), 0);
  Bytes wire = LastWritten();
  ASSERT_EQ(wire.size(), 65u);
  EXPECT_EQ(wire[6], 46);  // Length
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.begin() + 64), first46);
  // 63 bytes were handed over: the last wire byte is the one left over in the buffer.
  EXPECT_EQ(wire[64], filler[63]);

  ASSERT_NE(protocol::SendFullBootPacket(link, longBlock), 0);
  wire = LastWritten();
  EXPECT_EQ(wire[6], 46);
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.begin() + 64), first46);
  EXPECT_EQ(wire[64], 0x00);  // packet byte 63, always 0

  ASSERT_NE(protocol::SendAppPacket(link, {.code = 0x0101, .length = 50, .data = fifty.data()}), 0);
  wire = LastWritten();
  ASSERT_EQ(wire.size(), 64u);  // 0x81 and packet bytes 0..62, whatever the length
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.end()), first46);
}

}  // namespace
