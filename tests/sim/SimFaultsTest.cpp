#include <algorithm>
#include <thread>

#include "tests/sim/SimFixture.h"

namespace sim_test {
namespace {

using Kind = base::ErrorKind;
using sim::FaultTrigger;
using sim::SimFault;

sim::SimConfig BootDevice(std::vector<SimFault> faults = {}) {
  sim::SimConfig config;
  config.startInBootMode = true;
  config.faults = std::move(faults);
  return config;
}

// The kind of the last command's reason; nullopt when it succeeded.
std::optional<Kind> KindOf(const protocol::CDeviceCommands& commands) {
  const auto& why = commands.LastError();
  return why ? std::optional(why->kind) : std::nullopt;
}

TEST_F(SimFixture, ALostReplyCostsOneReadTimeout) {
  Start(BootDevice({SimFault::DropReply(FaultTrigger::AtCode(0x0008))}), hid::kOpenTimeoutMs);
  std::uint8_t type[2] = {};
  ASSERT_EQ(commands->QueryBootType(type, 2), 1);
  const auto received = device->Received();
  ASSERT_EQ(received.size(), 2u);  // the query and one resend
  EXPECT_GE(received[1].at - received[0].at, 200ms);
  const auto reads = platform->Reads();
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].outcome, hid::ReadOutcome::kTimeout);
  EXPECT_EQ(reads[1].outcome, hid::ReadOutcome::kReport);

  // Lost every time: five reads, six packets.
  device->SetFaults({SimFault::DropReply(FaultTrigger::AtCode(0x0008).Always())});
  link->SetTimeout(0);
  EXPECT_EQ(commands->QueryBootType(type, 2), 0);
  EXPECT_EQ(device->Received().size(), 2u + 6u);
}

// Every fault hits the second block; the first shows the device was answering.
TEST_F(SimFixture, FaultsAtABlockDecideItsConfirmation) {
  struct Case {
    const char* name;
    SimFault fault;
    int result;
    std::optional<Kind> failure;
    std::size_t reads;
  };
  const Case cases[] = {
      {"19 stray reports", SimFault::StrayReports(19, FaultTrigger::AtBlock(2)), 1, std::nullopt,
       20},
      {"20 stray reports", SimFault::StrayReports(20, FaultTrigger::AtBlock(2)), 0,
       Kind::kInvalidData, 20},
      {"an echo of 0x0002", SimFault::WrongEcho(FaultTrigger::AtBlock(2)), 0, Kind::kInvalidData,
       20},
      {"a lost echo", SimFault::DropReply(FaultTrigger::AtBlock(2)), 0, Kind::kTimedOut, 20},
      {"a removal", SimFault::Remove(FaultTrigger::AtBlock(2)), 0, Kind::kDisconnected, 1},
  };
  const Bytes region = Pattern(92);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(BootDevice({c.fault}));
    ASSERT_EQ(commands->EraseRegion(0, 92), 1);
    ASSERT_EQ(commands->WriteBlock(region.data(), 0, 46, 92, 1), 1);
    const std::size_t before = platform->Reads().size();
    EXPECT_EQ(commands->WriteBlock(region.data() + 46, 46, 46, 92, 1), c.result);
    EXPECT_EQ(KindOf(*commands), c.failure);
    EXPECT_EQ(platform->Reads().size() - before, c.reads);
  }
  // After twenty stray reports the echo is still queued, for a twenty-first read.
  Start(BootDevice({SimFault::StrayReports(20, FaultTrigger::AtBlock(1))}));
  ASSERT_EQ(commands->EraseRegion(0, 92), 1);
  ASSERT_EQ(commands->WriteBlock(region.data(), 0, 46, 92, 1), 0);
  std::uint8_t record[64] = {};
  ASSERT_EQ(link->ReadReport(record, 64), hid::kReadOk);
  EXPECT_EQ(Bytes(record, record + 6), Hex("00 05 00 00 03 00"));
}

// A spike longer than the link's 200 ms time-out: a block's echo is found by the next
// of its twenty reads; a single-read command misses it.
TEST_F(SimFixture, ALatencySpikeCostsReadsNotTheCommandUnlessItReadsOnce) {
  const Bytes region = Pattern(92);
  Start(BootDevice({SimFault::LatencySpike(300ms, FaultTrigger::AtBlock(2))}), hid::kOpenTimeoutMs);
  ASSERT_EQ(commands->EraseRegion(0, 92), 1);
  ASSERT_EQ(commands->WriteBlock(region.data(), 0, 46, 92, 1), 1);
  const std::size_t before = platform->Reads().size();
  ASSERT_EQ(commands->WriteBlock(region.data() + 46, 46, 46, 92, 1), 1);
  const auto reads = platform->Reads();
  ASSERT_EQ(reads.size() - before, 2u);
  EXPECT_EQ(reads[before].outcome, hid::ReadOutcome::kTimeout);
  EXPECT_GE(reads.back().end - device->Received().back().at, 300ms);

  Start(BootDevice({SimFault::LatencySpike(300ms, FaultTrigger::AtCode(0x00C1))}),
        hid::kOpenTimeoutMs);
  std::uint8_t start[16] = {};
  EXPECT_FALSE(commands->ExchangeBootCommand({.code = 0xC1}, start, 16, 0));
  EXPECT_EQ(KindOf(*commands), Kind::kTimedOut);
}

// Delayed changes scheduled while the timer already waits for an earlier one: the list
// of changes grows under the waiting timer (AddressSanitizer saw the timer read the
// time it waited for from storage the growing list had freed). A restart first gets
// the timer going; hundreds of frames then give it ample turns to start waiting for
// the first removal before the next ones are scheduled. The removals wait long enough
// for the frames to be sent on a machine busy with other builds.
TEST_F(SimFixture, DelayedChangesScheduledWhileTheTimerWaitsAllTakeEffect) {
  constexpr std::uint32_t kFrames = 400;
  sim::SimConfig config;
  config.reenumerateDelay = 1ms;
  config.faults = {SimFault::Remove(FaultTrigger::AtFrame(2), 2s)};
  for (std::uint32_t frame = kFrames - 1; frame <= kFrames + 1; ++frame) {
    config.faults.push_back(SimFault::Remove(FaultTrigger::AtFrame(frame), 2s));
  }
  Start(config);
  ASSERT_TRUE(device->Receive(Hex("81 04 0C 00", 64), 1));  // restart into boot mode
  ASSERT_EQ(WaitForNotices(2),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  const Bytes frame = Hex("00 05", hid::kFrameSize);  // code 0: no reply, nothing stored
  for (std::uint32_t i = 1; i < kFrames; ++i) {
    ASSERT_TRUE(device->Receive(frame, 2)) << "the device left before its time";
    std::this_thread::yield();  // the timer's turn, on a machine that is busy
  }
  EXPECT_EQ(WaitForNotices(1), std::vector<std::uint32_t>{hid::kNoticeRemoveComplete});
  EXPECT_FALSE(device->IsPresent());
}

TEST_F(SimFixture, EachDeviceOfThePlatformHasItsOwnPathLatencyAndQueueOfSixtyFour) {
  sim::SimConfig slow = BootDevice();
  slow.replyLatency = 30ms;
  const auto app = std::make_shared<sim::CSimController>();
  device = std::make_shared<sim::CSimController>(slow);
  platform = std::make_shared<sim::CSimPlatform>(std::vector{app, device});
  EXPECT_EQ(platform->EnumerateInterfaces(),
            (std::vector<hid::InterfaceInfo>{
                {"sim:0", hid::kVendorId, hid::kAppProductId, "sim-port-0"},
                {"sim:1", hid::kVendorId, hid::kBootProductId, "sim-port-1"}}));
  link = std::make_unique<hid::CHid>(platform);
  app->Unplug();
  Reopen();
  EXPECT_EQ(link->DevicePath(), "sim:1");
  commands = std::make_unique<protocol::CDeviceCommands>(*link);
  link->SetTimeout(hid::kOpenTimeoutMs);
  std::uint8_t type[2] = {};
  ASSERT_EQ(commands->QueryBootType(type, 2), 1);
  EXPECT_GE(platform->Reads().back().end - device->Received()[0].at, 30ms);
  link->SetTimeout(0);

  // An operating system keeps 64 reports per handle; later ones are lost.
  for (int i = 0; i < 70; ++i) {
    device->InjectReport(hid::Frame{});
  }
  std::uint8_t record[64] = {};
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(link->ReadReport(record, 64), hid::kReadOk) << i;
  }
  EXPECT_EQ(link->ReadReport(record, 64), hid::kReadTimeout);
}

}  // namespace
}  // namespace sim_test
