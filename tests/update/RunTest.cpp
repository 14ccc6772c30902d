#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/LittleEndian.h"
#include "protocol/Crc16.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/Replies.h"
#include "tests/support/TempDir.h"
#include "update/UpdateController.h"
#include "update/Words.h"

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
  hid::CHid link{platform};
  CRecordingUi ui;
  update::CUpdateController controller{link, ui, [] {
                                         update::ControllerOptions options;
                                         options.commands.eraseBound =
                                             std::chrono::milliseconds(100);
                                         return options;
                                       }()};
  update::CheckedImage image;

  void SetUp() {
    platform->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kBootProductId}};
    ASSERT_EQ(link.FindDevice(), 1);
  }

  void Choose(const Image& chosen) {
    image.path = dir.WriteFile("image.dat", chosen.bytes);
    image.header.firmwareType = 0x600A;
    image.header.payloadLength = chosen.payloadLength;
  }

  // The type the run asks again before anything else.
  void AnswerType(std::uint16_t type = 0x600A) {
    platform->QueueReport(BootReply(0x0008, Le16(type)));
  }

  // Scripts the device's replies for a run: its type, the region start, the erase,
  // `blocks` block echoes, then (when `blocks` covers the region) finish, CRC and
  // completion.
  void Script(std::uint32_t regionStart, std::size_t blocks, bool tail = true,
              std::optional<std::uint16_t> crc = std::nullopt, const Image* image = nullptr) {
    AnswerType();
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

  update::RunOutcome RunWorker() { return controller.UpdateWorker(image, 0x600A, {}); }
  // The run's commands after it asked the type again.
  Codes Sent() const {
    Codes codes = CodesOf(platform->Written());
    if (!codes.empty() && codes.front() == 0x0008) {
      codes.erase(codes.begin());
    }
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

  Codes expected = {0x0008, 0x00C1, 0x0004};
  expected.insert(expected.end(), blocks, 0x0003);
  expected.insert(expected.end(), {0x00C2, 0x00C3, 0x0007});
  auto written = platform->Written();
  EXPECT_EQ(CodesOf(written), expected);
  written.erase(written.begin());  // the type, asked again

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
}

TEST_F(RunFixture, TrailingBytesTakeTheBarTo100AndTheLastBlockStopsAtTheRegionEnd) {
  const Image image = MakeImage(100, 60);
  Choose(image);
  Script(0, 3, true, std::nullopt, &image);
  const auto outcome = RunWorker();
  ASSERT_TRUE(outcome.Completed()) << update::Describe(outcome);
  const auto written = platform->Written();
  ASSERT_EQ(CodesOf(written).size(), 9u);
  EXPECT_EQ(written[5][6], 8);  // 46 + 46 + 8: nothing from beyond the region
  EXPECT_EQ(written[5][18 + 8], 0);
  const auto history = ui.ProgressHistory();
  EXPECT_EQ(history[history.size() - 2], 100);
}

// Every way the device can end a run early: what was sent, what the user saw, and the
// reason. (The ways the asking before a run ends it are the road's tests.)
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
      {"type unanswered",
       [](RunRig&) {},
       RunStep::kLinking,
       RunFailure::kDeviceCommand,
       {0x0008, 0x0008, 0x0008, 0x0008, 0x0008}},
      {"another type answers",
       [](RunRig& f) { f.AnswerType(0x6011); },
       RunStep::kLinking,
       RunFailure::kTypeChanged,
       {}},
      {"region query unanswered",
       [](RunRig& f) { f.AnswerType(); },
       RunStep::kQueryingRegion,
       RunFailure::kDeviceCommand,
       {0x00C1}},
      {"device gone during the erase",
       [](RunRig& f) {
         f.AnswerType();
         f.platform->QueueReport(BootReply(0x00C1, Le32(0)));
         f.platform->QueueRead({hid::ReadOutcome::kDeviceGone, {}});
       },
       RunStep::kErasing,
       RunFailure::kDeviceCommand,
       {0x00C1, 0x0004}},
      {"a block unanswered: nothing after it",
       [](RunRig& f) { f.Script(0, 4, false); },
       RunStep::kStreaming,
       RunFailure::kDeviceCommand,
       {0x00C1, 0x0004, 0x0003, 0x0003, 0x0003, 0x0003, 0x0003}},
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
    if (c.failure == RunFailure::kTypeChanged) {  // another controller swapped in at the place
      EXPECT_EQ(update::Describe(outcome),
                "opening the device: the controller now reports type 0x6011, the image is for "
                "0x600A");
    }
    // A failed run shows nothing itself: no box, no label, no button.
    for (const auto& call : f.ui.Calls()) {
      EXPECT_EQ(call.rfind("SetProgress", 0), 0u) << call;
    }
  }
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
