// The waits around a run, against the in-process simulated controller: identification
// from the arrival notice to the enabled button, what a lost reply costs, and how soon
// after the device confirms an erase the run notices. Each reports `beyond_us`: the time
// taken beyond what the device itself imposes (nothing, one 200 ms read time-out, the
// erase time).
#include <benchmark/benchmark.h>

#include "bench/BenchRig.h"
#include "sim/SimPlatform.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

// Arrival notices are handed to the controller on this thread, as the window's event
// loop does; the device answers at once. Argument: whether the first reply is lost.
void IdentifyOnArrival(benchmark::State& state) {
  const bool loseReply = state.range(0) != 0;
  sim::SimConfig config;
  config.presentAtStart = false;
  const auto device = std::make_shared<sim::CSimController>(config);
  const auto platform = std::make_shared<sim::CSimPlatform>(device);
  hid::CHid link(platform);
  CAnsweringUi ui;
  update::CUpdateController controller(link, ui, BenchOptions());
  controller.StartUp();  // nothing present; registers for notices
  const auto deliver = [&] {
    for (const std::uint32_t code : platform->TakeNotices()) {
      controller.OnDeviceChange(code);
    }
  };
  double beyond = 0;
  for (auto _ : state) {
    ui.Forget();
    if (loseReply) {
      device->SetFaults({sim::SimFault::DropReply(sim::FaultTrigger::AtCode(0x0101))});
    }
    const Clock::time_point arrived = Clock::now();
    device->PlugIn(sim::SimMode::kApplication);
    deliver();
    if (!ui.ButtonEnabled()) {
      state.SkipWithError("the button was not enabled");
      break;
    }
    const std::chrono::duration<double> took = *ui.ButtonEnabled() - arrived;
    state.SetIterationTime(took.count());
    beyond += took.count() - (loseReply ? 0.2 : 0.0);
    device->Unplug();
    deliver();
  }
  state.counters["beyond_us"] = beyond * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(IdentifyOnArrival)
    ->ArgName("lost_reply")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// An erase that ends in the middle of a 200 ms read: the confirmation should be taken
// by that read as soon as it comes, not by a later one.
void EraseConfirmation(benchmark::State& state) {
  const std::chrono::milliseconds eraseTime(state.range(0));
  double beyond = 0;
  for (auto _ : state) {
    sim::SimConfig config;
    config.startInBootMode = true;
    config.eraseTime = eraseTime;
    hid::CHid link(
        std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config)));
    if (link.FindDevice() == 0 || link.OpenDevice() == 0) {
      state.SkipWithError("the simulated controller did not open");
      break;
    }
    protocol::CDeviceCommands commands(link);
    const Clock::time_point sent = Clock::now();
    if (commands.EraseRegion(0, 4096) == 0) {
      state.SkipWithError("the erase was not confirmed");
      break;
    }
    const std::chrono::duration<double> took = Clock::now() - sent;
    state.SetIterationTime(took.count());
    beyond += took.count() - std::chrono::duration<double>(eraseTime).count();
  }
  state.counters["beyond_us"] = beyond * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(EraseConfirmation)
    ->ArgName("erase_ms")
    ->Arg(450)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
