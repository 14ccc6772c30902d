#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "protocol/DeviceCommands.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Replies.h"

namespace {

using protocol::CDeviceCommands;
using protocol::CommandFailure;
using testing_support::AppReply;
using testing_support::BootReply;
using testing_support::CFakeHidPlatform;
using Bytes = std::vector<std::uint8_t>;

struct CommandsFixture : ::testing::Test {
  std::shared_ptr<CFakeHidPlatform> platform = std::make_shared<CFakeHidPlatform>();
  hid::CHid link{platform};
  CDeviceCommands commands{link, protocol::CommandOptions{std::chrono::milliseconds(50)}};

  void SetUp() override {
    platform->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kBootProductId}};
    ASSERT_EQ(link.FindDevice(), 1);
    ASSERT_EQ(link.OpenDevice(), 1);
  }
  void Timeouts(int n) {
    for (int i = 0; i < n; ++i) {
      platform->QueueRead({hid::ReadOutcome::kTimeout, {}});
    }
  }
  std::size_t Sent() const { return platform->Written().size(); }
  std::size_t Reads() const { return platform->ReadTimeoutsMs().size(); }
};

TEST_F(CommandsFixture, QueryBootTypeResendsAfterEachFailedRead) {
  Timeouts(1);
  platform->QueueReport(BootReply(0x0008, {0x0A, 0x60}));
  std::uint8_t reply[2] = {};
  EXPECT_EQ(commands.QueryBootType(reply, 2), 1);
  EXPECT_EQ(Sent(), 2u);
  EXPECT_EQ(reply[0], 0x0A);
  EXPECT_EQ(reply[1], 0x60);
}

TEST_F(CommandsFixture, QueryBootTypeGivesUpAfterFiveReads) {
  // Five failed reads: a fresh send after each, so six packets.
  Timeouts(5);
  std::uint8_t reply[2] = {};
  EXPECT_EQ(commands.QueryBootType(reply, 2), 0);
  EXPECT_EQ(Sent(), 6u);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kNoReply);

  // Five replies to another command: nothing sent again.
  for (int i = 0; i < 6; ++i) {
    platform->QueueReport(BootReply(0x0003));
  }
  EXPECT_EQ(commands.QueryBootType(reply, 2), 0);
  EXPECT_EQ(Sent(), 7u);
  EXPECT_EQ(Reads(), 10u);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kWrongReply);
}

TEST_F(CommandsFixture, QueryAppInfoTakesOnlyReportIdTwo) {
  const Bytes payload = {0x0A, 0x60, 0x00, 0x00, 0x03, 0x01, 0x01, 0x80};
  platform->QueueReport(AppReply(0x0101, payload, 1));
  platform->QueueReport(AppReply(0x0101, payload));
  std::uint8_t reply[8] = {};
  EXPECT_EQ(commands.QueryAppInfo(reply, 8), 1);
  EXPECT_EQ(Bytes(reply, reply + 8), payload);
  EXPECT_EQ(Sent(), 1u);
  EXPECT_EQ(platform->Written()[0].size(), 64u);
  EXPECT_EQ(platform->Written()[0][0], 0x81);
}

TEST_F(CommandsFixture, EnterBootModeSendsOneApplicationPacketAndReadsNothing) {
  EXPECT_NE(commands.EnterBootMode(), 0);
  ASSERT_EQ(Sent(), 1u);
  const Bytes wire = platform->Written()[0];
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), (Bytes{0x81, 0x04, 0x0C, 0x00}));
  EXPECT_EQ(Reads(), 0u);
}

TEST_F(CommandsFixture, ExchangeReadsOnceAndKeepsTheReplyBufferOnFailure) {
  std::uint8_t reply[16];
  std::fill(std::begin(reply), std::end(reply), 0xEE);
  EXPECT_FALSE(commands.ExchangeBootCommand(0xC1, nullptr, 0, 0, 0, reply, 16, 0));
  EXPECT_EQ(Reads(), 1u);
  EXPECT_EQ(reply[0], 0xEE);

  platform->QueueReport(BootReply(0x00C1, {0x00, 0x08, 0x00, 0x00}));
  EXPECT_TRUE(commands.ExchangeBootCommand(0xC1, nullptr, 0, 0, 0, reply, 16, 0));
  EXPECT_EQ(reply[1], 0x08);
  EXPECT_EQ(Sent(), 2u);
  EXPECT_EQ(platform->Written()[1][2], 0xC1);
}

TEST_F(CommandsFixture, EraseWaitsThroughTimeoutsAndForeignRepliesWithoutResending) {
  Timeouts(3);
  platform->QueueReport(BootReply(0x0003));
  platform->QueueReport(BootReply(0x00C1));
  Timeouts(2);
  platform->QueueReport(BootReply(0x0004));
  EXPECT_EQ(commands.EraseRegion(0, 0x1F00), 1);
  EXPECT_EQ(Sent(), 1u);
  EXPECT_EQ(Reads(), 8u);
}

TEST_F(CommandsFixture, EraseEndsWhenTheSendFailsTheDeviceGoesOrTheRunStops) {
  platform->writeResult = false;
  EXPECT_EQ(commands.EraseRegion(0, 100), 0);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kSendFailed);
  EXPECT_EQ(Reads(), 0u);
  platform->writeResult = true;

  Timeouts(2);
  platform->QueueRead({hid::ReadOutcome::kDeviceGone, {}});
  EXPECT_EQ(commands.EraseRegion(0, 100), 0);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kDeviceGone);
  EXPECT_EQ(Reads(), 3u);

  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(commands.EraseRegion(0, 100, stop.get_token()), 0);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kCancelled);

  // A device that never confirms: the bound (50 ms here) ends the wait.
  EXPECT_EQ(commands.EraseRegion(0, 100), 0);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kGaveUp);
}

TEST_F(CommandsFixture, WriteBlockTakesTheTwentiethReadButNotATwentyFirst) {
  const Bytes block(46, 0x5A);
  for (int i = 0; i < 19; ++i) {
    platform->QueueReport(BootReply(0x0002));  // the echo of the other flag does not count
  }
  platform->QueueReport(BootReply(0x0003));
  EXPECT_EQ(commands.WriteBlock(block.data(), 46, 46, 4600, 1), 1);
  EXPECT_EQ(Sent(), 1u);
  EXPECT_EQ(Reads(), 20u);

  for (int i = 0; i < 20; ++i) {
    platform->QueueReport(BootReply(0x00C2));
  }
  platform->QueueReport(BootReply(0x0003));
  EXPECT_EQ(commands.WriteBlock(block.data(), 92, 46, 4600, 1), 0);
  EXPECT_EQ(commands.LastFailure(), CommandFailure::kWrongReply);
  EXPECT_EQ(Sent(), 2u);
  EXPECT_EQ(Reads(), 40u);
}

TEST_F(CommandsFixture, WriteBlockWithFlagClearSendsCodeTwo) {
  const Bytes block(3, 1);
  platform->QueueReport(BootReply(0x0002));
  EXPECT_EQ(commands.WriteBlock(block.data(), 0, 3, 3, 0), 1);
  EXPECT_EQ(platform->Written()[0][2], 0x02);
}

TEST_F(CommandsFixture, CompleteUpdateNeedsItsOwnEcho) {
  platform->QueueReport(BootReply(0x0004));
  EXPECT_EQ(commands.CompleteUpdate(), 0);
  platform->QueueReport(BootReply(0x0007));
  EXPECT_EQ(commands.CompleteUpdate(), 1);
}

TEST(CrcQuery, FieldsAreLittleEndianInOrder) {
  const protocol::CrcQuery query{0, 4096, 0, 0x11223344, 7952};
  const auto bytes = query.Serialize();
  EXPECT_EQ(
      Bytes(bytes.begin(), bytes.end()),
      (Bytes{0, 0, 0, 0, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x10, 0x1F, 0, 0}));
}

}  // namespace
