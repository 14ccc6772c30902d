// The run: open the device again and ask its type once more, ask where its region
// starts, erase, stream the region in 46-byte blocks, finish, compare CRC-16s, complete.
#include <algorithm>
#include <array>

#include "base/LittleEndian.h"
#include "protocol/Crc16.h"
#include "update/UpdateController.h"

namespace update {
namespace {

constexpr std::uint64_t kPayloadOffset = firmware::kHeaderSize;

void Fail(RunOutcome& outcome, RunFailure failure) {
  outcome.failure = failure;
}

void FailCommand(RunOutcome& outcome, const protocol::CDeviceCommands& commands) {
  const std::optional<base::Error>& reason = commands.LastError();
  if (reason && reason->kind == base::ErrorKind::kCancelled) {
    outcome.failure = RunFailure::kStopped;
    return;
  }
  outcome.failure = RunFailure::kDeviceCommand;
  outcome.error = reason;
}

}  // namespace

RunOutcome CUpdateController::UpdateWorker(const CheckedImage& image, std::uint16_t deviceType,
                                           base::CStopToken stop) {
  RunOutcome outcome;
  m_LastProgress = -1;
  if (stop.StopRequested()) {
    Fail(outcome, RunFailure::kStopped);
    return outcome;
  }
  EnterStep(outcome, RunStep::kLinking);
  if (m_Hid.OpenDevice() == 0) {
    Fail(outcome, RunFailure::kDeviceNotOpen);
    outcome.error = m_Hid.LastOpenError();
    return outcome;
  }
  // The image was checked for the controller identified on the owner's thread, a while
  // ago: another one may have been plugged in at its place since. Whatever answers now
  // must still be of that type before anything is erased.
  std::uint8_t typeReply[protocol::kBootTypeReplySize] = {};
  if (m_WorkerCommands.QueryBootType(typeReply, protocol::kBootTypeReplySize) == 0) {
    FailCommand(outcome, m_WorkerCommands);
    return outcome;
  }
  const std::uint16_t typeNow = base::LoadU16(typeReply);
  if (typeNow != deviceType ||
      firmware::CheckFirmwareType(image.header, typeNow) != firmware::TypeCheck::kMatch) {
    Fail(outcome, RunFailure::kTypeChanged);
    outcome.deviceType = typeNow;
    outcome.imageType = static_cast<std::uint16_t>(image.header.firmwareType);
    return outcome;
  }
  StreamImage(image, stop, outcome);
  return outcome;
}

void CUpdateController::StreamImage(const CheckedImage& checked, base::CStopToken stop,
                                    RunOutcome& outcome) {
  const std::uint32_t payloadLength = checked.header.payloadLength;
  if (payloadLength == 0) {
    // The image check refuses such an image before any run; nothing to write either way.
    Fail(outcome, RunFailure::kImageRefused);
    outcome.imageProblem = firmware::ImageProblem::kNoPayload;
    return;
  }
  EnterStep(outcome, RunStep::kQueryingRegion);
  std::uint8_t regionReply[protocol::kRegionStartReplySize] = {};
  if (!m_WorkerCommands.ExchangeBootCommand({.code = protocol::kCmdQueryRegionStart}, regionReply,
                                            protocol::kRegionStartReplySize, 0)) {
    FailCommand(outcome, m_WorkerCommands);
    return;
  }
  outcome.regionStart = base::LoadU32(regionReply);
  if (outcome.regionStart >= payloadLength) {
    // Nothing (or less than nothing) to write: stop before the device is erased.
    Fail(outcome, RunFailure::kRegionOutOfRange);
    return;
  }
  const std::uint32_t regionLength = payloadLength - outcome.regionStart;
  outcome.regionLength = regionLength;
  outcome.blockCount = (regionLength + kBlockSize - 1) / kBlockSize;
  const std::uint64_t regionOffset = kPayloadOffset + outcome.regionStart;

  // The word sum is taken before the erase, so that an image whose file does not hold
  // the whole region is refused while the device still holds its old firmware.
  EnterStep(outcome, RunStep::kCheckingImage);
  const auto sum = firmware::SumImageRegion(checked.path, regionOffset, regionLength);
  if (!sum) {
    if (sum.error().kind == base::ErrorKind::kInvalidData) {
      Fail(outcome, RunFailure::kImageRefused);
      outcome.imageProblem = firmware::ImageProblem::kPayloadPastEnd;
    } else {
      Fail(outcome, RunFailure::kImageUnreadable);
    }
    outcome.error = sum.error();
    return;
  }
  if (stop.StopRequested()) {
    Fail(outcome, RunFailure::kStopped);
    return;
  }

  EnterStep(outcome, RunStep::kErasing);
  if (m_WorkerCommands.EraseRegion(0, regionLength, stop) == 0) {
    FailCommand(outcome, m_WorkerCommands);
    return;
  }

  EnterStep(outcome, RunStep::kStreaming);
  firmware::CImageFile image;
  if (auto opened = image.Open(checked.path); !opened) {
    Fail(outcome, RunFailure::kImageUnreadable);
    outcome.error = opened.error();
    return;
  }
  std::uint64_t progressBytes = 0;
  SetRunProgress(progressBytes, regionLength);

  std::uint32_t bytesSent = 0;
  while (bytesSent < regionLength) {
    if (stop.StopRequested()) {
      Fail(outcome, RunFailure::kStopped);
      return;
    }
    // The last block ends with the region, even where the file goes on.
    const std::uint32_t want = std::min(kBlockSize, regionLength - bytesSent);
    const auto got = image.ReadAt(regionOffset + bytesSent, m_ChunkBuffer, want);
    if (!got || got.value() != want) {
      // The file failed or shrank since it was summed: never send a short block, and
      // never go round again on a read that brings nothing.
      Fail(outcome, RunFailure::kImageUnreadable);
      outcome.error =
          got ? base::Error{base::ErrorKind::kIo, "the image file shrank during the run"}
              : got.error();
      return;
    }
    if (m_WorkerCommands.WriteBlock(m_ChunkBuffer, bytesSent, want, regionLength, 1) == 0) {
      FailCommand(outcome, m_WorkerCommands);
      return;
    }
    bytesSent += want;
    outcome.block = bytesSent / kBlockSize + (bytesSent % kBlockSize != 0 ? 1 : 0);
    ReportRunProgress(outcome);

    // The bar counts the bytes of the block to be sent next, found by reading ahead:
    // after the last block that is whatever follows the region in the file.
    const auto ahead = image.ReadAt(regionOffset + bytesSent, m_ChunkBuffer, kBlockSize);
    progressBytes += ahead ? ahead.value() : 0;
    SetRunProgress(progressBytes, regionLength);
  }

  EnterStep(outcome, RunStep::kFinishing);
  if (!m_WorkerCommands.ExchangeBootCommand({.code = protocol::kCmdFinishWrite}, nullptr, 0, 0)) {
    FailCommand(outcome, m_WorkerCommands);
    return;
  }

  EnterStep(outcome, RunStep::kVerifying);
  const std::uint32_t rangeLength = std::min(kVerifiedLength, regionLength);
  const protocol::CrcQuery query{0, rangeLength, 0, sum->sum, sum->length};
  const auto queryBytes = query.Serialize();
  std::uint8_t crcReply[protocol::kRegionCrcReplySize] = {0, 0};
  const auto querySize = static_cast<std::uint32_t>(queryBytes.size());
  if (!m_WorkerCommands.ExchangeBootCommand({.code = protocol::kCmdQueryRegionCrc,
                                             .length = querySize,
                                             .size = querySize,
                                             .data = queryBytes.data()},
                                            crcReply, protocol::kRegionCrcReplySize, 0)) {
    FailCommand(outcome, m_WorkerCommands);
    return;
  }
  std::array<std::uint8_t, kVerifiedLength> verification{};
  const auto got = image.ReadAt(regionOffset + query.rangeOffset, verification.data(), rangeLength);
  if (!got || got.value() != rangeLength) {
    Fail(outcome, RunFailure::kImageUnreadable);
    outcome.error = got ? base::Error{base::ErrorKind::kIo, "the image file shrank during the run"}
                        : got.error();
    return;
  }
  outcome.imageCrc = protocol::Crc16(verification.data(), static_cast<int>(rangeLength));
  outcome.deviceCrc = base::LoadU16(crcReply);
  if (outcome.imageCrc != outcome.deviceCrc) {
    Fail(outcome, RunFailure::kCrcMismatch);
    return;
  }
  image.Close();

  // The device restarts once it has this command, and may be back before its echo is
  // read: the road looks for its return once this run has ended.
  EnterStep(outcome, RunStep::kCompleting);
  // Whether the device confirms or not, the update was verified: go on either way.
  outcome.completeConfirmed = m_WorkerCommands.CompleteUpdate() != 0;
  if (stop.StopRequested()) {
    return;  // the owner is closing: the update is done, nobody is left to tell
  }
  // The success box, the label and the button follow on the owner's thread (the road).
  m_Ui.SetProgress(0);
}

void CUpdateController::EnterStep(RunOutcome& outcome, RunStep step) {
  outcome.step = step;
  ReportRunProgress(outcome);
}

void CUpdateController::ReportRunProgress(const RunOutcome& outcome) {
  if (m_OnRunProgress) {
    m_OnRunProgress(outcome);
  }
}

void CUpdateController::SetRunProgress(std::uint64_t progressBytes, std::uint32_t regionLength) {
  // 64-bit arithmetic: a large region would wrap the product in 32 bits. Only changes
  // reach the window, so a long run does not cost a UI round trip per block.
  const auto position =
      static_cast<std::int32_t>(std::min<std::uint64_t>(100, progressBytes * 100 / regionLength));
  if (position != m_LastProgress) {
    m_LastProgress = position;
    m_Ui.SetProgress(position);
  }
}

}  // namespace update
