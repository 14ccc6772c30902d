// Whole `update-cli flash IMAGE --all --yes` runs in this process against 1, 4 and 16
// simulated controllers that answer each frame a fixed latency late (1 ms, as a USB frame
// would), from the start of the command to its summary: identification, the one
// question, the switch to boot mode, erase, write, verify, completion and the return to
// application mode of every controller. The runs wait on their devices, not on the host:
// sixteen should take hardly longer than one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <sstream>

#include "bench/BenchRig.h"
#include "cli/CliMain.h"
#include "sim/SimPlatform.h"

namespace bench {
namespace {

constexpr std::uint32_t kImageBytes = 16 * 1024;  // 357 blocks

void FlashAll(benchmark::State& state) {
  const CBenchImage image(kImageBytes);
  const auto controllers = static_cast<std::size_t>(state.range(0));
  const std::chrono::microseconds latency(state.range(1));
  double cpuSeconds = 0;
  for (auto _ : state) {
    std::vector<std::shared_ptr<sim::CSimController>> devices;
    for (std::size_t i = 0; i < controllers; ++i) {
      sim::SimConfig config;
      config.replyLatency = latency;
      config.flashSize = std::max(config.flashSize, image.PayloadBytes());
      devices.push_back(std::make_shared<sim::CSimController>(config));
    }
    std::ostringstream out;
    std::ostringstream err;
    cli::CliContext context;
    context.out = &out;
    context.err = &err;
    context.inputFd = -1;
    context.platformFactory =
        [&devices](
            const cli::PlatformRequest&) -> base::Result<std::shared_ptr<hid::IHidPlatform>> {
      return std::shared_ptr<hid::IHidPlatform>(std::make_shared<sim::CSimPlatform>(devices));
    };
    const char* argv[] = {"update-cli", "flash", image.Path().c_str(), "--all", "--yes"};
    const Moment start = Moment::Now();
    const int code = cli::RunMain(5, argv, context);
    const Moment end = Moment::Now();
    if (code != 0) {
      state.SkipWithError(
          ("flash --all ended with " + std::to_string(code) + ": " + err.str()).c_str());
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(end.wall - start.wall).count());
    cpuSeconds += static_cast<double>(end.cpu - start.cpu) / CLOCKS_PER_SEC;
  }
  state.counters["controllers"] = static_cast<double>(controllers);
  state.counters["cpu_ms"] =
      benchmark::Counter(cpuSeconds * 1000.0, benchmark::Counter::kAvgIterations);
}
BENCHMARK(FlashAll)
    ->ArgNames({"controllers", "latency_us"})
    ->Args({1, 1000})
    ->Args({4, 1000})
    ->Args({16, 1000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
