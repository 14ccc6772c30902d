#include "bench/BenchRig.h"

#include <vector>

#include "firmware/FirmwareHeader.h"
#include "update/Words.h"

namespace bench {

CBenchImage::CBenchImage(std::uint32_t payloadBytes) : m_PayloadBytes(payloadBytes) {
  firmware::FirmwareHeader header;
  header.version = 215;
  header.firmwareType = firmware::kTypeCodeKind5;
  header.payloadLength = payloadBytes;
  const auto head = firmware::SerializeFirmwareHeader(header);
  std::vector<std::uint8_t> bytes(head.begin(), head.end());
  bytes.reserve(head.size() + payloadBytes);
  for (std::uint32_t i = 0; i < payloadBytes; ++i) {
    bytes.push_back(static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 9)));
  }
  m_Path = m_Dir.WriteFile("bench.dat", bytes);
}

void CAnsweringUi::Forget() {
  m_PromptAnswered.reset();
  m_SuccessShown.reset();
  m_ButtonEnabled.reset();
}

update::MessageResult CAnsweringUi::ShowMessageBox(const std::string& /*text*/,
                                                   const std::string& /*caption*/,
                                                   update::MessageButtons buttons) {
  // The version prompt is the only box with two buttons; the success box has one.
  if (buttons == update::MessageButtons::kOkCancel) {
    m_PromptAnswered = Moment::Now();
  } else {
    m_SuccessShown = Moment::Now();
  }
  return update::MessageResult::kOk;
}

void CAnsweringUi::EnableUpdateButton(bool enabled) {
  if (enabled) {
    m_ButtonEnabled = Clock::now();
  }
}

std::optional<std::string> CAnsweringUi::ShowOpenFileDialog(
    const update::OpenFileRequest& /*request*/) {
  return m_ImagePath;
}

update::RoadOptions BenchOptions() {
  update::RoadOptions options;
  options.languageId = 1033;
  return options;
}

std::optional<RunTiming> RunOnce(const std::shared_ptr<CTimedPlatform>& timing,
                                 const CBenchImage& image, std::string& why) {
  CAnsweringUi ui(image.Path());
  update::CRoad road(timing, ui, BenchOptions());
  road.StartUp();  // found in boot mode: asked for its image, then its run starts
  if (road.Stage() != update::RoadStage::kRunning || !road.WaitForRunEnd(std::chrono::minutes(5))) {
    why = "the run did not start or did not end";
    return std::nullopt;
  }
  const update::RunOutcome outcome =
      road.LastEnd() ? road.LastEnd()->outcome : update::RunOutcome{};
  // The completing command's echo is not required: the run goes on without it, and
  // through the emulator link the device's leaving often overtakes it.
  if (!outcome.Completed()) {
    why = "the run did not complete: " + update::Describe(outcome);
    return std::nullopt;
  }
  if (!ui.PromptAnswered() || !ui.SuccessShown()) {
    why = "the run completed without its prompt and success box";
    return std::nullopt;
  }
  const std::chrono::duration<double> span = ui.SuccessShown()->wall - ui.PromptAnswered()->wall;
  const double cpu = static_cast<double>(ui.SuccessShown()->cpu - ui.PromptAnswered()->cpu) /
                     static_cast<double>(CLOCKS_PER_SEC);
  return RunTiming{span.count(), cpu, outcome.blockCount, outcome.regionLength,
                   timing->TakeBlockSplit()};
}

void CRunCounters::Add(const RunTiming& run) {
  m_Seconds += run.seconds;
  m_CpuSeconds += run.cpuSeconds;
  m_DeviceCpuSeconds += run.deviceCpuSeconds;
  m_HostUs += run.split.hostUs * run.split.blocks;
  m_WaitUs += run.split.replyWaitUs * run.split.blocks;
  m_SplitBlocks += run.split.blocks;
  m_Blocks += run.blocks;
  m_Bytes += run.bytes;
}

void CRunCounters::Report(benchmark::State& state) const {
  if (m_Blocks == 0 || m_Seconds <= 0) {
    return;
  }
  const double latency = std::chrono::duration<double>(m_Latency).count();
  const double blocks = static_cast<double>(m_Blocks);
  state.counters["us_per_block"] = m_Seconds * 1e6 / blocks;
  if (m_SplitBlocks > 0) {
    state.counters["host_us"] = m_HostUs / static_cast<double>(m_SplitBlocks);
    state.counters["reply_wait_us"] = m_WaitUs / static_cast<double>(m_SplitBlocks);
  }
  state.counters["cpu_us_per_block"] = m_CpuSeconds * 1e6 / blocks;
  if (m_DeviceCpuSeconds > 0) {
    state.counters["device_cpu_us_per_block"] = m_DeviceCpuSeconds * 1e6 / blocks;
  }
  state.counters["blocks_per_s"] = blocks / m_Seconds;
  state.counters["kB_per_s"] = static_cast<double>(m_Bytes) / m_Seconds / 1000.0;
  if (latency > 0) {
    const double ideal = static_cast<double>(update::kBlockSize) / latency;
    state.counters["ideal_ratio"] = static_cast<double>(m_Bytes) / m_Seconds / ideal;
  }
}

}  // namespace bench
