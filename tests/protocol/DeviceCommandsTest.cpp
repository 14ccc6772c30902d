#include <gtest/gtest.h>

#include <vector>

#include "protocol/DeviceCommands.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Replies.h"

namespace {

using protocol::CDeviceCommands;
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
  base::Error Why() const { return commands.LastError().value_or(base::Error{}); }
  std::size_t Reads() const { return platform->ReadTimeoutsMs().size(); }
};

TEST_F(CommandsFixture, QueryBootTypeGivesUpAfterFiveRepliesToAnotherCommandWithoutResending) {
  for (int i = 0; i < 6; ++i) {
    platform->QueueReport(BootReply(0x0003));
  }
  std::uint8_t reply[2] = {};
  EXPECT_EQ(commands.QueryBootType(reply, 2), 0);
  EXPECT_EQ(Sent(), 1u);
  EXPECT_EQ(Reads(), 5u);
  EXPECT_EQ(Why().kind, base::ErrorKind::kInvalidData);
}

TEST_F(CommandsFixture, ExchangeReadsOnceAndKeepsTheReplyBufferOnFailure) {
  std::uint8_t reply[16];
  std::fill(std::begin(reply), std::end(reply), 0xEE);
  EXPECT_FALSE(commands.ExchangeBootCommand({.code = 0xC1}, reply, 16, 0));
  EXPECT_EQ(Reads(), 1u);
  EXPECT_EQ(reply[0], 0xEE);

  platform->QueueReport(BootReply(0x00C1, {0x00, 0x08, 0x00, 0x00}));
  EXPECT_TRUE(commands.ExchangeBootCommand({.code = 0xC1}, reply, 16, 0));
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

TEST_F(CommandsFixture, AFailedSendOrAStopIsTheReasonTheEraseGives) {
  platform->writeError = testing_support::NoSuchDevice("write");
  EXPECT_EQ(commands.EraseRegion(0, 100), 0);
  EXPECT_EQ(Why().message, "write: No such device");
  EXPECT_EQ(Reads(), 0u);
  platform->writeError.reset();

  base::CStopSource stop;
  stop.RequestStop();
  EXPECT_EQ(commands.EraseRegion(0, 100, stop.Token()), 0);
  EXPECT_EQ(Why().kind, base::ErrorKind::kCancelled);
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

}  // namespace
