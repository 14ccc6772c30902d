// The asking before a run (choose the image, check its type, confirm the versions) and
// the run itself: ask the device where its region starts, erase, stream the region in
// 46-byte blocks, finish, compare CRC-16s, complete.
#include <algorithm>
#include <array>

#include "base/FilePath.h"
#include "base/LittleEndian.h"
#include "firmware/VersionPrompt.h"
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

std::optional<CheckedImage> CUpdateController::SelectFirmwareImage(std::uint16_t expectedType,
                                                                   RunOutcome* outcome) {
  RunOutcome ignored;
  RunOutcome& result = outcome != nullptr ? *outcome : ignored;
  result.step = RunStep::kChoosing;

  OpenFileRequest request;
  request.filter = Text(text::kFileType) + "(*.dat)|*.dat||";
  request.defaultExtension = "*.*";
  // Never the program's own folder (the shortcut's working folder), which holds no image.
  request.initialDirectory = m_LastImageFolder;

  const std::optional<std::string> chosen = m_Ui.ShowOpenFileDialog(request);
  if (!chosen) {
    Fail(result, RunFailure::kNoImageChosen);
    return std::nullopt;
  }
  m_LastImageFolder = base::Utf8FromPath(base::PathFromUtf8(*chosen).parent_path());
  CheckedImage image{*chosen, {}};

  const firmware::ImageRead read = firmware::ReadImageInfo(image.path);
  if (read.problem != firmware::ImageProblem::kNone) {
    // Unreadable or shorter than a header: refused without a word, and no header
    // field is ever taken from an earlier image.
    Fail(result, RunFailure::kImageRefused);
    result.imageProblem = read.problem;
    if (!read.detail.empty()) {
      result.error = base::Error{base::ErrorKind::kIo, read.detail};
    }
    return std::nullopt;
  }
  image.header = read.info.header;

  if (const auto type = firmware::CheckFirmwareType(image.header, expectedType);
      type != firmware::TypeCheck::kMatch) {
    (void)m_Ui.ShowMessageBox("The firmware type is error!\n", Text(text::kWindowTitle),
                              MessageButtons::kOk);
    Fail(result, RunFailure::kImageRefused);
    result.imageProblem = type == firmware::TypeCheck::kOutOfRange
                              ? firmware::ImageProblem::kTypeOutOfRange
                              : firmware::ImageProblem::kTypeMismatch;
    return std::nullopt;
  }

  // No comparison of versions: the user sees both and decides.
  const std::string prompt = firmware::FormatVersionPrompt(
      Text(text::kNewFirmware), Text(text::kAndCurrentIs), image.header.version, image.header.beta,
      GetCurrentFirmwareInfo(), Text(text::kAndCurrentIsUnknown));
  if (m_Ui.ShowMessageBox(prompt, Text(text::kWindowTitle), MessageButtons::kOkCancel) ==
      MessageResult::kCancel) {
    Debug("MessageBox == IDCANCEL\n");
    Fail(result, RunFailure::kDeclined);
    return std::nullopt;
  }
  return image;
}

RunOutcome CUpdateController::UpdateWorker(const CheckedImage& image, base::CStopToken stop) {
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
  StreamImage(image, stop, outcome);
  return outcome;
}

void CUpdateController::StreamImage(const CheckedImage& checked, base::CStopToken stop,
                                    RunOutcome& outcome) {
  EnterStep(outcome, RunStep::kQueryingRegion);
  std::uint8_t regionReply[protocol::kRegionStartReplySize] = {};
  const bool regionKnown = m_WorkerCommands.ExchangeBootCommand(
      {.code = protocol::kCmdQueryRegionStart}, regionReply, protocol::kRegionStartReplySize, 0);
  // The query goes out before the payload length is looked at, also for an empty image.
  const std::uint32_t payloadLength = checked.header.payloadLength;
  if (payloadLength == 0) {
    Fail(outcome, RunFailure::kEmptyPayload);
    return;
  }
  if (!regionKnown) {
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
  // read: from here identification may meet it, and its version is the new one.
  m_AwaitingReturn.store(true);
  (void)m_Hid.FollowDevicePlace(m_Options.followBound);  // back in application mode, here
  m_LinkHold.store(LinkHold::kCompleting);
  EnterStep(outcome, RunStep::kCompleting);
  // Whether the device confirms or not, the update was verified: go on either way.
  outcome.completeConfirmed = m_WorkerCommands.CompleteUpdate() != 0;
  if (stop.StopRequested()) {
    return;  // the owner is closing: the update is done, nobody is left to tell
  }
  // The success box, the label and the button follow on the owner's thread (OnRunEnded).
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
