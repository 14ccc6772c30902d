// The benchmarks' main: Google Benchmark's console output, then one table of the
// flashing runs and the waits, and a non-zero exit when any benchmark failed (so that a
// smoke run in CTest notices a run that no longer completes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class CTableReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        ++m_Failures;
      } else if (run.run_type == Run::RT_Iteration) {
        m_Runs.push_back(run);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() const {
    bool header = false;
    for (const Run& run : m_Runs) {
      if (run.counters.count("us_per_block") == 0) {
        continue;
      }
      if (!header) {
        std::printf("\n%-44s %10s %10s %10s %9s %9s\n", "flashing run", "us/block", "host us/b",
                    "blocks/s", "kB/s", "of ideal");
        header = true;
      }
      const auto ratio = run.counters.find("ideal_ratio");
      const std::string share = ratio == run.counters.end()
                                    ? std::string("-")
                                    : Format("%.1f%%", ratio->second.value * 100.0);
      std::printf("%-44s %10.2f %10.2f %10.0f %9.1f %9s\n", Name(run).c_str(),
                  Value(run, "us_per_block"), Value(run, "host_us_per_block"),
                  Value(run, "blocks_per_s"), Value(run, "kB_per_s"), share.c_str());
    }
    header = false;
    for (const Run& run : m_Runs) {
      if (run.counters.count("beyond_us") == 0) {
        continue;
      }
      if (!header) {
        std::printf("\n%-44s %12s %16s\n", "wait", "took us", "beyond device us");
        header = true;
      }
      const double took = run.real_accumulated_time * 1e6 / static_cast<double>(run.iterations);
      std::printf("%-44s %12.1f %16.1f\n", Name(run).c_str(), took, Value(run, "beyond_us"));
    }
    if (m_Failures > 0) {
      std::printf("\n%d benchmark(s) failed\n", m_Failures);
    }
  }

  int Failures() const { return m_Failures; }

 private:
  // The name without the "/manual_time" Google Benchmark appends.
  static std::string Name(const Run& run) {
    std::string name = run.benchmark_name();
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

  std::vector<Run> m_Runs;
  int m_Failures = 0;
};

}  // namespace

int main(int argc, char** argv) {
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
