#include <gtest/gtest.h>

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

  // Leaves a recognisable pattern in the transmit buffer, as an earlier packet would.
  Bytes Prime() {
    Bytes filler(64);
    std::iota(filler.begin(), filler.end(), std::uint8_t{0xC0});
    EXPECT_NE(link.WriteAppReport(filler.data(), 64), 0);
    return filler;
  }

  Bytes LastWritten() const { return platform->Written().back(); }
};

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST_F(SendFixture, QueryBootTypeOnTheWire) {
  const Bytes filler = Prime();
  ASSERT_NE(protocol::SendBootPacket(link, nullptr, 2, 0, 2, 0x0008, 0), 0);
  const Bytes header = {0x00, 0x05, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
                        0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  // Then the 47 bytes the transmit buffer already held.
  EXPECT_EQ(LastWritten(), Concat(header, Bytes(filler.begin() + 17, filler.end())));
}

TEST_F(SendFixture, QueryAppInfoOnTheWire) {
  Prime();
  ASSERT_NE(protocol::SendAppPacket(link, nullptr, 8, 0, 8, 0x0101, 0), 0);
  const Bytes header = {0x81, 0x04, 0x01, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00,
                        0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(LastWritten(), Concat(header, Bytes(64 - header.size(), 0x00)));
}

TEST_F(SendFixture, EraseRegionOnTheWire) {
  const Bytes filler = Prime();
  ASSERT_NE(protocol::SendBootPacketCrc(link, nullptr, 0, 0, 0x10000, 0x0004, 0), 0);
  const Bytes header = {0x00, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
                        0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(LastWritten(), Concat(header, Bytes(filler.begin() + 17, filler.end())));
}

TEST_F(SendFixture, WriteBlockOnTheWire) {
  Prime();
  const Bytes abc = {0x61, 0x62, 0x63};
  ASSERT_NE(protocol::SendFullBootPacket(link, abc.data(), 3, 0x2E, 0x100, 0x0003, 0), 0);
  const Bytes packet = {0x00, 0x05, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x49, 0x57, 0x00,
                        0x01, 0x00, 0x00, 0x2E, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63};
  EXPECT_EQ(LastWritten(), Concat(packet, Bytes(65 - packet.size(), 0x00)));
}

TEST_F(SendFixture, DataIsCutTo46BytesInEveryForm) {
  Bytes fifty(50);
  std::iota(fifty.begin(), fifty.end(), std::uint8_t{1});
  const Bytes filler = Prime();

  ASSERT_NE(protocol::SendBootPacketCrc(link, fifty.data(), 50, 0, 0, 0x0003, 0), 0);
  Bytes wire = LastWritten();
  ASSERT_EQ(wire.size(), 65u);
  EXPECT_EQ(wire[6], 46);  // Length
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.begin() + 64), Bytes(fifty.begin(), fifty.begin() + 46));
  // 63 bytes were handed over: the last wire byte is the one left over in the buffer.
  EXPECT_EQ(wire[64], filler[63]);

  ASSERT_NE(protocol::SendFullBootPacket(link, fifty.data(), 50, 0, 0, 0x0003, 0), 0);
  wire = LastWritten();
  EXPECT_EQ(wire[6], 46);
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.begin() + 64), Bytes(fifty.begin(), fifty.begin() + 46));
  EXPECT_EQ(wire[64], 0x00);  // packet byte 63, always 0

  ASSERT_NE(protocol::SendAppPacket(link, fifty.data(), 50, 0, 0, 0x0101, 0), 0);
  wire = LastWritten();
  ASSERT_EQ(wire.size(), 64u);  // 0x81 and packet bytes 0..62, whatever the length
  EXPECT_EQ(Bytes(wire.begin() + 18, wire.end()), Bytes(fifty.begin(), fifty.begin() + 46));
}

TEST(CommandPacket, AQueryWithoutDataStillCarriesItsLength) {
  std::size_t copied = 99;
  auto plain = protocol::BuildCommandPacket({5, 0x0008, 0, nullptr, 2, 0, 2, false}, &copied);
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(plain[5], 2);
  EXPECT_EQ(plain[7], 0x00);
  EXPECT_EQ(plain[8], 0x00);
  auto withCrc = protocol::BuildCommandPacket({5, 0x0008, 0, nullptr, 2, 0, 2, true});
  EXPECT_EQ(withCrc[5], 2);
  EXPECT_EQ(withCrc[7], 0xFF);
  EXPECT_EQ(withCrc[8], 0xFF);
}

TEST(CommandPacket, FullPacketWithTenBytesEndsInZeros) {
  Bytes ten(10, 0xEE);
  const auto packet = protocol::BuildCommandPacket({5, 0x0003, 0, ten.data(), 10, 0, 0, true});
  for (std::size_t i = 27; i < 64; ++i) {
    EXPECT_EQ(packet[i], 0) << i;
  }
}

TEST_F(SendFixture, SendingOnAClosedLinkFails) {
  hid::CHid closed(platform);
  EXPECT_EQ(protocol::SendBootPacket(closed, nullptr, 0, 0, 0, 0x00C2, 0), 0);
  EXPECT_EQ(protocol::SendAppPacket(closed, nullptr, 0, 0, 0, 0x000C, 0), 0);
  EXPECT_EQ(protocol::SendFullBootPacket(closed, nullptr, 0, 0, 0, 0x0003, 0), 0);
}

}  // namespace
