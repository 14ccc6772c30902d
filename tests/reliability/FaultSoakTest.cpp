// The fault soak: many complete updates against the simulated controller, each first
// run under faults drawn at random, each followed by a clean run after the device was
// unplugged and plugged in again (or the window was closed and opened again), in boot
// mode or in application mode and then clicked. A second controller, at a place of its
// own, comes and goes during both runs. Checked on every run:
//   - it ends within the time the device rules allow for the faults it met (no hang);
//   - it reports success only when the device stores exactly the image's region and the
//     CRC-16 the device reported is the image's;
//   - no block and no erase reaches outside the region, on the wire or in the flash;
//   - no second run starts or talks to the device while one is going on;
//   - after a removal and return (or a stop), the next run completes;
//   - the road is pinned to the soak's controller while it asks and runs; the second
//     controller is sent nothing but identification, and the soak's controller an erase
//     or a block only after its identification in boot mode and the run's own type query.
//
//   UPDATE_SOAK_RUNS   scenarios to run (200 by default)
//   UPDATE_SOAK_SEED   first scenario's seed (by default drawn, and printed); scenario
//                      i uses seed + i, so UPDATE_SOAK_SEED=s UPDATE_SOAK_RUNS=1 replays s
#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <random>

#include "base/LittleEndian.h"
#include "protocol/Crc16.h"
#include "sim/SimPlatform.h"
#include "tests/reliability/SoakIntruder.h"
#include "tests/reliability/SoakPlan.h"
#include "tests/support/Images.h"
#include "tests/support/TempDir.h"
#include "update/Road.h"
#include "update/Words.h"

namespace soak {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFlashSize = 16 * 1024;
// Beyond what the rules allow for the faults: time for the machine itself, generous
// enough for a sanitizer build on a busy machine (an exchange takes well under 1 ms).
constexpr auto kSlack = 5s;
constexpr auto kPerCommand = 100ms;

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// How one run went, as the figures count it.
std::string OutcomeKind(const std::optional<update::RunOutcome>& outcome) {
  if (!outcome) {
    return "no run started";
  }
  if (outcome->Completed()) {
    return "completed";
  }
  std::string kind = update::WordsOf(outcome->failure).english;
  if (outcome->failure == update::RunFailure::kDeviceCommand && outcome->error) {
    kind += " (" + outcome->error->message + ")";
  }
  return kind + ", " + update::WordsOf(outcome->step).english;
}

struct Figures {
  int scenarios = 0;  // two runs each: under faults, then after the device came back
  std::array<int, kFaultKinds> faults{};
  std::map<std::string, int> firstOutcomes;
  int followUpsCompleted = 0;
  int followUpsClicked = 0;
  int intruderArrivals = 0;
  std::vector<std::string> violations;
};

// The user interface of the soak: picks the scenario's image, agrees to every prompt,
// counts the runs inside the user interface at once, and lets the soak act while a run
// goes on. The file dialog and the prompt are open on the owner's thread, as a window's
// are: a stop there runs in place, as a window's nested event loop would run it.
// Progress comes from the worker, which is held there until the soak has acted: at the
// run's first position (to hand the controller notices), and at a stop's.
enum class Hold { kPoke, kStop };

class CSoakUi : public update::IUserInterface {
 public:
  // For the next run: the image it picks, and where the owner stops it (at a progress
  // stop, the first position at or above stopAtProgress).
  void Prepare(std::string imagePath, StopPoint stopAt = StopPoint::kNone, int stopAtProgress = 0) {
    std::lock_guard lock(m_Mutex);
    m_Image = std::move(imagePath);
    m_StopAt = stopAt;
    m_StopAtProgress = stopAtProgress;
    m_Poked = false;
    m_Held.reset();
  }
  // What a stop in the file dialog or the prompt does, on the owner's thread.
  void SetStop(std::function<void()> stop) {
    std::lock_guard lock(m_Mutex);
    m_Stop = std::move(stop);
  }
  // Told on the owner's thread while the file dialog, then the question, is open.
  void SetMoment(std::function<void(Moment)> moment) { m_Moment = std::move(moment); }
  // Waits at most `timeout` for the worker to be held; why it is.
  std::optional<Hold> WaitForHold(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_Mutex);
    m_Changed.wait_for(lock, timeout, [this] { return m_Held.has_value(); });
    return m_Held;
  }
  void Release() {  // lets the held run go on
    {
      std::lock_guard lock(m_Mutex);
      m_Held.reset();
    }
    m_Changed.notify_all();
  }
  // Runs between their file dialog and RunFinished: at most one, ever.
  void RunFinished() {
    std::lock_guard lock(m_Mutex);
    m_RunsInside = std::max(0, m_RunsInside - 1);
  }
  int MostRunsAtOnce() const {
    std::lock_guard lock(m_Mutex);
    return m_MostRunsAtOnce;
  }

  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest&) override {
    std::string image;
    {
      std::lock_guard lock(m_Mutex);
      m_MostRunsAtOnce = std::max(m_MostRunsAtOnce, ++m_RunsInside);  // every run begins here
      image = m_Image;
    }
    Tell(Moment::kChoosing);
    StopInPlace(StopPoint::kChoosing);
    return image;
  }
  update::MessageResult ShowMessageBox(const std::string&, const std::string&,
                                       update::MessageButtons buttons) override {
    if (buttons == update::MessageButtons::kOkCancel) {
      Tell(Moment::kPrompt);
      StopInPlace(StopPoint::kPrompt);
    }
    return update::MessageResult::kOk;
  }
  void SetProgress(std::int32_t position) override {
    std::unique_lock lock(m_Mutex);
    const auto hold = [&](Hold why) {
      m_Held = why;
      m_Changed.notify_all();
      // Far longer than the soak takes to notice a held run; reaching it means it hung.
      m_Changed.wait_for(lock, 30s, [this] { return !m_Held.has_value(); });
    };
    if (!m_Poked) {
      m_Poked = true;
      hold(Hold::kPoke);
    }
    if (m_StopAt == StopPoint::kProgress && position >= m_StopAtProgress) {
      m_StopAt = StopPoint::kNone;
      hold(Hold::kStop);
    }
  }
  void EnableUpdateButton(bool) override {}
  void ShowCompletionLabel(bool) override {}
  void SetWindowTitle(const std::string&) override {}

 private:
  void Tell(Moment moment) {
    if (m_Moment) {
      m_Moment(moment);
    }
  }
  void StopInPlace(StopPoint point) {
    std::function<void()> stop;
    {
      std::lock_guard lock(m_Mutex);
      if (m_StopAt != point) {
        return;
      }
      m_StopAt = StopPoint::kNone;
      stop = m_Stop;
    }
    if (stop) {
      stop();
    }
  }

  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::string m_Image;
  StopPoint m_StopAt = StopPoint::kNone;
  int m_StopAtProgress = 0;
  bool m_Poked = false;
  std::function<void()> m_Stop;
  std::function<void(Moment)> m_Moment;  // set before the window opens, then only read
  std::optional<Hold> m_Held;
  int m_RunsInside = 0;
  int m_MostRunsAtOnce = 0;
};

// One scenario: a device, a window (its road and user interface), two runs.
class CScenario {
 public:
  CScenario(const Plan& plan, Figures& figures) : m_Plan(plan), m_Figures(figures) {}

  void Play() {
    sim::SimConfig config;
    config.startInBootMode = true;
    config.regionStart = m_Plan.regionStart;
    config.flashSize = kFlashSize;
    config.faults = m_Plan.faults;
    m_Device = std::make_shared<sim::CSimController>(config);
    sim::SimConfig second;
    second.typeCode = m_Plan.intruder.typeCode;
    second.presentAtStart = false;
    second.flashSize = kFlashSize;
    m_Intruder = std::make_shared<sim::CSimController>(second);
    m_Hands = std::make_unique<CIntruderHands>(*m_Intruder);
    m_DeviceIndex = m_Plan.intruder.placedFirst ? 1 : 0;
    m_Platform = std::make_shared<sim::CSimPlatform>(m_Plan.intruder.placedFirst
                                                         ? std::vector{m_Intruder, m_Device}
                                                         : std::vector{m_Device, m_Intruder});
    m_Ui.SetMoment([this](Moment moment) { AtMoment(moment); });

    // The first run: the device is in boot mode when the window opens.
    m_Ui.Prepare(m_Dir.WriteFile("first.dat", testing_support::ImageBytes(m_Plan.payload)),
                 m_Plan.stopAt, m_Plan.stopAtProgress);
    m_Hands->Begin(m_Plan.intruder.first);
    const auto first = RunToEnd([this] { OpenWindow(); }, m_Plan.payload, m_Plan.faultCost);
    ++m_Figures.firstOutcomes[OutcomeKind(first)];
    CheckFirstOutcome(first);
    if (m_Road && m_Road->Stage() == update::RoadStage::kAwaitingReturn) {
      AwaitReturn();
    }
    m_Hands->Leave();

    // The next run, with the device back and no faults: it must complete.
    m_Device->SetFaults({});
    if (m_Stopped) {
      m_Road.reset();  // the program ends (if the window did not close already), and is
                       // started again below
    }
    m_Device->Unplug();
    const bool clicked = m_Plan.nextFromApplication;
    m_Device->PlugIn(clicked ? sim::SimMode::kApplication : sim::SimMode::kBoot);
    std::mt19937_64 random(m_Plan.seed ^ 0x5EEDF011u);
    const Bytes payload = DrawPayload(random, m_Plan.regionStart);
    m_Ui.Prepare(m_Dir.WriteFile("next.dat", testing_support::ImageBytes(payload)));
    m_Hands->Begin(m_Plan.intruder.next);
    const auto next = RunToEnd(
        [&] {
          if (m_Road) {
            DeliverNotices();  // the removal and the arrival
          } else {
            OpenWindow();
          }
          if (clicked) {
            Click();
          }
        },
        payload, 0ms);
    if (m_Road && m_Road->Stage() == update::RoadStage::kAwaitingReturn) {
      AwaitReturn();
    }
    m_Hands->Leave();
    m_Figures.followUpsCompleted += next && next->Completed() ? 1 : 0;
    m_Figures.followUpsClicked += clicked ? 1 : 0;
    m_Figures.intruderArrivals += m_Hands->Arrivals();
    Check(next && next->Completed(),
          "the run after the device came back did not complete: " + OutcomeKind(next));
    Check(m_Ui.MostRunsAtOnce() <= 1, "two runs were in the user interface at once");
    m_Road.reset();
    for (const std::string& broken : CheckIntruderWire(m_Intruder->Received())) {
      Check(false, broken);
    }
    for (const std::string& broken : CheckPinnedWire(m_Device->Received())) {
      Check(false, broken);
    }
  }

 private:
  void Check(bool holds, const std::string& what) {
    if (!holds) {
      m_Figures.violations.push_back("seed " + std::to_string(m_Plan.seed) + " (" +
                                     m_Plan.Describe() + "): " + what);
    }
  }

  void OpenWindow() {
    update::RoadOptions options;
    options.commands.eraseBound = kEraseBound;
    options.languageId = 1033;
    // The simulated controller is back within milliseconds, or never (a removal fault).
    options.waits.application = 1s;
    options.onRunFinished = [this](const update::RunOutcome& outcome) {
      m_Ui.RunFinished();
      std::lock_guard lock(m_FinishedMutex);
      m_Finished = outcome;
      m_FramesAtFinish = m_Device->Received().size();
    };
    options.onEnded = [this](const update::RoadEnd& end) {
      if (!end.ran) {
        m_Ui.RunFinished();  // the asking ended it: no worker tells
      }
    };
    m_Road = std::make_unique<update::CRoad>(m_Platform, m_Ui, options);
    m_Road->StartUp();
  }

  void DeliverNotices() { m_Road->HandleNotices(); }

  // The user clicks for the controller that came back in application mode; the second
  // controller may come right after.
  void Click() {
    const update::RoadView view = m_Road->View();
    Check(view.stage == update::RoadStage::kReady && view.device && !view.device->InBootMode(),
          "the controller back in application mode was not ready for the click");
    m_Road->OnUpdateClicked();
    m_Hands->At(Moment::kSwitching);
  }

  // While the road asks and runs, it is pinned to the soak's controller, wherever the
  // second one is.
  void AtMoment(Moment moment) {
    const std::optional<update::DeviceIdentity> device =
        m_Road ? m_Road->View().device : std::nullopt;
    Check(device && device->place == sim::CSimPlatform::LocationOf(m_DeviceIndex) &&
              device->path == sim::CSimPlatform::PathOf(m_DeviceIndex),
          "the road asked or ran for another controller than the soak's");
    m_Hands->At(moment);
  }

  // A completed run's controller restarts in application mode: its road ends when it is
  // back, well within its bound.
  void AwaitReturn() {
    const auto deadline = Clock::now() + 20s;
    while (m_Road->Stage() == update::RoadStage::kAwaitingReturn && Clock::now() < deadline) {
      m_Hands->At(Moment::kLater);
      if (m_Platform->Notices().WaitFor(2ms)) {
        DeliverNotices();
      } else if (const auto bound = m_Road->NextDeadline(); bound && Clock::now() >= *bound) {
        m_Road->OnTimer();
      }
    }
    Check(m_Road->Stage() != update::RoadStage::kAwaitingReturn,
          "the controller was not seen back after a completed run");
  }

  // Lets `start` start a run (a window opening, notices), then hands notices to the
  // controller as they come, as the window's event loop does, until the run has ended.
  // Checks it on the way.
  std::optional<update::RunOutcome> RunToEnd(const std::function<void()>& start,
                                             const Bytes& payload,
                                             std::chrono::milliseconds faultCost) {
    const std::size_t framesBefore = m_Device->Received().size();
    const Bytes storageBefore = m_Device->Storage();
    const int runsBefore = m_Road ? m_Road->RunsStarted() : 0;
    const std::uint32_t regionLength =
        payload.size() > m_Plan.regionStart
            ? static_cast<std::uint32_t>(payload.size()) - m_Plan.regionStart
            : 0;
    const auto bound = kSlack + faultCost + (regionLength / 46 + 10) * kPerCommand;
    const auto deadline = Clock::now() + bound;

    // Ctrl-C, or the window closing: either asks the run to stop before the dialog, box
    // or progress it is in returns. A stop in the file dialog or the prompt comes on
    // this thread, inside start().
    bool closing = false;
    const auto stop = [&] {
      m_Stopped = true;
      m_Road->RequestStop();
      closing = m_Plan.stopByClosing;
    };
    m_Ui.SetStop(stop);
    {
      std::lock_guard lock(m_FinishedMutex);
      m_Finished.reset();
    }
    start();
    // Clicked: the run begins when the controller is back in boot mode.
    while (m_Road && m_Road->RunsStarted() == runsBefore &&
           m_Road->Stage() == update::RoadStage::kSwitching && Clock::now() < deadline) {
      m_Hands->At(Moment::kLater);
      if (m_Platform->Notices().WaitFor(2ms)) {
        DeliverNotices();
      } else if (const auto due = m_Road->NextDeadline(); due && Clock::now() >= *due) {
        m_Road->OnTimer();
      }
    }
    if (!m_Road || m_Road->RunsStarted() == runsBefore) {
      return std::nullopt;
    }
    const auto runOver = [&] {
      return m_Road->Stage() != update::RoadStage::kRunning || m_Road->WaitForRunEnd(0ms);
    };
    while (!closing && !runOver()) {
      if (Clock::now() > deadline) {
        Check(false, "the run did not end within " + std::to_string(bound.count()) + " ms");
        m_Road->RequestStop();
        m_Ui.Release();
        (void)m_Road->WaitForRunEnd(60s);
        break;
      }
      DeliverNotices();
      m_Hands->At(Moment::kLater);
      if (const auto hold = m_Ui.WaitForHold(2ms)) {
        *hold == Hold::kStop ? stop() : PokeDuringRun(runsBefore + 1);
        m_Ui.Release();
      }
    }
    if (closing) {
      // The window goes: its road waits for the run to end. (After Ctrl-C the run ends by
      // itself, then the program exits.)
      m_Road.reset();
    }
    std::optional<update::RunOutcome> outcome;
    {
      std::lock_guard lock(m_FinishedMutex);
      outcome = m_Finished;
    }
    Check(!m_Road || m_Road->RunsStarted() == runsBefore + 1,
          "a notice started another run while one was going on");
    std::size_t framesAtFinish = 0;
    {
      std::lock_guard lock(m_FinishedMutex);
      framesAtFinish = m_FramesAtFinish;
    }
    CheckWire(framesBefore, framesAtFinish, regionLength);
    const Bytes storage = m_Device->Storage();
    Check(std::equal(storage.begin() + regionLength, storage.end(),
                     storageBefore.begin() + regionLength),
          "the flash changed outside the region");
    if (outcome && outcome->Completed()) {
      CheckSuccess(*outcome, payload);
    }
    return outcome;
  }

  // The run is held inside the user interface: every notice a window may get now must
  // leave it alone (an arrival of the same device, a device-tree change).
  void PokeDuringRun(int runs) {
    AtMoment(Moment::kFirstProgress);
    m_Road->OnDeviceChange(hid::kNoticeArrival);
    m_Road->OnDeviceChange(hid::kNoticeDevNodesChanged);
    m_Road->OnUpdateClicked();
    Check(m_Road->RunsStarted() == runs, "an arrival during a run started a second run");
  }

  // Between the run's first command and its completing command (or its end), only its
  // own frames reach the device; every erase and block lies inside the region. Once the
  // run has ended, the controller looks again at what is plugged in: that is not the
  // run's.
  void CheckWire(std::size_t framesBefore, std::size_t framesAtFinish, std::uint32_t regionLength) {
    auto frames = m_Device->Received();
    frames.resize(std::min(frames.size(), std::max(framesAtFinish, framesBefore)));
    bool inRun = false;
    for (std::size_t i = framesBefore; i < frames.size(); ++i) {
      const auto& bytes = frames[i].bytes;
      const std::uint16_t code = base::LoadU16(&bytes[2]);
      if (code == 0x00C1) {
        inRun = true;  // the run's own type query comes before: it is the run's
      } else if (code == 0x0007) {
        inRun = false;  // the device restarts: identifying it again is the window's to do
      } else {
        Check(!inRun || (code != 0x0008 && code != 0x0101 && code != 0x000C),
              "the user interface thread talked to the device during a run");
      }
      if (bytes.size() != hid::kFrameSize || (code != 0x0003 && code != 0x0004)) {
        continue;
      }
      const std::uint32_t length = base::LoadU16(&bytes[6]);
      const std::uint32_t size = base::LoadU32(&bytes[10]);
      const std::uint32_t offset = base::LoadU32(&bytes[14]);
      const bool inside = code == 0x0004 ? offset == 0 && size == regionLength
                                         : size == regionLength && offset + length <= size;
      Check(inside, "a command reached outside the region: code " + std::to_string(code) +
                        " offset " + std::to_string(offset) + " length " + std::to_string(length) +
                        " size " + std::to_string(size));
    }
  }

  void CheckSuccess(const update::RunOutcome& outcome, const Bytes& payload) {
    const Bytes region(payload.begin() + m_Plan.regionStart, payload.end());
    Check(m_Device->StoredRegion() == region,
          "success reported, but the device does not hold the image's region");
    const auto verified = std::min<std::size_t>(4096, region.size());
    const std::uint16_t crc = protocol::Crc16(region.data(), static_cast<int>(verified));
    Check(outcome.imageCrc == crc && outcome.deviceCrc == crc,
          "success reported without the device's CRC-16 matching the image's");
  }

  // What the faults of the first run allow it to end with.
  void CheckFirstOutcome(const std::optional<update::RunOutcome>& outcome) {
    const bool completed = outcome && outcome->Completed();
    if (m_Plan.RegionLength() == 0) {
      // Refused (or ended earlier by a fault), but never after an erase.
      Check(!completed && !m_Device->WasErased(),
            "a region start past the payload was not refused before the erase");
      return;
    }
    Check(!m_Plan.kinds.empty() || completed,
          "a run without faults did not complete: " + OutcomeKind(outcome));
    Check(!completed || !(m_Plan.Has(Fault::kWrongCrc) || m_Plan.Has(Fault::kCorruptStorage)),
          "a run completed although the device's store or CRC-16 was wrong");
    const bool stoppedChoosing =
        m_Plan.stopAt == StopPoint::kChoosing || m_Plan.stopAt == StopPoint::kPrompt;
    Check(!outcome || !stoppedChoosing || outcome->failure == update::RunFailure::kStopped,
          "a stop while choosing did not end the run as stopped: " + OutcomeKind(outcome));
  }

  const Plan& m_Plan;
  Figures& m_Figures;
  testing_support::CTempDir m_Dir;
  std::shared_ptr<sim::CSimController> m_Device;
  std::shared_ptr<sim::CSimController> m_Intruder;  // the second controller
  std::unique_ptr<CIntruderHands> m_Hands;
  std::size_t m_DeviceIndex = 0;  // the soak's controller's place among the two
  std::shared_ptr<sim::CSimPlatform> m_Platform;
  CSoakUi m_Ui;
  std::mutex m_FinishedMutex;
  std::optional<update::RunOutcome> m_Finished;  // told by the last run as it ended
  std::size_t m_FramesAtFinish = 0;              // what the device had received by then
  std::unique_ptr<update::CRoad> m_Road;
  bool m_Stopped = false;
};

void Print(const Figures& figures, std::uint64_t seed, double seconds) {
  std::printf("fault soak: %d scenarios from seed %llu, %d runs, %.1f s\n", figures.scenarios,
              static_cast<unsigned long long>(seed), 2 * figures.scenarios, seconds);
  std::printf("  faults injected:");
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    std::printf("%s %s %d", kind == 0 ? "" : ",", kFaultNames[kind], figures.faults[kind]);
  }
  std::printf("\n  first runs by outcome:\n");
  for (const auto& [kind, count] : figures.firstOutcomes) {
    std::printf("    %5d  %s\n", count, kind.c_str());
  }
  std::printf(
      "  runs after the device came back: %d (%d clicked in application mode), "
      "completed %d\n",
      figures.scenarios, figures.followUpsClicked, figures.followUpsCompleted);
  std::printf("  second controller: %d arrivals\n", figures.intruderArrivals);
  std::printf("  invariant violations: %zu\n", figures.violations.size());
  for (const std::string& violation : figures.violations) {
    std::printf("    %s\n", violation.c_str());
  }
  std::printf("fault soak end\n");
  std::fflush(stdout);
}

TEST(FaultSoak, UpdatesUnderRandomFaultsKeepEveryInvariant) {
  const std::uint64_t runs = EnvNumber("UPDATE_SOAK_RUNS", 200);
  const std::uint64_t seed = EnvNumber("UPDATE_SOAK_SEED", std::random_device{}());
  Figures figures;
  const auto started = Clock::now();
  for (std::uint64_t i = 0; i < runs; ++i) {
    const Plan plan = DrawPlan(seed + i);
    for (const Fault kind : plan.kinds) {
      ++figures.faults[static_cast<int>(kind)];
    }
    CScenario(plan, figures).Play();
    ++figures.scenarios;
  }
  Print(figures, seed, std::chrono::duration<double>(Clock::now() - started).count());
  EXPECT_TRUE(figures.violations.empty())
      << figures.violations.size() << " violations; replay one with UPDATE_SOAK_SEED=<its seed> "
      << "UPDATE_SOAK_RUNS=1";
}

}  // namespace
}  // namespace soak
