#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/FilePath.h"
#include "base/LittleEndian.h"
#include "protocol/Crc16.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/Replies.h"
#include "tests/support/TempDir.h"
#include "update/UpdateController.h"

namespace {

using testing_support::BootReply;
using testing_support::CFakeHidPlatform;
using testing_support::CodesOf;
using testing_support::CRecordingUi;
using testing_support::Le16;
using testing_support::Le32;
using update::RunFailure;
using update::RunStep;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint16_t>;

// An image file: header, `payloadLength` bytes of payload, `trailing` bytes after it.
struct Image {
  Bytes bytes;
  std::uint32_t payloadLength = 0;
};

Image MakeImage(std::uint32_t payloadLength, std::size_t trailing = 0) {
  return {testing_support::ImageBytes(testing_support::Pattern(payloadLength + trailing), 0x600A,
                                      payloadLength),
          payloadLength};
}

struct RunRig {
  testing_support::CTempDir dir;
  std::shared_ptr<CFakeHidPlatform> platform = std::make_shared<CFakeHidPlatform>();
  std::vector<std::string> debug;
  hid::CHid link{platform};
  CRecordingUi ui;
  update::CUpdateController controller{
      link, ui, [this] {
        update::ControllerOptions options;
        options.commands.eraseBound = std::chrono::milliseconds(100);
        options.texts = [](text::TextId id) { return text::LoadLocalizedText(id, 1033); };
        options.debug = [this](std::string_view line) { debug.emplace_back(line); };
        return options;
      }()};
  std::string path;

  void SetUp() {
    platform->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kBootProductId}};
    ASSERT_EQ(link.FindDevice(), 1);
    controller.SetDeviceKind(5);
    controller.SetCurrentFirmwareInfo(214);
  }

  void Choose(const Image& image) {
    path = dir.WriteFile("image.dat", image.bytes);
    ui.QueueFile(path);
  }

  // Scripts the device's replies for a run: the region start, the erase, `blocks` block
  // echoes, then (when `blocks` covers the region) finish, CRC and completion.
  void Script(std::uint32_t regionStart, std::size_t blocks, bool tail = true,
              std::optional<std::uint16_t> crc = std::nullopt, const Image* image = nullptr) {
    platform->QueueReport(BootReply(0x00C1, Le32(regionStart)));
    platform->QueueReport(BootReply(0x0004));
    for (std::size_t i = 0; i < blocks; ++i) {
      platform->QueueReport(BootReply(0x0003));
    }
    if (!tail) {
      return;
    }
    platform->QueueReport(BootReply(0x00C2));
    std::uint16_t value = crc.value_or(0);
    if (!crc && image != nullptr) {
      const std::size_t length = std::min<std::size_t>(4096, image->payloadLength - regionStart);
      value = protocol::Crc16(image->bytes.data() + 28 + regionStart, static_cast<int>(length));
    }
    platform->QueueReport(BootReply(0x00C3, Le16(value)));
    platform->QueueReport(BootReply(0x0007));
  }

  update::RunOutcome RunWorker() { return controller.RunInPlace(); }
  // The run's own commands: without the type queries of the identification that looks
  // again once a run has ended (a run never sends 0x0008).
  Codes Sent() const {
    Codes codes = CodesOf(platform->Written());
    std::erase(codes, std::uint16_t{0x0008});
    return codes;
  }
};

struct RunFixture : ::testing::Test, RunRig {
  void SetUp() override { RunRig::SetUp(); }
};

TEST_F(RunFixture, ACompleteRunSendsEveryCommandInOrderAndTellsTheUser) {
  const Image image = MakeImage(10000, 0);
  Choose(image);
  const std::size_t blocks = (10000 - 2048 + 45) / 46;  // 173
  Script(2048, blocks, true, std::nullopt, &image);

  const auto outcome = RunWorker();
  ASSERT_TRUE(outcome.Completed()) << update::Describe(outcome);
  EXPECT_EQ(outcome.regionLength, 7952u);
  EXPECT_EQ(outcome.blockCount, 173u);
  EXPECT_TRUE(outcome.completeConfirmed);

  Codes expected = {0x00C1, 0x0004};
  expected.insert(expected.end(), blocks, 0x0003);
  expected.insert(expected.end(), {0x00C2, 0x00C3, 0x0007});
  const auto written = platform->Written();
  EXPECT_EQ(CodesOf(written), expected);

  // The erase covers the region; each block carries its offset, length, the region
  // length and its own CRC; the last one the remaining 40 bytes.
  EXPECT_EQ(Bytes(written[1].begin() + 10, written[1].begin() + 14), Le32(7952));
  const Bytes& last = written[2 + blocks - 1];
  EXPECT_EQ(last[6], 40);
  EXPECT_EQ(Bytes(last.begin() + 10, last.begin() + 14), Le32(7952));
  EXPECT_EQ(Bytes(last.begin() + 14, last.begin() + 18), Le32(7912));
  EXPECT_EQ(Bytes(last.begin() + 18, last.begin() + 58),
            Bytes(image.bytes.begin() + 28 + 2048 + 7912, image.bytes.end()));
  EXPECT_EQ(protocol::Crc16(last.data() + 18, 40), base::LoadU16(&last[8]));

  // The CRC query: range 0..4096, reserved 0, the region's word sum and its length.
  const Bytes& crcQuery = written[written.size() - 2];
  EXPECT_EQ(crcQuery[6], 20);
  EXPECT_EQ(Bytes(crcQuery.begin() + 18, crcQuery.begin() + 26),
            (Bytes{0, 0, 0, 0, 0x00, 0x10, 0, 0}));
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= 7952; i += 4) {
    sum += base::LoadU32(image.bytes.data() + 28 + 2048 + i);
  }
  EXPECT_EQ(Bytes(crcQuery.begin() + 30, crcQuery.begin() + 34), Le32(sum));
  EXPECT_EQ(Bytes(crcQuery.begin() + 34, crcQuery.begin() + 38), Le32(7952));

  // The completing command goes out with the query's bytes still in the transmit buffer.
  EXPECT_EQ(Bytes(written.back().begin() + 18, written.back().begin() + 38),
            Bytes(crcQuery.begin() + 18, crcQuery.begin() + 38));
  EXPECT_EQ(ui.FileRequests()[0].filter, "File type(*.dat)|*.dat||");
  EXPECT_EQ(ui.FileRequests()[0].defaultExtension, "*.*");
}

// The first file dialog opens where the window chooses (empty: the user's downloads), never
// in the program's own folder; the next one where the last image was chosen, even one
// that was refused.
TEST_F(RunFixture, TheFileDialogOpensWhereTheLastImageWasChosen) {
  ui.QueueFile(dir.WriteFile("empty.dat", {}));
  EXPECT_EQ(RunWorker().failure, RunFailure::kImageRefused);
  EXPECT_EQ(RunWorker().failure, RunFailure::kNoImageChosen);
  const auto requests = ui.FileRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].initialDirectory, "");
  EXPECT_EQ(requests[1].initialDirectory, base::Utf8FromPath(dir.Path()));
}

TEST_F(RunFixture, TrailingBytesTakeTheBarTo100AndTheLastBlockStopsAtTheRegionEnd) {
  const Image image = MakeImage(100, 60);
  Choose(image);
  Script(0, 3, true, std::nullopt, &image);
  const auto outcome = RunWorker();
  ASSERT_TRUE(outcome.Completed()) << update::Describe(outcome);
  const auto written = platform->Written();
  ASSERT_EQ(CodesOf(written).size(), 8u);
  EXPECT_EQ(written[4][6], 8);  // 46 + 46 + 8: nothing from beyond the region
  EXPECT_EQ(written[4][18 + 8], 0);
  const auto history = ui.ProgressHistory();
  EXPECT_EQ(history[history.size() - 2], 100);
}

// Every way the device can end a run early: what was sent, what the user saw, and the
// reason. (The ways the asking before a run ends it are the window's tests.)
TEST_F(RunFixture, FailureTable) {
  struct Case {
    const char* name;
    std::function<void(RunRig&)> arrange;
    RunStep step;
    RunFailure failure;
    Codes sent;
  };
  // Each run chooses an image of five blocks.
  const Case cases[] = {
      {"device does not open",
       [](RunRig& f) {
         f.platform->writeOpenError = base::Error{base::ErrorKind::kIo, "denied"};
       },
       RunStep::kLinking,
       RunFailure::kDeviceNotOpen,
       {}},
      {"region query unanswered",
       [](RunRig&) {},
       RunStep::kQueryingRegion,
       RunFailure::kDeviceCommand,
       {0x00C1}},
      {"device gone during the erase",
       [](RunRig& f) {
         f.platform->QueueReport(BootReply(0x00C1, Le32(0)));
         f.platform->QueueRead({hid::ReadOutcome::kDeviceGone, {}});
       },
       RunStep::kErasing,
       RunFailure::kDeviceCommand,
       {0x00C1, 0x0004}},
      {"finish unanswered",
       [](RunRig& f) { f.Script(0, 5, false); },
       RunStep::kFinishing,
       RunFailure::kDeviceCommand,
       {0x00C1, 0x0004, 0x0003, 0x0003, 0x0003, 0x0003, 0x0003, 0x00C2}},
      {"CRC mismatch",
       [](RunRig& f) { f.Script(0, 5, true, 0xBEEF); },
       RunStep::kVerifying,
       RunFailure::kCrcMismatch,
       {0x00C1, 0x0004, 0x0003, 0x0003, 0x0003, 0x0003, 0x0003, 0x00C2, 0x00C3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunRig f;
    f.SetUp();
    f.Choose(MakeImage(200));
    c.arrange(f);
    const auto outcome = f.RunWorker();
    EXPECT_EQ(outcome.step, c.step) << update::Describe(outcome);
    EXPECT_EQ(outcome.failure, c.failure) << update::Describe(outcome);
    EXPECT_EQ(f.Sent(), c.sent);
    EXPECT_EQ(f.ui.BoxTexts(), std::vector<std::string>{"New firmware 2.15 and current is 2.14\n"});
    // A failed run never shows the label, never touches the button.
    EXPECT_FALSE(f.ui.LabelVisible());
    for (const auto& call : f.ui.Calls()) {
      EXPECT_EQ(call.find("EnableUpdateButton"), std::string::npos);
    }
  }
}

TEST_F(RunFixture, AFailedBlockFreezesTheBarAndKeepsTheBlock) {
  const Image image = MakeImage(46 * 10);
  Choose(image);
  Script(0, 4, false);
  const auto outcome = RunWorker();
  EXPECT_EQ(outcome.failure, RunFailure::kDeviceCommand);
  EXPECT_EQ(outcome.block, 4u);
  EXPECT_EQ(ui.Progress(), 40);
  EXPECT_EQ(Sent().back(), 0x0003);  // nothing after the failed block
}

TEST_F(RunFixture, CancellingThePromptWritesTheDebugLine) {
  Choose(MakeImage(46));
  ui.QueueBoxAnswer(update::MessageResult::kCancel);
  (void)RunWorker();
  EXPECT_EQ(debug, (std::vector<std::string>{"MessageBox == IDCANCEL\n"}));
}

TEST_F(RunFixture, ADeviceBackInApplicationModeBeforeTheLastEchoIsReadIsStillIdentified) {
  // The controller restarts right after it answers the completing command; on a busy
  // machine its return can be handled before the worker has read that answer.
  const Image image = MakeImage(46);
  Choose(image);
  platform->QueueReport(BootReply(0x0008, {0x0A, 0x60}));
  platform->QueueReport(BootReply(0x00C1, Le32(0)));
  platform->QueueReport(BootReply(0x0004));
  platform->QueueReport(BootReply(0x0003));
  platform->QueueReport(BootReply(0x00C2));
  platform->QueueReport(BootReply(0x00C3, Le16(protocol::Crc16(image.bytes.data() + 28, 46))));
  platform->QueueReport(testing_support::AppReply(0x0101, testing_support::AppInfo(0x600A, 215)));
  platform->QueueReport(BootReply(0x0007));
  controller.SetRunProgressObserver([this](const update::RunOutcome& progress) {
    if (progress.step == RunStep::kCompleting) {
      platform->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kAppProductId}};
      ASSERT_EQ(link.FindDevice(), 1);
      controller.IdentifyDevice();
    }
  });
  controller.StartUp();
  const auto outcome = controller.WaitForRunEnd(std::chrono::seconds(10));
  ASSERT_TRUE(outcome.has_value());
  EXPECT_TRUE(outcome->Completed()) << update::Describe(*outcome);
  EXPECT_EQ(controller.GetCurrentFirmwareInfo(), 215u);
  EXPECT_EQ(controller.VersionAfterUpdate(), 215u);
}

}  // namespace

TEST_F(RunFixture, TheProgressObserverSeesEachStepOnceAndEveryConfirmedBlock) {
  const Image image = MakeImage(46 * 3 + 10);
  Choose(image);
  Script(0, 4, true, std::nullopt, &image);
  std::vector<std::pair<RunStep, std::uint32_t>> seen;
  controller.SetRunProgressObserver(
      [&](const update::RunOutcome& now) { seen.emplace_back(now.step, now.block); });
  ASSERT_TRUE(RunWorker().Completed());
  const std::vector<std::pair<RunStep, std::uint32_t>> expected = {
      {RunStep::kLinking, 0},   {RunStep::kQueryingRegion, 0}, {RunStep::kCheckingImage, 0},
      {RunStep::kErasing, 0},   {RunStep::kStreaming, 0},      {RunStep::kStreaming, 1},
      {RunStep::kStreaming, 2}, {RunStep::kStreaming, 3},      {RunStep::kStreaming, 4},
      {RunStep::kFinishing, 4}, {RunStep::kVerifying, 4},      {RunStep::kCompleting, 4}};
  EXPECT_EQ(seen, expected);
}
