// The road of an update against the simulated controller, in both orders of asking: the
// windows' (the road asks once the controller is back in boot mode) and the command line's
// and the page's (the owner checks and confirms the image before the switch).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/FilePath.h"
#include "base/LittleEndian.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/Placeless.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TempDir.h"
#include "update/Road.h"
#include "update/Words.h"

namespace {

using namespace std::chrono_literals;
using testing_support::CRecordingUi;
using update::RoadStage;
using update::RunFailure;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint16_t>;

constexpr auto kBound = 20s;  // far above anything the road needs; only a hang reaches it

enum class Order { kRoadAsks, kOwnerAsksFirst };

struct RoadRig : ::testing::Test {
  std::shared_ptr<sim::CSimPlatform> platform;
  std::unique_ptr<CRecordingUi> ui;
  std::unique_ptr<update::CRoad> road;  // goes first: joins a run
  testing_support::CTempDir dir;
  Order order = Order::kRoadAsks;

  // Controllers at the ports "sim-port-0", "sim-port-1", ...; or, placeless, as a web page
  // sees them: at no place the road is told of.
  void Start(const std::vector<sim::SimConfig>& configs, Order asking,
             update::Waits waits = update::Waits{}, bool placeless = false) {
    road.reset();
    ui = std::make_unique<CRecordingUi>();
    std::vector<std::shared_ptr<sim::CSimController>> devices;
    for (const sim::SimConfig& config : configs) {
      devices.push_back(std::make_shared<sim::CSimController>(config));
    }
    platform = std::make_shared<sim::CSimPlatform>(devices);
    order = asking;
    update::RoadOptions options;
    options.languageId = 1033;
    options.asksFirst = asking == Order::kOwnerAsksFirst;
    options.waits = waits;
    std::shared_ptr<hid::IHidPlatform> seen = platform;
    if (placeless) {
      seen = std::make_shared<testing_support::CPlaceless>(platform);
    }
    road = std::make_unique<update::CRoad>(seen, *ui, options);
    road->StartUp();
  }

  // The owner's event loop: notices, the run's end and the road's bounds, until done.
  bool Drive(const std::function<bool()>& done) {
    const auto giveUp = update::Clock::now() + kBound;
    while (!done()) {
      if (update::Clock::now() > giveUp) {
        ADD_FAILURE() << "the road stayed at " << update::ToString(road->Stage());
        return false;
      }
      if (road->Stage() == RoadStage::kRunning) {
        (void)road->WaitForRunEnd(20ms);
        continue;
      }
      auto wait = std::chrono::milliseconds(20);
      if (const auto deadline = road->NextDeadline()) {
        wait = std::clamp(
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - update::Clock::now()), 0ms,
            wait);
      }
      if (platform->Notices().WaitFor(wait)) {
        road->HandleNotices();
      } else if (road->NextDeadline() && update::Clock::now() >= *road->NextDeadline()) {
        road->OnTimer();
      }
    }
    return true;
  }
  bool DriveToEnd(int roads = 1) {
    return Drive([&] { return road->RoadsEnded() >= roads; });
  }

  std::string WriteImage(const Bytes& payload, std::uint32_t type = 0x600A,
                         std::optional<std::uint32_t> announced = {}) {
    return dir.WriteFile("image.dat", testing_support::ImageBytes(payload, type, announced));
  }

  // The click, as each order takes it: the road asks with the file dialog later, or the
  // owner checks, asks and confirms first. False when the owner refused the image.
  bool Click(const std::string& image) {
    if (order == Order::kRoadAsks) {
      ui->QueueFile(image);
    } else {
      const update::ImageCheck check = road->CheckImage(image);
      if (!check.Acceptable() || !road->Confirm(check)) {
        return false;
      }
    }
    road->OnUpdateClicked();
    return true;
  }

  Codes CodesTo(std::size_t index) const {
    Codes codes;
    for (const auto& frame : platform->Controller(index).Received()) {
      // Application frames: 0x81 04 code; boot frames: 0x00 05 code.
      codes.push_back(base::LoadU16(&frame.bytes[2]));
    }
    return codes;
  }
};

Codes WholeRoad(std::size_t blocks) {
  Codes codes = {0x0101, 0x000C, 0x0008, 0x0008, 0x00C1, 0x0004};
  codes.insert(codes.end(), blocks, 0x0003);
  codes.insert(codes.end(), {0x00C2, 0x00C3, 0x0007, 0x0101});
  return codes;
}

TEST_F(RoadRig, TheWholeRoadInEitherOrderOfAsking) {
  for (const Order asking : {Order::kRoadAsks, Order::kOwnerAsksFirst}) {
    SCOPED_TRACE(asking == Order::kRoadAsks ? "the road asks" : "the owner asks first");
    sim::SimConfig config;
    config.regionStart = 64;
    config.reenumerateDelay = 50ms;
    Start({config}, asking);
    ASSERT_EQ(road->Stage(), RoadStage::kReady);
    const Bytes payload = testing_support::Pattern(64 + 46 * 100 + 17);
    ASSERT_TRUE(Click(WriteImage(payload)));
    ASSERT_TRUE(DriveToEnd());

    const update::RoadEnd& end = *road->LastEnd();
    EXPECT_TRUE(end.outcome.Completed()) << update::Describe(end.outcome);
    EXPECT_EQ(end.newVersion, 215u);
    EXPECT_EQ(platform->Controller().StoredRegion(), Bytes(payload.begin() + 64, payload.end()));
    EXPECT_EQ(CodesTo(0), WholeRoad(101));
    // A new road with the returned controller, as after start-up.
    EXPECT_EQ(road->Stage(), RoadStage::kReady);
    EXPECT_EQ(road->View().device->version, 215u);
    EXPECT_TRUE(ui->ButtonEnabled());
    // The owner that asks first chose the image before the road began: no file dialog.
    EXPECT_EQ(ui->FileRequests().empty(), asking == Order::kOwnerAsksFirst);
    // The file ends with the region: the bar stops at 99, then goes back to 0.
    const std::vector<int> progress = ui->ProgressHistory();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
    EXPECT_EQ(progress[progress.size() - 2], 99);
    EXPECT_EQ(progress.back(), 0);
  }
}

// One decision refuses an image, whoever asks, before anything but identification has
// gone to the controller after the user chose it: a file that is not there, and one for
// the other type, which only the controller can tell. (Every way a file itself is bad
// goes through the road in the bad-image corpus.)
TEST_F(RoadRig, AnUnusableImageIsRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    std::function<std::string(RoadRig&)> image;
    firmware::ImageProblem problem;
  };
  const Case cases[] = {
      {"missing", [](RoadRig& r) { return (r.dir.Path() / "none.dat").string(); },
       firmware::ImageProblem::kCannotOpen},
      {"another type", [](RoadRig& r) { return r.WriteImage(Bytes(100, 1), 0x6011); },
       firmware::ImageProblem::kTypeMismatch},
  };
  for (const Order asking : {Order::kRoadAsks, Order::kOwnerAsksFirst}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (asking == Order::kRoadAsks ? ", road" : ", owner"));
      sim::SimConfig config;
      config.reenumerateDelay = 20ms;
      Start({config}, asking);
      const std::string image = c.image(*this);
      if (asking == Order::kOwnerAsksFirst) {
        const update::ImageCheck check = road->CheckImage(image);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_FALSE(road->Confirm(check));
        EXPECT_FALSE(road->View().imageReady);
        EXPECT_EQ(CodesTo(0), (Codes{0x0101}));
        continue;
      }
      ASSERT_TRUE(Click(image));
      ASSERT_TRUE(DriveToEnd());
      EXPECT_EQ(road->LastEnd()->outcome.failure, RunFailure::kImageRefused);
      EXPECT_EQ(road->LastEnd()->outcome.imageProblem, c.problem);
      // Identified in boot mode, then once more by the road that follows.
      EXPECT_EQ(CodesTo(0), (Codes{0x0101, 0x000C, 0x0008, 0x0008}));
      const bool typeBox = c.problem == firmware::ImageProblem::kTypeMismatch;
      EXPECT_EQ(ui->BoxTexts(), typeBox ? std::vector<std::string>{"The firmware type is error!\n"}
                                        : std::vector<std::string>{});
      // The controller waits in boot mode for the next click.
      EXPECT_EQ(road->Stage(), RoadStage::kReady);
      EXPECT_TRUE(road->View().device->InBootMode());
      // The first file dialog opens where the window chooses (its user's downloads), the
      // next one where the last image was chosen: never in the program's own folder.
      ui->QueueFile(std::nullopt);
      road->OnUpdateClicked();
      ASSERT_TRUE(DriveToEnd(2));
      const auto requests = ui->FileRequests();
      ASSERT_EQ(requests.size(), 2u);
      EXPECT_EQ(requests[0].initialDirectory, "");
      EXPECT_EQ(requests[1].initialDirectory, base::Utf8FromPath(dir.Path()));
    }
  }
}

// The run stays with the controller it checked: another one, waiting in boot mode at a
// port that enumerates first, arrives while the image is chosen, while the question is
// asked, during the erase, during the writing. It is sent nothing at all.
TEST_F(RoadRig, AnotherControllerArrivingMidRoadIsNeverTouched) {
  const char* moments[] = {"file dialog", "question", "erase", "writing"};
  for (const std::string moment : moments) {
    SCOPED_TRACE(moment);
    sim::SimConfig other;
    other.presentAtStart = false;
    sim::SimConfig ours;
    ours.reenumerateDelay = 30ms;
    Start({other, ours}, Order::kRoadAsks);
    const auto plugInOther = [this] { platform->Controller(0).PlugIn(sim::SimMode::kBoot); };
    if (moment == "file dialog") {
      ui->WhileFileDialogOpen(plugInOther);
    } else if (moment == "question") {
      ui->WhileQuestionOpen(plugInOther);
    } else {
      const auto step = moment == "erase" ? update::RunStep::kErasing : update::RunStep::kStreaming;
      road->SetRunProgressObserver([=, done = false](const update::RunOutcome& now) mutable {
        if (!done && now.step == step && (step != update::RunStep::kStreaming || now.block == 3)) {
          done = true;
          plugInOther();
        }
      });
    }
    const Bytes payload(46 * 20, 0x5C);
    ASSERT_TRUE(Click(WriteImage(payload)));
    ASSERT_TRUE(DriveToEnd());
    ASSERT_TRUE(road->LastEnd()->outcome.Completed()) << update::Describe(road->LastEnd()->outcome);
    EXPECT_EQ(platform->Controller(1).StoredRegion(), payload);
    // Its arrival is handled by the road that follows, still pinned to ours.
    ASSERT_TRUE(Drive([&] { return platform->Notices().Take().empty(); }));
    EXPECT_TRUE(CodesTo(0).empty());
    EXPECT_FALSE(platform->Controller(0).WasErased());
  }
}

// Pulled out and plugged in again at its place in application mode, both notices handled
// after it was back (a busy owner): its path and mode are as before, but the link the
// road opened reaches nothing. The click identifies it anew and switches it, rather than
// waiting in vain for a controller that never got the command.
TEST_F(RoadRig, AClickReachesAControllerRepluggedUnnoticed) {
  for (const Order asking : {Order::kRoadAsks, Order::kOwnerAsksFirst}) {
    SCOPED_TRACE(asking == Order::kRoadAsks ? "the road asks" : "the owner asks first");
    sim::SimConfig config;
    config.reenumerateDelay = 20ms;
    update::Waits waits;
    waits.bootMode = 2s;
    Start({config}, asking, waits);
    platform->Controller().Unplug();
    platform->Controller().PlugIn(sim::SimMode::kApplication);
    road->HandleNotices();
    ASSERT_TRUE(Click(WriteImage(Bytes(46 * 5, 0x21))));
    ASSERT_TRUE(DriveToEnd());
    EXPECT_TRUE(road->LastEnd()->outcome.Completed()) << update::Describe(road->LastEnd()->outcome);
    Codes expected = WholeRoad(5);
    expected.insert(expected.begin(), 0x0101);  // at start-up; then the click's
    EXPECT_EQ(CodesTo(0), expected);
  }
}

// Without places (the web page), a controller is awaited in boot mode as the first one that
// comes back there. One that already waited there when ours was switched, granted while the
// question was asked, is not ours, whatever its type: ours is written, it gets nothing.
TEST_F(RoadRig, WithoutPlacesAControllerWaitingBeforeTheSwitchIsNotTakenForOurs) {
  for (const std::uint16_t otherType : {0x600A, 0x6011}) {
    for (const Order asking : {Order::kRoadAsks, Order::kOwnerAsksFirst}) {
      SCOPED_TRACE(std::to_string(otherType) + (asking == Order::kRoadAsks ? ", road" : ", owner"));
      sim::SimConfig other;
      other.presentAtStart = false;
      other.typeCode = otherType;
      sim::SimConfig ours;
      ours.reenumerateDelay = 30ms;
      Start({other, ours}, asking, update::Waits{}, true);
      ASSERT_EQ(road->Stage(), RoadStage::kReady);
      platform->Controller(0).PlugIn(sim::SimMode::kBoot);  // it enumerates first
      road->HandleNotices();
      const Bytes payload(46 * 12, 0x3E);
      ASSERT_TRUE(Click(WriteImage(payload)));
      ASSERT_TRUE(DriveToEnd());
      ASSERT_TRUE(road->LastEnd()->outcome.Completed())
          << update::Describe(road->LastEnd()->outcome);
      EXPECT_EQ(road->LastEnd()->newVersion, 215u);
      EXPECT_EQ(platform->Controller(1).StoredRegion(), payload);
      EXPECT_FALSE(platform->Controller(0).WasErased());
      Codes sentToOther = CodesTo(0);
      std::erase_if(sentToOther,
                    [](std::uint16_t code) { return code == 0x0008 || code == 0x0101; });
      EXPECT_EQ(sentToOther, Codes{});  // identification at most
      EXPECT_EQ(road->View().device->path, sim::CSimPlatform::PathOf(1));
    }
  }
}

// An image confirmed for a controller that never comes back in boot mode dies with its
// road: the next controller that arrives there is asked for its own image.
TEST_F(RoadRig, ACheckedImageIsDroppedWhenItsControllerIsGoneForGood) {
  sim::SimConfig config;
  config.reenumerateDelay = 30ms;
  update::Waits waits;
  waits.bootMode = 300ms;
  Start({config}, Order::kOwnerAsksFirst, waits);
  ASSERT_TRUE(Click(WriteImage(Bytes(46 * 4, 1))));
  platform->Controller().Unplug();  // and it does not come back
  ASSERT_TRUE(DriveToEnd());
  EXPECT_EQ(road->LastEnd()->outcome.failure, RunFailure::kBootModeTimeout);

  platform->Controller().PlugIn(sim::SimMode::kBoot);
  ASSERT_TRUE(Drive([&] { return road->Stage() == RoadStage::kReady; }));
  EXPECT_FALSE(road->View().imageReady);
  road->OnUpdateClicked();  // nothing confirmed for it: nothing runs
  EXPECT_EQ(road->RunsStarted(), 0);
  EXPECT_EQ(CodesTo(0), (Codes{0x0101, 0x000C, 0x0008}));
}

// A notice that arrives while the controller is written is handled after the run, while
// the controller is still restarting: that is not a new run, and the road ends once, with
// the new version; a return that never comes ends it at its bound.
TEST_F(RoadRig, TheRoadEndsOnceWhateverNoticesComeLate) {
  for (const bool returns : {true, false}) {
    SCOPED_TRACE(returns ? "returns" : "never returns");
    sim::SimConfig other;
    other.presentAtStart = false;
    sim::SimConfig ours;
    ours.reenumerateDelay = 300ms;
    update::Waits waits;
    waits.application = 2s;
    Start({other, ours}, Order::kOwnerAsksFirst, waits);
    road->SetRunProgressObserver([&, done = false](const update::RunOutcome& now) mutable {
      if (!done && now.step == update::RunStep::kStreaming && now.block == 2) {
        done = true;
        platform->Controller(0).PlugIn(sim::SimMode::kApplication);
      } else if (!returns && now.step == update::RunStep::kCompleting) {
        platform->Controller(1).Unplug();
      }
    });
    ASSERT_TRUE(Click(WriteImage(Bytes(46 * 10, 7))));
    ASSERT_TRUE(DriveToEnd());
    EXPECT_TRUE(road->LastEnd()->outcome.Completed());
    EXPECT_EQ(road->LastEnd()->newVersion,
              returns ? std::optional<std::uint32_t>(215) : std::nullopt);
    const Codes sent = CodesTo(1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x0004), 1);
    EXPECT_EQ(road->RoadsEnded(), 1);
    // The other one is at most identified, by the road that follows one that ended
    // without its controller.
    for (const std::uint16_t code : CodesTo(0)) {
      EXPECT_EQ(code, 0x0101);
    }
  }
}

}  // namespace
