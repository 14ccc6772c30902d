// update-cli flash end to end against the simulated controller: what the device saw on
// the wire, the exit code, and the one line that says what failed and what to do.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <tuple>

#include "tests/cli/CliHarness.h"
#include "tests/support/FakeHidPlatform.h"

namespace {

using namespace std::chrono_literals;
using namespace cli_test;
using Codes = std::vector<std::uint16_t>;

// The failure line: the last one on stderr, after the progress.
std::string LastLine(std::string text) {
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  const auto newline = text.rfind('\n');
  return newline == std::string::npos ? text : text.substr(newline + 1);
}

struct Flash : ::testing::Test {
  testing_support::CTempDir dir;
  CCliHarness cli;
  std::string image = WriteImage(dir, "fw.dat", kPayload);
};

// The question and the progress on stderr, the result alone on stdout: a line for
// people, or with --json one document.
TEST_F(Flash, TheWholeRoadSendsWhatTheWindowSendsAndReportsTheNewVersion) {
  for (const bool json : {false, true}) {
    CCliHarness one;
    auto& device = one.AddDevice();
    const auto run =
        json ? one.Run({"--json", "flash", image, "--yes"}) : one.Run({"flash", image, "--yes"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReceivedCodes(device), RoadCodes(false));
    EXPECT_EQ(device.StoredRegion(), kPayload);
    EXPECT_TRUE(Contains(run.err, "New firmware 2.15 and current is 2.14 [y/N] yes (--yes)"));
    EXPECT_TRUE(Contains(run.err, "Switching to boot mode...\nErasing 904 bytes...\n"));
    EXPECT_TRUE(Contains(run.err,
                         "Writing: 100% (904 of 904 bytes)\nVerifying...\nCompleting...\n"
                         "Firmware upgraded!\n"));
    if (!json) {
      EXPECT_EQ(run.out, "The controller is back in application mode with firmware 2.15.\n");
      continue;
    }
    ASSERT_EQ(run.out.front(), '{');
    EXPECT_EQ(run.out.back(), '\n');
    for (const char* field :
         {"\"result\": \"completed\"", "\"exitCode\": 0", "\"previousVersion\": \"2.14\"",
          "\"blockCount\": 20", "\"newVersion\": \"2.15\"", "\"returnedToApplication\": true"}) {
      EXPECT_TRUE(Contains(run.out, field)) << field;
    }
  }
}

TEST_F(Flash, AControllerAlreadyInBootModeIsFlashedDirectly) {
  sim::SimConfig config;
  config.startInBootMode = true;
  auto& device = cli.AddDevice(config);
  const auto run = cli.Run({"flash", image, "--yes"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReceivedCodes(device), RoadCodes(true));
  EXPECT_TRUE(Contains(run.err, "waiting in boot mode (type 0x600A): flashing it directly"));
  // Its version was never read: the question says so.
  EXPECT_TRUE(Contains(run.err, "New firmware 2.15 and current is unknown [y/N] yes (--yes)"));
  EXPECT_TRUE(Contains(run.out, "back in application mode with firmware 2.15."));
}

TEST_F(Flash, TheTraceHoldsEveryFrameTheControllerReceivedInOrder) {
  auto& device = cli.AddDevice();
  const std::string trace = (dir.Path() / "trace.jsonl").string();
  ASSERT_EQ(cli.Run({"flash", image, "--yes", "--trace", trace}).code, 0);
  std::ifstream lines(trace);
  std::vector<std::string> written;
  std::size_t reads = 0;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(line.rfind("{\"ms\":", 0), 0u) << line;
    const auto hex = line.find("\"hex\":\"");
    ASSERT_NE(hex, std::string::npos) << line;
    if (Contains(line, "\"dir\":\"out\",\"op\":\"write\"")) {
      written.push_back(line.substr(hex + 7, line.size() - hex - 7 - 2));
    } else if (Contains(line, "\"dir\":\"in\",\"op\":\"read\"")) {
      ++reads;
    }
  }
  std::vector<std::string> received;
  for (const auto& frame : device.Received()) {
    std::string hex;
    for (const std::uint8_t byte : frame.bytes) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", byte);
      hex += pair;
    }
    received.push_back(hex);
  }
  EXPECT_EQ(written, received);
  EXPECT_GE(reads, received.size() - 1);  // every command but the button is answered
}

// y, yes and 是 in any case go on; n, no, 否, anything else and nothing leave the
// controller untouched.
TEST_F(Flash, TheQuestionTakesYesAndNoInEitherLanguage) {
  const std::tuple<std::string, bool, std::string> cases[] = {
      // An answer from a pipe is shown after its question, which then ends its line.
      {"n\n", false, "New firmware 2.15 and current is 2.14 [y/N] n\n"},
      {"", false, "[y/N] "},  // the end of the input
      {"yesterday\n", false, "[y/N] yesterday\n"},
      {"否\n", false, "[y/N] 否\n"},
      {"y\n", true, "[y/N] y\n"},
      {"YES\n", true, "[y/N] YES\n"},
      {" Yes \r\n", true, "[y/N] Yes\n"},
      {"是\n", true, "[y/N] 是\n"},
  };
  for (const auto& [input, yes, question] : cases) {
    SCOPED_TRACE(input);
    CCliHarness one;
    auto& device = one.AddDevice();
    one.input = input;
    const auto run = one.Run({"flash", image});
    EXPECT_TRUE(Contains(run.err, question)) << run.err;
    if (yes) {
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_EQ(device.StoredRegion(), kPayload);
      continue;
    }
    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(LastLine(run.err),
              "update-cli: declined: the controller was not touched (--yes answers the question "
              "for scripts)");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReceivedCodes(device), Codes{0x0101});
    EXPECT_EQ(device.Mode(), sim::SimMode::kApplication);
  }
}

// --yes answers the question for a newer image only: an older one, or the version the
// controller has, takes a flag of its own; asked at the terminal, the question says so.
TEST_F(Flash, YesWritesAnOlderImageOrTheSameVersionOnlyWithItsFlag) {
  struct Row {
    std::uint16_t version;
    std::vector<std::string> flags;
    int code;
    const char* said;
  };
  const Row rows[] = {
      {213, {"--yes"}, 6, "older than the controller's 2.14: --allow-older writes it"},
      {214, {"--yes"}, 6, "the version the controller has already: --allow-reinstall writes"},
      {213, {"--yes", "--allow-reinstall"}, 6, "--allow-older"},
      {213,
       {"--yes", "--allow-older"},
       0,
       "current is 2.14 (older than the controller's firmware)"},
      {214, {"--yes", "--allow-reinstall"}, 0, "current is 2.14 (the same version) [y/N] yes"},
      {214, {}, 6, "current is 2.14 (the same version) [y/N] \n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.version) + " " + std::to_string(row.flags.size()));
    CCliHarness one;
    auto& device = one.AddDevice();
    std::vector<std::string> arguments = {"flash",
                                          WriteImage(dir, "v.dat", kPayload, 0x600A, row.version)};
    arguments.insert(arguments.end(), row.flags.begin(), row.flags.end());
    const auto run = one.Run(arguments);
    EXPECT_EQ(run.code, row.code) << run.err;
    EXPECT_TRUE(Contains(run.err, row.said)) << run.err;
    EXPECT_EQ(ReceivedCodes(device).size() > 1, row.code == 0);
  }
}

TEST_F(Flash, RefusedImagesSayWhyAndWhereTheControllerIsLeft) {
  const std::string shortImage = WriteImage(dir, "short.dat", Pattern(400));
  std::filesystem::resize_file(shortImage, 28 + 100);
  const std::string empty = WriteImage(dir, "empty.dat", {});
  struct Row {
    const char* name;
    std::string image;
    bool startInBootMode;
    Codes sent;
    std::string message;
    const char* printed;
  };
  const std::string other = WriteImage(dir, "6011.dat", kPayload, 0x6011);
  const Row rows[] = {
      {"another type, application mode",
       other,
       false,
       {0x0101},
       "image refused: " + other +
           " is built for type 0x6011, the controller is type 0x600A: use an image for 0x600A; "
           "the controller was not touched",
       "The firmware type is error!\n"},
      {"another type, boot mode",  // refused once identification told its type
       other,
       true,
       {0x0008},
       "image refused: " + other +
           " is built for type 0x6011, the controller is type 0x600A: use an image for 0x600A; "
           "the controller was not touched",
       "The firmware type is error!\n"},
      {"payload past the end of the file",
       shortImage,
       false,
       {},
       "image refused: " + shortImage +
           " is not a firmware image: its header announces a 400-byte payload, but the file ends "
           "at byte 128; the controller was not touched",
       ""},
      {"no payload, application mode",
       empty,
       false,
       {},
       "image refused: " + empty +
           " holds no payload (its header announces 0 bytes): there is nothing to write; the "
           "controller was not touched",
       ""},
      {"no such file",
       (dir.Path() / "missing.dat").string(),
       false,
       {},
       "image refused: " + (dir.Path() / "missing.dat").string() +
           ": the image file cannot be opened",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CCliHarness one;
    sim::SimConfig config;
    config.startInBootMode = row.startInBootMode;
    auto& device = one.AddDevice(config);
    const auto run = one.Run({"flash", row.image, "--yes"});
    EXPECT_EQ(run.code, 5);
    EXPECT_EQ(LastLine(run.err).rfind("update-cli: " + row.message, 0), 0u) << run.err;
    EXPECT_TRUE(Contains(run.err, row.printed));
    EXPECT_EQ(ReceivedCodes(device), row.sent);
  }
}

// Wraps the command line's platform: `act` is done as the n-th block goes out, on the
// writing thread (Ctrl-C pressed, the controller unplugged), before the block reaches it.
std::function<std::shared_ptr<hid::IHidPlatform>(std::shared_ptr<hid::IHidPlatform>)> AtBlock(
    int block, std::function<void()> act) {
  return [block, act](std::shared_ptr<hid::IHidPlatform> inner) {
    auto blocks = std::make_shared<std::atomic<int>>(0);
    return std::make_shared<cli_test::CWriteWatch>(
        std::move(inner), [=](const std::string&, std::span<const std::uint8_t> frame) {
          if (cli_test::IsBlockWrite(frame) && ++*blocks == block) {
            act();
          }
        });
  };
}

// The run fails on the controller's side: which block or check, the code, the advice.
TEST_F(Flash, ControllerFailuresNameTheStepAndTheWayBack) {
  using sim::FaultTrigger;
  using sim::SimFault;
  struct Row {
    const char* name;
    std::vector<SimFault> faults;
    int unplugAtBlock;  // 0: never
    std::string message;
  };
  const Row rows[] = {
      {"stops answering at block 5",
       {SimFault::DropReply(FaultTrigger::AtBlock(5))},
       0,
       "the controller stopped answering: writing block 5 of 20: the device did not answer; it "
       "stays in boot mode: unplug and replug it, then run the same command again"},
      {"goes away at block 3",
       {SimFault::Remove(FaultTrigger::AtBlock(3))},
       0,
       "the controller stopped answering: writing block 3 of 20: read: the device went away"},
      // The system's reason for the failed write, not the reads' that follow it.
      {"unplugged as block 3 is written",
       {},
       3,
       "the controller stopped answering: writing block 3 of 20: write: the device went away; it "
       "stays in boot mode"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CCliHarness one;
    auto& device = one.AddDevice();
    device.SetFaults(row.faults);
    if (row.unplugAtBlock != 0) {
      one.wrap = AtBlock(row.unplugAtBlock, [&device] { device.Unplug(); });
    }
    const auto run = one.Run({"flash", image, "--yes"});
    EXPECT_EQ(run.code, 7);
    EXPECT_EQ(LastLine(run.err).rfind("update-cli: " + row.message, 0), 0u) << run.err;
    const Codes sent = ReceivedCodes(device);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x0007), 0) << "completed a failed run";
  }
}

TEST_F(Flash, TheCrcMismatchGivesBothValuesAndKeepsBootMode) {
  auto& device = cli.AddDevice();
  device.SetFaults({sim::SimFault::WrongCrc()});
  const auto run = cli.Run({"flash", image, "--yes", "--json"});
  EXPECT_EQ(run.code, 8);
  const auto crcs = nlohmann::json::parse(run.out).value("run", nlohmann::json::object());
  const std::string imageCrc = crcs.value("imageCrc", "");
  const std::string deviceCrc = crcs.value("deviceCrc", "");
  EXPECT_TRUE(imageCrc.starts_with("0x") && deviceCrc.starts_with("0x") && imageCrc != deviceCrc)
      << run.out;
  EXPECT_TRUE(Contains(run.err, "(image " + imageCrc + ", controller " + deviceCrc + ")"));
  EXPECT_TRUE(Contains(run.err, "stays in boot mode and a new run writes it anew"));
  EXPECT_EQ(device.Mode(), sim::SimMode::kBoot);
}

TEST_F(Flash, AControllerThatDoesNotComeBackAfterTheUpdateIsReportedButTheUpdateStands) {
  auto& device = cli.AddDevice();
  device.SetFaults({sim::SimFault::Remove(sim::FaultTrigger::AtCode(0x0007), 1ms)});
  cli.waits.application = 300ms;
  const auto run = cli.Run({"flash", image, "--yes", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "Firmware upgraded!\nWaiting for the controller to restart in "
                       "application mode...\nThe controller did not come back in "
                       "application mode within 0.3 s; the update itself was verified."));
  EXPECT_TRUE(Contains(run.out, "\"newVersion\": null,\n  \"returnedToApplication\": false"));
  EXPECT_EQ(device.StoredRegion(), kPayload);
}

TEST_F(Flash, AControllerThatDoesNotComeBackInBootModeTimesOut) {
  auto& device = cli.AddDevice();
  device.SetFaults({sim::SimFault::Remove(sim::FaultTrigger::AtCode(0x000C))});
  cli.waits.bootMode = 300ms;
  const auto run = cli.Run({"flash", image, "--yes"});
  EXPECT_EQ(run.code, 10);
  EXPECT_EQ(LastLine(run.err),
            "update-cli: the controller did not come back in boot mode within 0.3 s: unplug and "
            "replug it, then run the same command again (a controller waiting in boot mode is "
            "flashed directly)");
}

// With --simulate the controller ends with the program: no advice to come back to it.
TEST_F(Flash, CtrlCStopsAtABlockBoundaryAndSaysHowToRecover) {
  const Bytes payload = Pattern(46 * 300);
  const std::string big = WriteImage(dir, "big.dat", payload);
  const struct {
    std::vector<std::string> extra;
    std::string advice;
  } rows[] = {
      {{},
       "; the controller stays in boot mode: run the same command again to finish the update\n"},
      {{"--simulate"},
       "; the simulated controller ends with this program; the next run starts it afresh\n"},
  };
  for (const auto& row : rows) {
    CCliHarness one;
    sim::SimConfig config;
    config.replyLatency = 2ms;  // many blocks still to go when the stop lands
    auto& device = one.AddDevice(config);
    one.wrap = AtBlock(5, [&one] { one.interrupt.Signal(); });
    std::vector<std::string> arguments = {"flash", big, "--yes", "--json"};
    arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
    const auto run = one.Run(arguments);
    EXPECT_EQ(run.code, 9);
    EXPECT_TRUE(Contains(run.err, "Stopping at the next block boundary (Ctrl-C again"));
    EXPECT_TRUE(Contains(run.err, row.advice)) << run.err;
    const Codes sent = ReceivedCodes(device);
    const auto blocks = std::count(sent.begin(), sent.end(), 0x0003);
    EXPECT_GE(blocks, 5);
    EXPECT_LT(blocks, 300);
    EXPECT_EQ(sent.back(), 0x0003) << "nothing follows the last whole block";
    EXPECT_TRUE(Contains(run.err, "interrupted after block " + std::to_string(blocks) + " of 300"));
    EXPECT_EQ(device.Mode(), sim::SimMode::kBoot);
  }
}

TEST_F(Flash, WhichControllerWhenThereAreSeveral) {
  auto& first = cli.AddDevice();
  auto& second = cli.AddDevice();
  const auto ambiguous = cli.Run({"flash", image, "--yes"});
  EXPECT_EQ(ambiguous.code, 11);
  EXPECT_EQ(ambiguous.err,
            "update-cli: 2 controllers found (sim:0, sim:1): choose one with --device PATH\n");
  EXPECT_TRUE(first.Received().empty());
  EXPECT_TRUE(second.Received().empty());

  // The command line's own two simulated controllers: only the one chosen is written.
  CCliHarness simulated;
  simulated.ownPlatforms = true;
  std::shared_ptr<sim::CSimPlatform> bus;
  simulated.wrap = [&bus](std::shared_ptr<hid::IHidPlatform> built) {
    bus = std::dynamic_pointer_cast<sim::CSimPlatform>(built);
    return built;
  };
  const auto chosen = simulated.Run({"flash", image, "--simulate=2", "--device", "sim:1", "--yes"});
  ASSERT_EQ(chosen.code, 0) << chosen.err;
  ASSERT_NE(bus, nullptr);
  EXPECT_TRUE(bus->Controller(0).Received().empty());
  EXPECT_FALSE(bus->Controller(0).WasErased());
  EXPECT_EQ(ReceivedCodes(bus->Controller(1)), RoadCodes(false));
  EXPECT_EQ(bus->Controller(1).StoredRegion(), kPayload);
}

TEST_F(Flash, NoControllerOrNoPermission) {
  const auto none = cli.Run({"flash", image, "--yes"});
  EXPECT_EQ(none.code, 3);
  EXPECT_EQ(none.err,
            "update-cli: no controller found: plug it in and run again (one waiting "
            "in boot mode is found too)\n");

  auto locked = std::make_shared<testing_support::CFakeHidPlatform>();
  locked->interfaces = {{"/dev/hidraw3", hid::kVendorId, hid::kAppProductId}};
  locked->writeOpenError =
      base::Error{base::ErrorKind::kPermissionDenied, "open /dev/hidraw3: Permission denied"};
  cli.platform = [locked] { return locked; };
  const auto denied = cli.Run({"flash", image, "--yes"});
  EXPECT_EQ(denied.code, 4);
  EXPECT_EQ(denied.err,
            "update-cli: found the controller at /dev/hidraw3 but may not open it (open "
            "/dev/hidraw3: Permission denied): " +
                cli::PermissionHint() + "\n");
  EXPECT_TRUE(locked->Written().empty());
}

}  // namespace
