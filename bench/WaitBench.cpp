// The waits around a run, against the in-process simulated controller: identification
// from the arrival notice to the enabled button, what a lost reply costs, and how soon
// after the device confirms an erase the run notices. Each reports `beyond_us`: the time
// taken beyond what the device itself imposes (nothing, one 200 ms read time-out, the
// erase time). And the floor under every reply wait, what this machine charges for
// waking a waiting thread: by another thread, and at a time set in advance.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

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
  CAnsweringUi ui;
  update::CRoad road(platform, ui, BenchOptions());
  road.StartUp();  // nothing present; registers for notices
  const auto deliver = [&] { road.HandleNotices(); };
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

// A reply that wakes the reading thread, as a USB interrupt does, modelled by a second
// thread: each iteration is two wake-ups, there and back.
void WakeAnotherThread(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable changed;
  int turn = 0;  // 1: the partner's; 0: this thread's
  bool done = false;
  std::thread partner([&] {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return turn == 1 || done; });
      if (done) {
        return;
      }
      turn = 0;
      lock.unlock();
      changed.notify_all();
      lock.lock();
    }
  });
  const Clock::time_point started = Clock::now();
  for (auto _ : state) {
    {
      std::lock_guard lock(mutex);
      turn = 1;
    }
    changed.notify_all();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return turn == 0; });
  }
  const std::chrono::duration<double> took = Clock::now() - started;
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  changed.notify_all();
  partner.join();
  state.counters["beyond_us"] =
      took.count() * 1e6 / (2.0 * static_cast<double>(state.iterations()));
}
BENCHMARK(WakeAnotherThread)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A wait that ends at a set time, as the simulated controller's replies with a latency
// do: how late after that time the thread runs again.
void WakeAtATime(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable never;
  const std::chrono::microseconds span(state.range(0));
  double late = 0;
  for (auto _ : state) {
    std::unique_lock lock(mutex);
    const Clock::time_point due = Clock::now() + span;
    while (never.wait_until(lock, due) == std::cv_status::no_timeout) {
    }
    const std::chrono::duration<double> after = Clock::now() - due;
    late += after.count();
  }
  state.counters["beyond_us"] = late * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(WakeAtATime)->ArgName("after_us")->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
