// update-cli flash --all against several simulated controllers at their own places: what
// each one saw on the wire, how each road ended, the summary and the exit code.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "tests/cli/CliHarness.h"

namespace {

using namespace std::chrono_literals;
using namespace cli_test;
using Codes = std::vector<std::uint16_t>;

struct FlashAll : ::testing::Test {
  testing_support::CTempDir dir;
  CCliHarness cli;
  std::string image = WriteImage(dir, "fw.dat", kPayload);
};

enum class End { kUpdated, kFailed, kSkipped };

TEST_F(FlashAll, EachControllerEndsOnItsOwnRoad) {
  struct Row {
    const char* name;
    std::function<void(std::vector<sim::SimConfig>&)> setUp;
    std::vector<End> ends;
    int code;
    std::string summary;
  };
  const Row rows[] = {
      {"all four, one waiting in boot mode",
       [](auto& configs) { configs[3].startInBootMode = true; },
       {End::kUpdated, End::kUpdated, End::kUpdated, End::kUpdated},
       0,
       "4 updated, 0 failed, 0 skipped."},
      {"one unplugged mid-write",
       [](auto& configs) {
         configs[1].faults = {sim::SimFault::Remove(sim::FaultTrigger::AtBlock(5))};
       },
       {End::kUpdated, End::kFailed, End::kUpdated, End::kUpdated},
       7,
       "3 updated, 1 failed, 0 skipped.\n  failed sim-port-1 (sim:1): the controller stopped "
       "answering: writing block 5 of 20: read: the device went away"},
      {"one of another type",
       [](auto& configs) { configs[2].typeCode = 0x6011; },
       {End::kUpdated, End::kUpdated, End::kSkipped, End::kUpdated},
       0,
       "3 updated, 0 failed, 1 skipped.\n  skipped sim-port-2 (sim:2): image refused: " + image +
           " is built for type 0x600A, the controller is type 0x6011"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CCliHarness all;
    std::vector<sim::SimConfig> configs(4);
    row.setUp(configs);
    for (const auto& config : configs) {
      all.AddDevice(config);
    }
    const auto run = all.Run({"flash", image, "--all", "--yes", "--json"});
    EXPECT_EQ(run.code, row.code) << run.err;
    EXPECT_TRUE(Contains(run.err, row.summary)) << run.err;
    const auto document = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.out;
    for (std::size_t i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      const sim::CSimController& device = *all.devices[i];
      const auto& entry = document["controllers"][i];
      EXPECT_EQ(entry["place"], "sim-port-" + std::to_string(i));
      const Codes sent = ReceivedCodes(device);
      switch (row.ends[i]) {
        case End::kUpdated:
          EXPECT_EQ(entry["result"], "completed");
          EXPECT_EQ(sent, RoadCodes(configs[i].startInBootMode));
          EXPECT_EQ(device.StoredRegion(), kPayload);
          EXPECT_EQ(device.VersionWord(), 215u);
          break;
        case End::kFailed:
          EXPECT_EQ(entry["result"], "failed");
          EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x0007), 0);
          break;
        case End::kSkipped:
          EXPECT_EQ(entry["result"], "skipped");
          EXPECT_EQ(sent, Codes{0x0101}) << "asked what it is, and nothing else";
          EXPECT_FALSE(device.WasErased());
          break;
      }
    }
  }
}

TEST_F(FlashAll, OneQuestionListsEveryControllerAndNoLeavesThemAllAlone) {
  cli.AddDevice();
  sim::SimConfig boot;
  boot.startInBootMode = true;
  cli.AddDevice(boot);
  cli.input = "n\n";
  const auto run = cli.Run({"flash", image, "--all"});
  EXPECT_EQ(run.code, 6) << run.err;
  EXPECT_TRUE(
      Contains(run.err, "2 controllers found; " + image +
                            " holds firmware 2.15 for type 0x600A:\n"
                            "  sim-port-0  sim:0  type 0x600A  firmware 2.14\n"
                            "  sim-port-1  sim:1  type 0x600A  in boot mode, firmware not known\n"
                            "Update these 2 controllers to firmware 2.15? [y/N] "))
      << run.err;
  EXPECT_EQ(ReceivedCodes(*cli.devices[0]), Codes{0x0101});
  EXPECT_FALSE(cli.devices[1]->WasErased());
  EXPECT_EQ(cli.devices[0]->Mode(), sim::SimMode::kApplication);
}

TEST_F(FlashAll, CtrlCStopsEveryRunAtABlockBoundaryAndNamesThoseLeftInBootMode) {
  for (int i = 0; i < 4; ++i) {
    sim::SimConfig config;
    config.replyLatency = 2ms;  // many blocks still to go when the stop lands
    cli.AddDevice(config);
  }
  const std::string big = WriteImage(dir, "big.dat", Pattern(46 * 300));
  // Ctrl-C once each of the four has been sent five blocks.
  auto mutex = std::make_shared<std::mutex>();
  auto blocks = std::make_shared<std::map<std::string, int>>();
  cli.wrap = [this, mutex, blocks](std::shared_ptr<hid::IHidPlatform> inner) {
    return std::make_shared<cli_test::CWriteWatch>(
        std::move(inner),
        [this, mutex, blocks](const std::string& path, std::span<const std::uint8_t> frame) {
          std::lock_guard lock(*mutex);
          if (cli_test::IsBlockWrite(frame) && ++(*blocks)[path] == 5 && blocks->size() == 4 &&
              std::all_of(blocks->begin(), blocks->end(), [](auto& b) { return b.second >= 5; })) {
            cli.interrupt.Signal();
          }
        });
  };
  const auto run = cli.Run({"flash", big, "--all", "--yes"});
  EXPECT_EQ(run.code, 9) << run.err;
  EXPECT_TRUE(
      Contains(run.out,
               "Still in boot mode: sim-port-0, sim-port-1, sim-port-2, sim-port-3: run the "
               "same command again to finish their update."))
      << run.out;
  for (const auto& device : cli.devices) {
    const Codes sent = ReceivedCodes(*device);
    EXPECT_EQ(sent.back(), 0x0003) << "nothing follows the last whole block";
    EXPECT_LT(std::count(sent.begin(), sent.end(), 0x0003), 300);
    EXPECT_EQ(device->Mode(), sim::SimMode::kBoot);
  }
}

TEST_F(FlashAll, EachRunFollowsItsOwnControllerWhenTheyComeBackInTheOtherOrder) {
  // The first leaves at once and takes long to come back; the second answers late, so
  // it leaves later, and comes back at once.
  sim::SimConfig slowReturn;
  slowReturn.reenumerateDelay = 600ms;
  sim::SimConfig lateLeave;
  lateLeave.replyLatency = 40ms;
  auto& first = cli.AddDevice(slowReturn);
  auto& second = cli.AddDevice(lateLeave);
  std::mutex mutex;
  std::vector<std::string> changes;
  const auto listen = [&](sim::CSimController& device, const char* name) {
    return device.AddPresenceListener([&mutex, &changes, name](bool present) {
      std::lock_guard lock(mutex);
      changes.push_back(std::string(name) + (present ? " back" : " left"));
    });
  };
  const int firstListener = listen(first, "first");
  const int secondListener = listen(second, "second");
  const auto run = cli.Run({"flash", image, "--all", "--yes"});
  first.RemovePresenceListener(firstListener);
  second.RemovePresenceListener(secondListener);

  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_GE(changes.size(), 4u);
  EXPECT_EQ(std::vector(changes.begin(), changes.begin() + 4),
            (std::vector<std::string>{"first left", "second left", "second back", "first back"}));
  for (const sim::CSimController* device : {&first, &second}) {
    EXPECT_EQ(ReceivedCodes(*device), RoadCodes(false));
    EXPECT_EQ(device->StoredRegion(), kPayload);
  }
}

}  // namespace
