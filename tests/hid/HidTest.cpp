#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "hid/Hid.h"
#include "tests/support/FakeHidPlatform.h"

namespace {

using hid::CHid;
using testing_support::CFakeHidPlatform;
using Bytes = std::vector<std::uint8_t>;

struct LinkFixture : ::testing::Test {
  std::shared_ptr<CFakeHidPlatform> platform = std::make_shared<CFakeHidPlatform>();
  std::vector<std::string> debugLines;
  CHid link{platform, [this](std::string_view line) { debugLines.emplace_back(line); }};

  void Present(std::vector<hid::InterfaceInfo> interfaces) { platform->interfaces = interfaces; }
  void Find() {
    Present({{"/dev/hidraw3", hid::kVendorId, hid::kBootProductId}});
    ASSERT_EQ(link.FindDevice(), 1);
  }
  void FindAndOpen() {
    Find();
    ASSERT_EQ(link.OpenDevice(), 1);
  }
};

Bytes Sequence(std::size_t n, std::uint8_t first) {
  Bytes bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST_F(LinkFixture, FindDeviceTakesTheFirstSupportedInterfaceOpenDeviceOpensItAndAMissKeepsIt) {
  Present({
      {"/dev/hidraw0", 0x046D, 0x6E21},          // another vendor
      {"/dev/hidraw1", hid::kVendorId, 0x6E22},  // our vendor, another product
      {"/dev/hidraw2", hid::kVendorId, hid::kBootProductId},
      {"/dev/hidraw3", hid::kVendorId, hid::kAppProductId},
  });
  EXPECT_EQ(link.FindDevice(), 1);
  EXPECT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), "/dev/hidraw2");
  EXPECT_EQ(link.GetMatchedDeviceIds(), (hid::MatchedDeviceIds{0x4B2E, 0x6E30}));
  EXPECT_EQ(debugLines, std::vector<std::string>{"m_DevicePath:/dev/hidraw2\n"});
  // Finding never opens the link: traffic goes through OpenDevice only, which opens the
  // write side first and sets the read time-out from 10 ms to 200 ms.
  EXPECT_TRUE(platform->opened.empty());
  EXPECT_EQ(link.Timeout(), 10u);
  ASSERT_EQ(link.OpenDevice(), 1);
  EXPECT_EQ(platform->opened,
            (std::vector<std::pair<std::string, hid::Access>>{
                {"/dev/hidraw2", hid::Access::kWrite}, {"/dev/hidraw2", hid::Access::kRead}}));
  EXPECT_FALSE(link.LastOpenError().has_value());

  // A missed search keeps the path and IDs; the open link stays open as it was.
  Present({{"/dev/hidraw1", hid::kVendorId, 0x1234}});
  EXPECT_EQ(link.FindDevice(), 0);
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.DevicePath(), "/dev/hidraw2");
  EXPECT_EQ(link.GetMatchedDeviceIds(), (hid::MatchedDeviceIds{0x4B2E, 0x6E30}));
  EXPECT_EQ(debugLines.size(), 1u);
  EXPECT_TRUE(link.IsWriteOpen());
  EXPECT_TRUE(link.IsReadOpen());
  EXPECT_EQ(link.Timeout(), 200u);
}

TEST_F(LinkFixture, NoticesAreRegisteredOnceEvenWhenTheFirstAttemptFails) {
  platform->registerResult = false;
  EXPECT_EQ(link.FindDevice(), 0);  // nothing present: registration still attempted
  EXPECT_TRUE(link.IsNotifyRegistered());
  platform->registerResult = true;
  Present({{"/dev/hidraw0", hid::kVendorId, hid::kAppProductId}});
  EXPECT_EQ(link.FindDevice(), 1);
  EXPECT_EQ(link.FindDevice(), 1);
  EXPECT_EQ(platform->registerCalls, 1);
}

TEST(Link, DestructionCancelsOnlyARegistrationThatWasMade) {
  for (bool registered : {true, false}) {
    auto platform = std::make_shared<CFakeHidPlatform>();
    platform->registerResult = registered;
    {
      CHid link(platform);
      (void)link.FindDevice();
    }
    EXPECT_EQ(platform->unregisterCalls, registered ? 1 : 0);
  }
}

TEST_F(LinkFixture, AFailedWriteSideLeavesTheLinkClosedAFailedReadSideOnlyReadsClosed) {
  Find();
  platform->writeOpenError = base::Error{base::ErrorKind::kNotFound, "open: gone"};
  EXPECT_EQ(link.OpenDevice(), 0);
  EXPECT_FALSE(link.IsWriteOpen());
  EXPECT_FALSE(link.IsReadOpen());
  EXPECT_EQ(platform->opened.size(), 1u);  // the read side was never tried

  platform->writeOpenError.reset();
  platform->readOpenError = base::Error{base::ErrorKind::kPermissionDenied, "open: denied"};
  EXPECT_EQ(link.OpenDevice(), 0);
  EXPECT_EQ(link.Timeout(), 10u);
  ASSERT_TRUE(link.LastOpenError().has_value());
  EXPECT_EQ(link.LastOpenError()->kind, base::ErrorKind::kPermissionDenied);
  const Bytes data = Sequence(4, 1);
  EXPECT_NE(link.WriteReport(data.data(), 4), 0);
  std::uint8_t reply[64] = {};
  EXPECT_EQ(link.ReadReport(reply, 64), hid::kReadNotOpen);
  EXPECT_TRUE(platform->ReadTimeoutsMs().empty());  // returned at once, no wait
}

TEST_F(LinkFixture, ReadsMapEveryOutcomeToItsStatusAndReasonAndCopyOnlyReports) {
  FindAndOpen();
  hid::Frame frame{};
  std::iota(frame.begin(), frame.end(), std::uint8_t{0x40});
  using hid::ReadOutcome;
  using Kind = base::ErrorKind;
  const std::tuple<ReadOutcome, std::uint32_t, Kind> cases[] = {
      {ReadOutcome::kTimeout, 258, Kind::kTimedOut},
      {ReadOutcome::kAbandoned, 128, Kind::kIo},
      // hid::kReadDeviceGone, never the time-out's 258
      {ReadOutcome::kDeviceGone, 1167, Kind::kDisconnected},
      {ReadOutcome::kFailed, 0xFFFFFFFF, Kind::kIo},
  };
  for (const auto& [outcome, status, kind] : cases) {
    platform->QueueRead({outcome, frame});
    std::uint8_t reply[64] = {};
    EXPECT_EQ(link.ReadReport(reply, 64), status);
    EXPECT_EQ(reply[0], 0) << "nothing copied on status " << status;
    ASSERT_TRUE(link.LastIoError().has_value()) << status;
    EXPECT_EQ(link.LastIoError()->kind, kind) << status;
  }

  // ReadReport drops the report ID; ReadAppReport keeps it and loses frame byte 64.
  platform->QueueReport(frame);
  platform->QueueReport(frame);
  std::uint8_t boot[64] = {};
  std::uint8_t app[64] = {};
  EXPECT_EQ(link.ReadReport(boot, 64), 0u);
  EXPECT_EQ(link.ReadAppReport(app, 64), 0u);
  EXPECT_EQ(Bytes(boot, boot + 64), Bytes(frame.begin() + 1, frame.end()));
  EXPECT_EQ(Bytes(app, app + 64), Bytes(frame.begin(), frame.end() - 1));
  EXPECT_EQ(platform->ReadTimeoutsMs().back(), 200u);
  EXPECT_FALSE(link.LastIoError().has_value());
}

// The application write and the short boot write on the wire, with the left-overs of the
// transmit buffer, are the command packet tests'. Here: the write with its own report ID.
TEST_F(LinkFixture, AWriteWithItsOwnIdLeavesTheTransmitBufferAndFailedWritesAreReported) {
  FindAndOpen();
  const Bytes app = Sequence(64, 0xA0);
  ASSERT_NE(link.WriteAppReport(app.data(), 64), 0);
  const Bytes withId = Sequence(64, 0x10);
  ASSERT_NE(link.WriteReportWithId(withId.data(), 0x00, 64), 0);
  const Bytes tail = Sequence(2, 0x70);
  ASSERT_NE(link.WriteReport(tail.data(), 2), 0);

  const auto written = platform->Written();
  ASSERT_EQ(written.size(), 3u);
  Bytes expected = {0x00};
  expected.insert(expected.end(), withId.begin(), withId.end());
  EXPECT_EQ(written[1], expected);  // 65 bytes, from a buffer of its own...
  // ...so the short write after it still carries all 64 bytes the application write
  // copied into the transmit buffer (although it sent only 63).
  expected = {0x00, 0x70, 0x71};
  expected.insert(expected.end(), app.begin() + 2, app.end());
  EXPECT_EQ(written[2], expected);

  // A write the platform fails is reported in every form, with the platform's reason.
  platform->writeError = testing_support::NoSuchDevice("write");
  EXPECT_EQ(link.WriteReport(tail.data(), 2), 0);
  EXPECT_EQ(link.WriteAppReport(tail.data(), 2), 0);
  EXPECT_EQ(link.WriteReportWithId(tail.data(), 0, 2), 0);
  EXPECT_EQ(link.LastIoError().value_or(base::Error{}).message, "write: No such device");
}

TEST_F(LinkFixture, AWriteWithoutAHandleSendsNothingButStillFillsTheBuffer) {
  const Bytes first = Sequence(20, 0x30);
  EXPECT_EQ(link.WriteReport(first.data(), 20), 0);
  EXPECT_EQ(link.WriteReportWithId(first.data(), 5, 20), 0);
  EXPECT_EQ(link.LastIoError().value_or(base::Error{}).message, "write: the device is not open");
  FindAndOpen();
  const Bytes second = Sequence(1, 0x99);
  ASSERT_NE(link.WriteReport(second.data(), 1), 0);
  const auto written = platform->Written();
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0][1], 0x99);
  EXPECT_EQ(Bytes(written[0].begin() + 2, written[0].begin() + 21),
            Bytes(first.begin() + 1, first.end()));
  EXPECT_EQ(written[0][21], 0x00);
}

}  // namespace
