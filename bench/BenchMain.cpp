// The benchmarks' main: Google Benchmark's console output, then one table of the
// flashing runs, one of the waits and one of flash --all over several controllers
// (medians when --benchmark_repetitions asks for several), and a non-zero exit when any
// benchmark failed, so that a smoke run in CTest notices a run that no longer completes.
//
// Timer slack. The simulated controller makes each reply reach the host at its time by
// a timed wait of the reading thread. Linux lets such a wait end up to the thread's
// timer slack late (50 us unless set), which a real reply, woken by the USB interrupt,
// is not. So that the ratio to the ideal measures the tool and not that lateness, the
// process and everything it starts (the emulator) run with 1 us of slack;
// BENCH_TIMER_SLACK_NS chooses another value (50000 for the system's default).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {

class CTableReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        ++m_Failures;
        continue;
      }
      // One row per benchmark: its median when it was repeated, else its one run.
      const bool repeated = run.repetitions > 1;
      if (repeated ? run.aggregate_name == "median" : run.run_type == Run::RT_Iteration) {
        m_Rows.push_back(run);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() const {
    bool header = false;
    for (const Run& run : m_Rows) {
      if (run.counters.count("us_per_block") == 0) {
        continue;
      }
      if (!header) {
        std::printf("\n%-44s %9s %8s %9s %8s %8s %9s %8s %8s\n", "flashing run", "us/block",
                    "host us", "wait us", "cpu us", "dev cpu", "blocks/s", "kB/s", "of ideal");
        header = true;
      }
      const auto ratio = run.counters.find("ideal_ratio");
      const std::string share = ratio == run.counters.end()
                                    ? std::string("-")
                                    : Format("%.1f%%", ratio->second.value * 100.0);
      const auto device = run.counters.find("device_cpu_us_per_block");
      const std::string deviceCpu =
          device == run.counters.end() ? std::string("-") : Format("%.2f", device->second.value);
      std::printf("%-44s %9.2f %8.2f %9.2f %8.2f %8s %9.0f %8.1f %8s\n", Name(run).c_str(),
                  Value(run, "us_per_block"), Value(run, "host_us"), Value(run, "reply_wait_us"),
                  Value(run, "cpu_us_per_block"), deviceCpu.c_str(), Value(run, "blocks_per_s"),
                  Value(run, "kB_per_s"), share.c_str());
    }
    header = false;
    for (const Run& run : m_Rows) {
      if (run.counters.count("beyond_us") == 0) {
        continue;
      }
      if (!header) {
        std::printf("\n%-44s %12s %16s\n", "wait", "took us", "beyond device us");
        header = true;
      }
      const double took =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e6;
      std::printf("%-44s %12.1f %16.1f\n", Name(run).c_str(), took, Value(run, "beyond_us"));
    }
    header = false;
    double oneController = 0;
    for (const Run& run : m_Rows) {
      if (run.counters.count("controllers") == 0) {
        continue;
      }
      const double ms =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      if (Value(run, "controllers") == 1) {
        oneController = ms;
      }
      if (!header) {
        std::printf("\n%-44s %11s %8s %8s\n", "flash --all", "whole ms", "vs one", "cpu ms");
        header = true;
      }
      const std::string ratio =
          oneController > 0 ? Format("%.2f", ms / oneController) : std::string("-");
      std::printf("%-44s %11.1f %8s %8.1f\n", Name(run).c_str(), ms, ratio.c_str(),
                  Value(run, "cpu_ms"));
    }
    if (m_Failures > 0) {
      std::printf("\n%d benchmark(s) failed\n", m_Failures);
    }
  }

  int Failures() const { return m_Failures; }

 private:
  // The name without the "/manual_time" Google Benchmark appends.
  static std::string Name(const Run& run) {
    std::string name = run.run_name.str();
    const std::string suffix = "/manual_time";
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      name.resize(name.size() - suffix.size());
    }
    return name;
  }
  static double Value(const Run& run, const char* name) {
    const auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : found->second.value;
  }
  static std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
  }

  std::vector<Run> m_Rows;
  int m_Failures = 0;
};

void SetTimerSlack() {
#if defined(__linux__)
  unsigned long slackNs = 1000;
  if (const char* chosen = std::getenv("BENCH_TIMER_SLACK_NS")) {
    slackNs = std::strtoul(chosen, nullptr, 10);
  }
  if (prctl(PR_SET_TIMERSLACK, slackNs, 0, 0, 0) == 0) {
    benchmark::AddCustomContext("timer_slack_ns", std::to_string(slackNs));
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  SetTimerSlack();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 2;
  }
  CTableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fflush(stdout);
  reporter.PrintTable();
  benchmark::Shutdown();
  return reporter.Failures() == 0 ? 0 : 1;
}
