// The simulated controller served by update-sim-emulator in a process of its own, and
// the tool reaching it through the emulator link: the same road as over USB.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>

#include "firmware/FirmwareHeader.h"
#include "hid/emulator/EmulatorPlatform.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TempDir.h"
#include "update/UpdateController.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kBound = 20s;

struct SimBehindSocket : ::testing::Test {
  testing_support::CTempDir dir;
  std::string socket = (dir.Path() / "emu.sock").string();
  std::unique_ptr<testing_support::CChildProcess> emulator;
  std::shared_ptr<hid::emulator::CEmulatorPlatform> platform;
  std::unique_ptr<hid::CHid> link;
  testing_support::CRecordingUi ui;
  std::unique_ptr<update::CUpdateController> controller;

  void Start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--socket", socket});
    emulator = std::make_unique<testing_support::CChildProcess>(UPDATE_SIM_EMULATOR, arguments);
    ASSERT_TRUE(emulator->Started());
    ASSERT_EQ(emulator->ReadLine(kBound), "listening " + socket);
    auto connected = hid::emulator::CEmulatorPlatform::Connect(socket);
    ASSERT_TRUE(connected.ok()) << connected.error().message;
    platform = connected.value();
    link = std::make_unique<hid::CHid>(platform);
    controller = std::make_unique<update::CUpdateController>(
        *link, ui,
        update::ControllerOptions{
            {}, [](text::TextId id) { return text::LoadLocalizedText(id, 1033); }, {}, {}});
    controller->StartUp();
  }

  void TearDown() override {
    controller.reset();
    link.reset();
    platform.reset();
  }

  std::uint32_t Deliver() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto codes = platform->TakeNotices();
      if (!codes.empty()) {
        for (std::uint32_t code : codes) {
          controller->OnDeviceChange(code);
        }
        return codes.back();
      }
      pollfd fd{platform->NoticeFd(), POLLIN, 0};
      poll(&fd, 1, 100);
    }
    ADD_FAILURE() << "no notice came";
    return 0;
  }

  std::string Image(std::size_t payloadBytes) {
    firmware::FirmwareHeader header;
    header.version = 215;
    header.firmwareType = 0x600A;
    header.payloadLength = static_cast<std::uint32_t>(payloadBytes);
    const auto head = firmware::SerializeFirmwareHeader(header);
    Bytes bytes(head.begin(), head.end());
    for (std::size_t i = 0; i < payloadBytes; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    }
    return dir.WriteFile("image.dat", bytes);
  }
};

TEST_F(SimBehindSocket, AnUpdateFromClickToTheNewVersion) {
  Start({"--reenumerate-ms", "300", "--region-start", "46"});
  ASSERT_TRUE(ui.ButtonEnabled());
  EXPECT_EQ(controller->GetCurrentFirmwareInfo(), 214u);
  ui.QueueFile(Image(46 * 50 + 5));

  controller->OnUpdateClicked();
  EXPECT_EQ(Deliver(), hid::kNoticeRemoveComplete);
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);
  const auto outcome = controller->WaitForRunEnd(kBound);
  ASSERT_TRUE(outcome.has_value());
  ASSERT_TRUE(outcome->Completed()) << update::Describe(*outcome);
  EXPECT_EQ(outcome->blockCount, 50u);

  EXPECT_EQ(Deliver(), hid::kNoticeRemoveComplete);
  EXPECT_EQ(Deliver(), hid::kNoticeArrival);
  EXPECT_EQ(controller->GetCurrentFirmwareInfo(), 215u);
  EXPECT_TRUE(ui.ButtonEnabled());
  EXPECT_TRUE(ui.LabelVisible());
}

}  // namespace
