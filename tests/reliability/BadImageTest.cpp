// A corpus of bad images, generated here, each taken through a whole run against the
// simulated controller: every one ends with its own outcome, and none leaves the device
// erased when the refusal could have come before the erase.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "firmware/ImageFile.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TempDir.h"
#include "update/Road.h"
#include "update/Words.h"

namespace {

using namespace std::chrono_literals;
using firmware::ImageProblem;
using testing_support::CTempDir;
using update::RunFailure;
using update::RunStep;
using Bytes = std::vector<std::uint8_t>;

Bytes Image(std::uint32_t payloadLength, std::size_t payloadBytes, std::uint32_t type = 0x600A) {
  return testing_support::ImageBytes(testing_support::Pattern(payloadBytes), type, payloadLength);
}

Bytes Shortened(Bytes bytes, std::size_t by) {
  bytes.resize(bytes.size() - by);
  return bytes;
}

// Makes the image in the directory and returns the path the file dialog gives.
using Maker = std::function<std::string(const CTempDir& dir)>;
Maker File(Bytes bytes) {
  return [bytes](const CTempDir& dir) { return dir.WriteFile("bad.dat", bytes); };
}

struct BadImage {
  const char* name;
  Maker make;
  RunFailure failure;
  RunStep step;
  ImageProblem problem = ImageProblem::kNone;
  bool erased = false;  // the erase came before the fault could be seen
  std::uint32_t regionStart = 0;
  // The file is cut to `cutTo` bytes when the run reaches `cutAt` (in it, block `cutBlock`).
  std::optional<RunStep> cutAt{};
  std::uint32_t cutBlock = 0;
  std::uintmax_t cutTo = 0;
};

const BadImage kCorpus[] = {
    {"an empty file", File({}), RunFailure::kImageRefused, RunStep::kChoosing,
     ImageProblem::kEmpty},
    {"one byte", File({0xD7}), RunFailure::kImageRefused, RunStep::kChoosing,
     ImageProblem::kHeaderTruncated},
    {"a header cut one byte short", File(Shortened(Image(100, 0), 1)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kHeaderTruncated},
    {"a header without its payload", File(Image(100, 0)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kPayloadPastEnd},
    {"a payload one byte short", File(Image(4600, 4599)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kPayloadPastEnd},
    {"a payload length of 2^32 - 1", File(Image(0xFFFFFFFF, 64)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kPayloadPastEnd},
    {"a payload length of 2^31", File(Image(0x80000000, 46 * 30)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kPayloadPastEnd},
    {"a zero payload", File(Image(0, 500)), RunFailure::kImageRefused, RunStep::kChoosing,
     ImageProblem::kNoPayload},
    {"a type with bit 16 set", File(Image(100, 100, 0x1600A)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kTypeOutOfRange},
    {"a type for the other controller", File(Image(100, 100, 0x6011)), RunFailure::kImageRefused,
     RunStep::kChoosing, ImageProblem::kTypeMismatch},
    {"a region start past the payload", File(Image(500, 500)), RunFailure::kRegionOutOfRange,
     RunStep::kQueryingRegion, ImageProblem::kNone, false, 1000},
    {"a region start at the payload's end", File(Image(500, 500)), RunFailure::kRegionOutOfRange,
     RunStep::kQueryingRegion, ImageProblem::kNone, false, 500},
    {"a directory",
     [](const CTempDir& dir) {
       std::filesystem::create_directory(dir.Path() / "folder.dat");
       return (dir.Path() / "folder.dat").string();
     },
     RunFailure::kImageRefused, RunStep::kChoosing, ImageProblem::kNotAFile},
    {"a FIFO",
     [](const CTempDir& dir) {
       const auto path = (dir.Path() / "pipe.dat").string();
       EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
       return path;
     },
     RunFailure::kImageRefused, RunStep::kChoosing, ImageProblem::kNotAFile},
    {"a missing file", [](const CTempDir& dir) { return (dir.Path() / "gone.dat").string(); },
     RunFailure::kImageRefused, RunStep::kChoosing, ImageProblem::kCannotOpen},
    // Unreadable even for root (the tests may run as root, whom file modes do not stop):
    // a path that goes through a regular file as if it were a folder.
    {"a path through a file",
     [](const CTempDir& dir) { return dir.WriteFile("plain.dat", Image(100, 100)) + "/inner.dat"; },
     RunFailure::kImageRefused, RunStep::kChoosing, ImageProblem::kCannotOpen},
    // A regular file whose reads fail: this process's memory, read from address 0.
    {"a file whose reads fail", [](const CTempDir&) { return "/proc/self/mem"; },
     RunFailure::kImageRefused, RunStep::kChoosing, ImageProblem::kReadError},
    // Cut short after it was chosen: the check before the erase still sees it.
    {"a file that shrinks before the erase", File(Image(4600, 4600)), RunFailure::kImageRefused,
     RunStep::kCheckingImage, ImageProblem::kPayloadPastEnd, false, 0, RunStep::kQueryingRegion, 0,
     28 + 1000},
    // Cut short while it streams: the device is already erased, the run ends at once.
    {"a file that shrinks while it streams", File(Image(4600, 4600)), RunFailure::kImageUnreadable,
     RunStep::kStreaming, ImageProblem::kNone, true, 0, RunStep::kStreaming, 50, 28 + 1000},
    {"a file emptied while it streams", File(Image(4600, 4600)), RunFailure::kImageUnreadable,
     RunStep::kStreaming, ImageProblem::kNone, true, 0, RunStep::kStreaming, 0, 0},
};

TEST(BadImages, EachEndsWithItsOwnOutcomeAndNoneErasesWhatItCouldSpare) {
  for (const BadImage& bad : kCorpus) {
    SCOPED_TRACE(bad.name);
    CTempDir dir;
    sim::SimConfig config;
    config.startInBootMode = true;
    config.regionStart = bad.regionStart;
    const auto device = std::make_shared<sim::CSimController>(config);
    testing_support::CRecordingUi ui;
    const std::string path = bad.make(dir);
    ui.QueueFile(path);
    update::RoadOptions options;
    options.languageId = 1033;
    update::CRoad road(std::make_shared<sim::CSimPlatform>(device), ui, options);
    // On the run's own thread, as it goes: the file changes under it.
    road.SetRunProgressObserver([&](const update::RunOutcome& now) {
      if (now.step == bad.cutAt && now.block == bad.cutBlock) {
        std::filesystem::resize_file(path, bad.cutTo);
      }
    });

    road.StartUp();  // found in boot mode: asked for its image at once
    if (road.Stage() == update::RoadStage::kRunning) {
      ASSERT_TRUE(road.WaitForRunEnd(20s));  // only a hang takes that long
    }
    ASSERT_EQ(road.RoadsEnded(), 1);
    const std::optional<update::RunOutcome> outcome = road.LastEnd()->outcome;
    EXPECT_EQ(outcome->failure, bad.failure) << update::Describe(*outcome);
    EXPECT_EQ(outcome->step, bad.step) << update::Describe(*outcome);
    EXPECT_EQ(outcome->imageProblem, bad.problem) << update::Describe(*outcome);
    EXPECT_EQ(device->WasErased(), bad.erased);
    if (bad.failure == RunFailure::kImageUnreadable) {
      EXPECT_TRUE(outcome->error.has_value());
    }
  }
}

// File modes stop everyone but root, and tests here may run as root.
TEST(BadImages, AFileWithoutReadPermissionIsRefusedBeforeTheDeviceIsTouched) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "running as root, which file modes do not stop; the unreadable cases of "
                    "the corpus cover this";
  }
  CTempDir dir;
  const std::string path = dir.WriteFile("locked.dat", Image(100, 100));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const firmware::ImageRead read = firmware::ReadImageInfo(path);
  EXPECT_EQ(read.problem, ImageProblem::kCannotOpen);
  EXPECT_FALSE(read.detail.empty());
}

}  // namespace
