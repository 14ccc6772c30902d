// What the benchmarks share: an image file of a chosen size, a user interface that
// answers at once and notes when the run's device work begins and ends, and the
// counters every flashing benchmark reports.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "bench/TimedPlatform.h"
#include "hid/Hid.h"
#include "tests/support/TempDir.h"
#include "update/Road.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// A moment of a run: the wall clock and the CPU time this process had used by then (all
// its threads; std::clock is that on POSIX systems).
struct Moment {
  Clock::time_point wall;
  std::clock_t cpu = 0;

  static Moment Now() { return {Clock::now(), std::clock()}; }
};

// A firmware image for device kind 5 whose region (from region start 0) is
// payloadBytes long, in a directory of its own.
class CBenchImage {
 public:
  explicit CBenchImage(std::uint32_t payloadBytes);
  const std::string& Path() const { return m_Path; }
  std::uint32_t PayloadBytes() const { return m_PayloadBytes; }

 private:
  testing_support::CTempDir m_Dir;
  std::uint32_t m_PayloadBytes;
  std::string m_Path;
};

// Chooses the given image, answers every box with OK and keeps no history, so that the
// user interface costs the run nothing. It notes the moment the version prompt is
// answered (the run then turns to the device) and the moment the success box opens (the
// completing command has been sent and its echo awaited), and when the button was last
// enabled.
class CAnsweringUi final : public update::IUserInterface {
 public:
  explicit CAnsweringUi(std::string imagePath = {}) : m_ImagePath(std::move(imagePath)) {}

  std::optional<Moment> PromptAnswered() const { return m_PromptAnswered; }
  std::optional<Moment> SuccessShown() const { return m_SuccessShown; }
  std::optional<Clock::time_point> ButtonEnabled() const { return m_ButtonEnabled; }
  void Forget();

  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t /*position*/) override {}
  void EnableUpdateButton(bool enabled) override;
  void ShowCompletionLabel(bool /*visible*/) override {}
  void SetWindowTitle(const std::string& /*title*/) override {}
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest& request) override;

 private:
  std::string m_ImagePath;
  std::optional<Moment> m_PromptAnswered;
  std::optional<Moment> m_SuccessShown;
  std::optional<Clock::time_point> m_ButtonEnabled;
};

// English texts, so that no benchmark depends on the machine's language.
update::RoadOptions BenchOptions();

// Runs a whole run on a road over `timing`, on which the device waits in boot mode. Returns the
// time of the run's device work (prompt answered to success shown), the CPU time this process spent
// meanwhile, the run's blocks and bytes, and how its blocks' time split; or an error text.
struct RunTiming {
  double seconds = 0;
  double cpuSeconds = 0;
  std::uint32_t blocks = 0;
  std::uint32_t bytes = 0;
  BlockSplit split;
  double deviceCpuSeconds = 0;  // a device model in a process of its own; else 0
};
std::optional<RunTiming> RunOnce(const std::shared_ptr<CTimedPlatform>& timing,
                                 const CBenchImage& image, std::string& why);

// Sums the runs of one benchmark and sets its counters: wall time per block and its two
// parts (the host's own time from one echo to the next block, and the wait for the
// reply), this process's CPU time per block (which a busy machine does not inflate) and
// that of a device model in a process of its own,
// blocks and bytes per second, and for a device with a latency the throughput as a share
// of the ideal of one 46-byte block per latency.
class CRunCounters {
 public:
  explicit CRunCounters(std::chrono::microseconds latency = {}) : m_Latency(latency) {}
  void Add(const RunTiming& run);
  void Report(benchmark::State& state) const;

 private:
  std::chrono::microseconds m_Latency;
  double m_Seconds = 0;
  double m_CpuSeconds = 0;
  double m_DeviceCpuSeconds = 0;
  double m_HostUs = 0;  // sums over blocks
  double m_WaitUs = 0;
  std::uint64_t m_SplitBlocks = 0;
  std::uint64_t m_Blocks = 0;
  std::uint64_t m_Bytes = 0;
};

}  // namespace bench
