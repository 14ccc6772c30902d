// Whole flashing runs, from the region query to the completing command,
// against the simulated controller: in this process, and in a process of its own behind
// the emulator socket. Arguments: the region's bytes and the controller's latency per
// reply in microseconds (0, or a USB frame model of 1000 and 2000).
#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench/BenchRig.h"
#include "sim/SimPlatform.h"

#if defined(UPDATE_SIM_EMULATOR)
#include <sys/resource.h>

#include "bench/ChildProcess.h"
#include "hid/emulator/EmulatorPlatform.h"
#endif

namespace bench {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t k64KiB = 64 * 1024;
constexpr std::int64_t k256KiB = 256 * 1024;

// Both ways of a whole update: image sizes and reply latencies, timed by the run.
void FlashArguments(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"bytes", "latency_us"})
      ->Args({k64KiB, 0})
      ->Args({k256KiB, 0})
      ->Args({k64KiB, 1000})
      ->Args({k64KiB, 2000})
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void FlashInProcess(benchmark::State& state) {
  const CBenchImage image(static_cast<std::uint32_t>(state.range(0)));
  const std::chrono::microseconds latency(state.range(1));
  CRunCounters counters(latency);
  for (auto _ : state) {
    sim::SimConfig config;
    config.startInBootMode = true;
    config.replyLatency = latency;
    config.flashSize = std::max(config.flashSize, image.PayloadBytes());
    const auto timing = std::make_shared<CTimedPlatform>(
        std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config)));
    std::string why;
    const auto run = RunOnce(timing, image, why);
    if (!run) {
      state.SkipWithError(why.c_str());
      break;
    }
    state.SetIterationTime(run->seconds);
    counters.Add(*run);
  }
  counters.Report(state);
}
BENCHMARK(FlashInProcess)->Apply(FlashArguments);

#if defined(UPDATE_SIM_EMULATOR)

// The CPU time of the children that have ended, in seconds.
double EndedChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One run against an update-sim-emulator of its own, started in boot mode and ended
// when the run is over.
std::optional<RunTiming> FlashOnceThroughEmulator(const std::string& socket,
                                                  std::chrono::microseconds latency,
                                                  const CBenchImage& image, std::string& why) {
  CChildProcess emulator(UPDATE_SIM_EMULATOR,
                         {"--socket", socket, "--boot", "--latency-us",
                          std::to_string(latency.count()), "--reenumerate-ms", "1"});
  if (!emulator.Started() || emulator.ReadLine(10s) != "listening " + socket) {
    why = "update-sim-emulator did not start";
    return std::nullopt;
  }
  auto platform = hid::emulator::CEmulatorPlatform::Connect(socket);
  if (!platform) {
    why = platform.error().message;
    return std::nullopt;
  }
  const auto timing = std::make_shared<CTimedPlatform>(platform.value());
  return RunOnce(timing, image, why);
}

// Through the emulator link. The emulator's CPU time (from its start to its end) is
// the device's share of each block.
void FlashThroughEmulator(benchmark::State& state) {
  const CBenchImage image(static_cast<std::uint32_t>(state.range(0)));
  const std::chrono::microseconds latency(state.range(1));
  const testing_support::CTempDir dir;
  const std::string socket = (dir.Path() / "emu.sock").string();
  CRunCounters counters(latency);
  for (auto _ : state) {
    const double before = EndedChildrenCpuSeconds();
    std::string why;
    auto run = FlashOnceThroughEmulator(socket, latency, image, why);
    if (!run) {
      state.SkipWithError(why.c_str());
      break;
    }
    run->deviceCpuSeconds = EndedChildrenCpuSeconds() - before;
    state.SetIterationTime(run->seconds);
    counters.Add(*run);
  }
  counters.Report(state);
}
BENCHMARK(FlashThroughEmulator)->Apply(FlashArguments);

#endif

}  // namespace
}  // namespace bench
