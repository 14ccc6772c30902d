// update-cli devices, and the simulated controller in-process (--simulate). The
// emulator over its socket: EmulatorProgramTest.cpp.
#include <gtest/gtest.h>

#include "tests/cli/CliHarness.h"
#include "tests/support/FakeHidPlatform.h"

namespace {

using namespace std::chrono_literals;
using cli_test::CCliHarness;

TEST(Devices, ListsEveryControllerWithWhatItSaysAboutItself) {
  CCliHarness cli;
  sim::SimConfig beta;
  beta.version = 301;
  beta.beta = 4;
  cli.AddDevice(beta);
  sim::SimConfig boot;
  boot.startInBootMode = true;
  boot.typeCode = 0x6011;
  cli.AddDevice(boot);

  const auto run = cli.Run({"devices"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "sim:0  application mode  type 0x600A  firmware 3.01 beta4\n"
            "sim:1  boot mode  type 0x6011\n");
  // One identification query each, nothing that changes their state.
  EXPECT_EQ(cli_test::ReceivedCodes(*cli.devices[0]), std::vector<std::uint16_t>{0x0101});
  EXPECT_EQ(cli_test::ReceivedCodes(*cli.devices[1]), std::vector<std::uint16_t>{0x0008});

  const auto json = cli.Run({"devices", "--json", "--device", "sim:1"});
  EXPECT_EQ(json.out,
            "{\n  \"devices\": [\n    {\n      \"path\": \"sim:1\",\n      \"mode\": \"boot\",\n"
            "      \"type\": \"0x6011\",\n      \"problem\": null\n    }\n  ]\n}\n");
}

TEST(Devices, NoneOrLockedSayWhatToDo) {
  // Under the empty list: why there is none, and what to do.
  CCliHarness empty;
  const auto none = empty.Run({"devices", "--json"});
  EXPECT_EQ(none.code, 3);
  const auto document = cli::Json::parse(none.out);
  EXPECT_EQ(document["devices"], cli::Json::array());
  EXPECT_EQ(document["findings"][0]["kind"], "nothing-found");
  const auto plain = empty.Run({"devices"});
  EXPECT_TRUE(cli_test::Contains(plain.out, "problem: No device of the controller's maker"))
      << plain.out;
  EXPECT_TRUE(cli_test::Contains(plain.out, "  what to do: Check that the cable carries data"));

  CCliHarness cli;
  auto locked = std::make_shared<testing_support::CFakeHidPlatform>();
  locked->interfaces = {{"/dev/hidraw5", hid::kVendorId, hid::kBootProductId}};
  locked->writeOpenError = base::Error{base::ErrorKind::kPermissionDenied, "Permission denied"};
  cli.platform = [locked] { return locked; };
  const auto denied = cli.Run({"devices"});
  EXPECT_EQ(denied.code, 4);
  EXPECT_NE(denied.out.find("/dev/hidraw5  boot mode  (found the controller at /dev/hidraw5 but "
                            "may not open it (Permission denied): " +
                            cli::PermissionHint()),
            std::string::npos)
      << denied.out;
}

TEST(Doctor, TellsWhetherAControllerCanBeUsedAndSendsItNothing) {
  CCliHarness ready;
  ready.AddDevice();
  const auto ok = ready.Run({"doctor"});
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(ok.out, "passed: The controller in application mode is ready at sim:0.\n");
  EXPECT_TRUE(cli_test::ReceivedCodes(*ready.devices[0]).empty());

  CCliHarness cli;
  auto locked = std::make_shared<testing_support::CFakeHidPlatform>();
  locked->interfaces = {{"/dev/hidraw5", hid::kVendorId, hid::kBootProductId}};
  locked->writeOpenError = base::Error{base::ErrorKind::kPermissionDenied, "Permission denied"};
  cli.platform = [locked] { return locked; };
  const auto denied = cli.Run({"doctor"});
  EXPECT_EQ(denied.code, 3);
  EXPECT_EQ(denied.out.substr(0, denied.out.find("udevadm trigger")),
            "problem: The controller in boot mode is at /dev/hidraw5, but this user may not open "
            "it (Permission denied).\n  what to do: Install the controller's udev rule with echo "
            "'SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"4b2e\", ATTRS{idProduct}==\"6e21|6e30\", "
            "TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/70-corvane-update.rules && sudo "
            "udevadm control --reload-rules && sudo ");
  EXPECT_TRUE(locked->Written().empty());

  const auto json = cli::Json::parse(cli.Run({"doctor", "--json", "--lang", "zh"}).out);
  EXPECT_EQ(json["usable"], false);
  EXPECT_EQ(json["findings"][0]["kind"], "permission-denied");
  EXPECT_EQ(json["findings"][0]["subject"], "/dev/hidraw5");
  EXPECT_TRUE(cli_test::Contains(json["findings"][0]["text"], "当前用户无权打开它"));
}

TEST(Simulate, TheSimulatedControllerTakesTheImagesVersion) {
  testing_support::CTempDir dir;
  const std::string image =
      cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(2000), 0x600A, 301);
  CCliHarness cli;
  cli.ownPlatforms = true;
  const auto run = cli.Run({"flash", image, "--simulate", "--yes"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("back in application mode with firmware 3.01."), std::string::npos);
}

}  // namespace
