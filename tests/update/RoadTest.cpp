// The whole road of an update against the simulated controller: start in application
// mode, click, the device restarts in its bootloader, the run writes and verifies the
// image, the device comes back in application mode with its new version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/LittleEndian.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TempDir.h"
#include "update/UpdateController.h"

namespace {

using namespace std::chrono_literals;
using testing_support::CRecordingUi;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kBound = 20s;  // far above anything the road needs; only a hang reaches it

struct Road : ::testing::Test {
  std::shared_ptr<sim::CSimController> device;
  std::shared_ptr<sim::CSimPlatform> platform;
  std::unique_ptr<hid::CHid> link;
  CRecordingUi ui;
  std::unique_ptr<update::CUpdateController> controller;  // goes first: joins a run

  // One controller, or several at the ports "sim-port-0", "sim-port-1", ... (device is the
  // first).
  void Start(sim::SimConfig config) { Start(std::vector{config}); }
  void Start(const std::vector<sim::SimConfig>& configs) {
    std::vector<std::shared_ptr<sim::CSimController>> devices;
    for (const sim::SimConfig& config : configs) {
      devices.push_back(std::make_shared<sim::CSimController>(config));
    }
    device = devices.front();
    platform = std::make_shared<sim::CSimPlatform>(devices);
    link = std::make_unique<hid::CHid>(platform);
    controller = std::make_unique<update::CUpdateController>(*link, ui, [] {
      update::ControllerOptions options;
      options.texts = [](text::TextId id) { return text::LoadLocalizedText(id, 1033); };
      return options;
    }());
    controller->StartUp();
  }

  // Waits for the next notice and hands it to the controller, as the window's event
  // loop does. Returns its code.
  std::uint32_t Deliver() {
    for (;;) {
      const auto codes = platform->TakeNotices();
      if (!codes.empty()) {
        for (std::uint32_t code : codes) {
          controller->OnDeviceChange(code);
        }
        return codes.back();
      }
      if (!platform->Notices().WaitFor(kBound)) {
        ADD_FAILURE() << "no notice came";
        return 0;
      }
    }
  }

  std::vector<std::uint16_t> CodesReceived() const {
    std::vector<std::uint16_t> codes;
    for (const auto& frame : device->Received()) {
      // Application frames: 0x81 04 code; boot frames: 0x00 05 code.
      codes.push_back(base::LoadU16(&frame.bytes[2]));
    }
    return codes;
  }
};

TEST_F(Road, AnUpdateFromClickToTheNewVersion) {
  sim::SimConfig config;
  config.regionStart = 64;
  config.reenumerateDelay = 500ms;  // room to handle each removal before the return
  Start(config);
  ASSERT_TRUE(ui.ButtonEnabled());
  ASSERT_EQ(controller->GetCurrentFirmwareInfo(), 214u);

  testing_support::CTempDir dir;
  Bytes payload(64 + 46 * 100 + 17);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    payload[i] = static_cast<std::uint8_t>(i * 131 + 3);
  }
  ui.QueueFile(dir.WriteFile("road.dat", testing_support::ImageBytes(payload)));

  controller->OnUpdateClicked();
  EXPECT_EQ(Deliver(), hid::kNoticeRemoveComplete);
  EXPECT_FALSE(ui.ButtonEnabled());
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);  // back in boot mode: the run starts
  EXPECT_EQ(controller->RunsStarted(), 1);

  const auto outcome = controller->WaitForRunEnd(kBound);
  ASSERT_TRUE(outcome.has_value());
  ASSERT_TRUE(outcome->Completed()) << update::Describe(*outcome);
  EXPECT_TRUE(outcome->completeConfirmed);
  EXPECT_EQ(device->StoredRegion(), Bytes(payload.begin() + 64, payload.end()));

  // The completing command restarts the device in application mode.
  EXPECT_EQ(Deliver(), hid::kNoticeRemoveComplete);
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);
  EXPECT_EQ(controller->GetCurrentFirmwareInfo(), 215u);
  EXPECT_TRUE(ui.ButtonEnabled());
  EXPECT_TRUE(ui.LabelVisible());

  std::vector<std::uint16_t> expected = {0x0101, 0x000C, 0x0008, 0x00C1, 0x0004};
  expected.insert(expected.end(), 101, 0x0003);
  expected.insert(expected.end(), {0x00C2, 0x00C3, 0x0007, 0x0101});
  EXPECT_EQ(CodesReceived(), expected);

  const std::string title = "SetWindowTitle:Corvane Update v2.15";
  // Every call but the progress, in order; the progress on its own.
  std::vector<std::string> calls;
  for (const std::string& call : ui.Calls()) {
    if (call.rfind("SetProgress(", 0) != 0) {
      calls.push_back(call);
    }
  }
  const std::vector<int> progress = ui.ProgressHistory();
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
  // The file ends with the region: the bar stops at 99, then goes back to 0.
  EXPECT_EQ(progress[progress.size() - 2], 99);
  EXPECT_EQ(progress.back(), 0);
  EXPECT_EQ(calls,
            (std::vector<std::string>{
                "EnableUpdateButton(1)", "EnableUpdateButton(1)", title, "ShowCompletionLabel(0)",
                "EnableUpdateButton(0)", title, "ShowOpenFileDialog",
                "ShowMessageBox(OkCancel,Corvane Update v2.15):New firmware 2.15 and "
                "current is 2.14\n",
                "ShowMessageBox(Ok,Corvane Update v2.15):\n Firmware upgraded! \n",
                "ShowCompletionLabel(1)", "EnableUpdateButton(0)", "EnableUpdateButton(0)", title,
                "EnableUpdateButton(1)"}));
}

TEST_F(Road, TheRunStaysWithTheControllerItSwitchedThoughAnotherEnumeratesFirst) {
  // The user's controller sits at the second port. While it restarts, another one is
  // plugged into the first port, waiting in boot mode: it enumerates first, but the
  // image was checked for the user's controller, and only that one may be written.
  sim::SimConfig other;
  other.presentAtStart = false;
  sim::SimConfig ours;
  ours.reenumerateDelay = 300ms;
  Start({other, ours});
  ASSERT_TRUE(ui.ButtonEnabled());
  testing_support::CTempDir dir;
  const Bytes payload(46 * 20, 0x5C);
  ui.QueueFile(dir.WriteFile("road.dat", testing_support::ImageBytes(payload)));

  controller->OnUpdateClicked();
  EXPECT_EQ(Deliver(), hid::kNoticeRemoveComplete);
  platform->Controller(0).PlugIn(sim::SimMode::kBoot);
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);  // the other one: left alone
  EXPECT_EQ(controller->RunsStarted(), 0);
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);  // ours, back in boot mode at its port
  EXPECT_EQ(controller->RunsStarted(), 1);
  const auto outcome = controller->WaitForRunEnd(kBound);
  ASSERT_TRUE(outcome.has_value());
  ASSERT_TRUE(outcome->Completed()) << update::Describe(*outcome);
  EXPECT_EQ(platform->Controller(1).StoredRegion(), payload);
  EXPECT_FALSE(platform->Controller(0).WasErased());
  EXPECT_TRUE(platform->Controller(0).Received().empty());
}

}  // namespace
