// What the benchmarks share: an image file of a chosen size, a user interface that
// answers at once and notes when the run's device work begins and ends, and the
// counters every flashing benchmark reports.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hid/Hid.h"
#include "tests/support/TempDir.h"
#include "update/UpdateController.h"

namespace bench {

using Clock = std::chrono::steady_clock;

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
// device has confirmed the completing command), and when the button was last enabled.
class CAnsweringUi final : public update::IUserInterface {
 public:
  explicit CAnsweringUi(std::string imagePath = {}) : m_ImagePath(std::move(imagePath)) {}

  std::optional<Clock::time_point> PromptAnswered() const { return m_PromptAnswered; }
  std::optional<Clock::time_point> SuccessShown() const { return m_SuccessShown; }
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
  std::optional<Clock::time_point> m_PromptAnswered;
  std::optional<Clock::time_point> m_SuccessShown;
  std::optional<Clock::time_point> m_ButtonEnabled;
};

// English texts, so that no benchmark depends on the machine's language.
update::ControllerOptions BenchOptions();

// Runs UpdateWorker in place on a link whose last search found the device in boot
// mode. Returns the device time of the run (prompt answered to success shown) and its
// block count, or an error text.
struct RunTiming {
  double seconds = 0;
  std::uint32_t blocks = 0;
  std::uint32_t bytes = 0;
};
std::optional<RunTiming> RunOnce(hid::CHid& link, const CBenchImage& image, std::string& why);

// Sums the runs of one benchmark and sets its counters: wall time per block, the part
// of it beyond the device's reply latency (the host's own time), blocks and bytes per
// second, and for a device with a latency the throughput as a share of the ideal of one
// 46-byte block per latency.
class CRunCounters {
 public:
  explicit CRunCounters(std::chrono::microseconds latency = {}) : m_Latency(latency) {}
  void Add(const RunTiming& run);
  void Report(benchmark::State& state) const;

 private:
  std::chrono::microseconds m_Latency;
  double m_Seconds = 0;
  std::uint64_t m_Blocks = 0;
  std::uint64_t m_Bytes = 0;
};

}  // namespace bench
