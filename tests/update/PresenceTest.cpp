#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeHidPlatform.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/Replies.h"
#include "update/Road.h"

namespace {

using testing_support::AppInfo;
using testing_support::AppReply;
using testing_support::BootReply;
using testing_support::CFakeHidPlatform;
using testing_support::CRecordingUi;
using Calls = std::vector<std::string>;

const std::string kTitle = "SetWindowTitle:Corvane Update v2.15";
const hid::InterfaceInfo kAppDevice{"/dev/hidraw1", hid::kVendorId, hid::kAppProductId};
const hid::InterfaceInfo kBootDevice{"/dev/hidraw1", hid::kVendorId, hid::kBootProductId};

struct PresenceRig {
  std::shared_ptr<CFakeHidPlatform> platform = std::make_shared<CFakeHidPlatform>();
  std::vector<std::string> debug;
  CRecordingUi ui;
  update::CRoad road{platform, ui, [this] {
                       update::RoadOptions options;
                       options.languageId = 1033;
                       options.debug = [this](std::string_view line) { debug.emplace_back(line); };
                       return options;
                     }()};
  update::CUpdateController& controller = road.Control();

  void AppDeviceAnswers(std::uint16_t type, std::uint32_t versionWord) {
    platform->QueueReport(AppReply(0x0101, AppInfo(type, versionWord)));
  }
};
struct PresenceFixture : ::testing::Test, PresenceRig {};

TEST_F(PresenceFixture, StartUpReadsTypeAndVersionOfAnApplicationModeDevice) {
  platform->interfaces = {kAppDevice};
  AppDeviceAnswers(0x6011, 0x80010103);
  road.StartUp();
  EXPECT_EQ(controller.GetDeviceKind(), 6);
  // Bit 31 is dropped: version 2.59, beta 1.
  EXPECT_EQ(controller.GetCurrentFirmwareInfo(), 0x00010103u);
  EXPECT_EQ(ui.Calls(), (Calls{"EnableUpdateButton(1)", "EnableUpdateButton(1)", kTitle}));
  EXPECT_EQ(debug, (std::vector<std::string>{"m_DevicePath:/dev/hidraw1\n"}));
  EXPECT_EQ(platform->Written().size(), 1u);
}

TEST_F(PresenceFixture, AnUnknownTypeKeepsItsVersionButNotAKind) {
  platform->interfaces = {kAppDevice};
  AppDeviceAnswers(0x7001, 0x00000120);
  road.StartUp();
  EXPECT_EQ(controller.GetDeviceKind(), 7);
  EXPECT_EQ(controller.GetCurrentFirmwareInfo(), 0x120u);
  // The start-up scan enables the button because a version was read...
  EXPECT_EQ(ui.Calls(), (Calls{"EnableUpdateButton(1)", kTitle}));
  // ...but a click on a device of no known kind sends nothing.
  road.OnUpdateClicked();
  EXPECT_EQ(platform->Written().size(), 1u);
  EXPECT_EQ(ui.Calls().size(), 2u);
}

TEST_F(PresenceFixture, AFailedIdentificationLeavesTheButtonDisabled) {
  platform->interfaces = {kAppDevice};
  road.StartUp();  // no replies: five reads, six queries
  EXPECT_EQ(platform->Written().size(), 6u);
  EXPECT_EQ(ui.Calls(), (Calls{kTitle}));
  EXPECT_EQ(controller.GetCurrentFirmwareInfo(), 0x5A5A5A5Au);
}

// What each notice does, by code, device presence and whether a version was read.
TEST_F(PresenceFixture, NoticeTable) {
  struct Case {
    const char* name;
    std::uint32_t code;
    bool present;
    bool versionRead;
    Calls calls;
    bool debugLine;
    bool searched;
  };
  const Calls gone = {"EnableUpdateButton(0)", kTitle};
  const Case cases[] = {
      // A controller found on a change of the tree is identified before the button may
      // send it anything; this one does not answer.
      {"tree changed, device, version", 0x0007, true, true, {}, false, true},
      {"tree changed, device, no version", 0x0007, true, false, {}, false, true},
      {"tree changed, no device", 0x0007, false, true, gone, false, true},
      {"removal, device left", 0x8004, true, true, {}, false, true},
      {"removal, no device", 0x8004, false, true, gone, true, true},
      {"arrival, no device", 0x8000, false, false, {}, false, true},
      {"other code", 0x0018, false, true, {}, false, false},
      {"high bits ignored", 0xFFFF8004u, false, true, gone, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenceRig f;
    if (c.versionRead) {
      f.controller.SetCurrentFirmwareInfo(215);
    }
    f.platform->interfaces =
        c.present ? std::vector{kBootDevice} : std::vector<hid::InterfaceInfo>{};
    // A boot-mode device that does not answer its type query starts no run here.
    f.road.OnDeviceChange(c.code);
    EXPECT_EQ(f.ui.Calls(), c.calls);
    EXPECT_EQ(f.platform->enumerateCalls, c.searched ? 1 : 0);
    const bool wroteTitle = std::count(f.debug.begin(), f.debug.end(), "Corvane Update v2.15") > 0;
    EXPECT_EQ(wroteTitle, c.debugLine);
    EXPECT_EQ(f.controller.GetCurrentFirmwareInfo(), c.versionRead ? 215u : 0x5A5A5A5Au);
    EXPECT_EQ(f.controller.GetDeviceKind(), 7);
  }
}

TEST_F(PresenceFixture, ABootModeDeviceStartsARunOnlyForAKnownType) {
  platform->interfaces = {kBootDevice};
  platform->QueueReport(BootReply(0x0008, {0x34, 0x12}));
  road.StartUp();
  EXPECT_EQ(ui.FileRequests().size(), 0u);
  EXPECT_EQ(controller.GetDeviceKind(), 7);
  EXPECT_EQ(road.View().unusable, update::Unusable::kUnknownType);

  platform->QueueReport(BootReply(0x0008, {0x0A, 0x60}));
  road.OnDeviceChange(hid::kNoticeArrival);
  EXPECT_EQ(controller.GetDeviceKind(), 5);
  ASSERT_EQ(road.RoadsEnded(), 1);
  // The dialog was cancelled: nothing ran.
  EXPECT_EQ(road.LastEnd()->outcome.failure, update::RunFailure::kNoImageChosen);
  EXPECT_EQ(road.RunsStarted(), 0);
  EXPECT_EQ(ui.FileRequests().size(), 1u);
  // The run leaves the button and the version as they were.
  EXPECT_EQ(controller.GetCurrentFirmwareInfo(), 0x5A5A5A5Au);
}

}  // namespace
