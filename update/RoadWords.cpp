#include "update/RoadWords.h"

#include <cstdio>

#include "firmware/ImageText.h"
#include "text/UiLanguage.h"
#include "update/Diagnosis.h"
#include "update/Words.h"

namespace update {

std::string VersionText(std::uint32_t versionWord) {
  return firmware::FormatVersion(static_cast<std::uint16_t>(versionWord),
                                 static_cast<std::uint16_t>(versionWord >> 16));
}

std::optional<std::string> StatusLine(const RoadView& view, const std::optional<RoadEnd>& lastEnd,
                                      std::uint16_t languageId) {
  const bool chinese = languageId == text::kLangChinesePrc;
  if (!view.device) {
    return std::nullopt;
  }
  const bool waiting = view.stage == RoadStage::kAsking ||
                       (view.stage == RoadStage::kReady && view.device->InBootMode());
  if (waiting) {
    return chinese ? "手柄在 BOOT 模式下等待：请点击“USB 升级”选择固件"
                   : "The controller is waiting in boot mode: click USB Update to choose the "
                     "firmware";
  }
  if (view.stage == RoadStage::kReady && lastEnd && lastEnd->outcome.Completed() &&
      lastEnd->newVersion && view.device->version == lastEnd->newVersion) {
    return Fill(chinese ? "固件已升级到 {0}。现在可以拔下手柄。"
                        : "Firmware upgraded to {0}. You can unplug the controller.",
                {VersionText(*lastEnd->newVersion)});
  }
  return std::nullopt;
}

std::optional<std::string> LabelLine(CRoad& road, bool restarting, std::uint16_t languageId,
                                     const base::DebugSink& debug) {
  const RoadView view = road.View();
  if (view.stage == RoadStage::kNoDevice && !restarting) {
    return WhyNoController(road.Link().Platform(), languageId, debug);
  }
  return StatusLine(view, road.LastEnd(), languageId);
}

std::optional<std::string> FailureText(const RoadEnd& end, std::uint16_t languageId) {
  const bool chinese = languageId == text::kLangChinesePrc;
  const RunOutcome& outcome = end.outcome;
  const std::string tryAgain = chinese ? "手柄在 BOOT 模式下等待：请点击“USB 升级”重试。"
                                       : "The controller waits in boot mode: click USB Update "
                                         "to try again.";
  const std::string replug =
      chinese ? "请拔下手柄后重新插上。" : "Unplug the controller and plug it in again.";
  std::string what;
  std::string todo = tryAgain;
  const bool gone = outcome.error && outcome.error->kind == base::ErrorKind::kDisconnected;
  switch (outcome.failure) {
    case RunFailure::kNone:
    case RunFailure::kNoImageChosen:
    case RunFailure::kDeclined:
    case RunFailure::kStopped:
      return std::nullopt;
    case RunFailure::kImageRefused:
      if (outcome.imageProblem == firmware::ImageProblem::kTypeMismatch ||
          outcome.imageProblem == firmware::ImageProblem::kTypeOutOfRange) {
        return std::nullopt;  // "The firmware type is error!" said it
      }
      [[fallthrough]];
    case RunFailure::kImageUnreadable:
    case RunFailure::kRegionOutOfRange:
      what = Fill(chinese ? "映像被拒绝：{0}。" : "The image was refused: {0}.",
                  {Why(outcome, languageId)});
      todo = chinese ? "手柄在 BOOT 模式下等待：请点击“USB 升级”，为它选择完整的固件文件。"
                     : "The controller waits in boot mode: click USB Update and choose a whole "
                       "image for it.";
      break;
    case RunFailure::kDeviceCommand:
    case RunFailure::kDeviceNotOpen:
      if (gone) {
        what = Fill(chinese ? "{0}时手柄被断开。" : "The controller was disconnected while {0}.",
                    {Where(outcome, languageId)});
        todo = chinese ? "手柄会停留在 BOOT 模式：请重新插上手柄，然后点击“USB 升级”重试。"
                       : "It stays in boot mode: plug it in again, then click USB Update to try "
                         "again.";
      } else {
        what = Fill(chinese ? "{0}时手柄停止了应答（{1}）。"
                            : "The controller stopped answering while {0} ({1}).",
                    {Where(outcome, languageId), Why(outcome, languageId)});
        todo = replug +
               (chinese ? "然后点击“USB 升级”重试。" : " Then click USB Update to try again.");
      }
      break;
    case RunFailure::kCrcMismatch:
      what = Fill(chinese ? "写入后的校验失败：手柄中的数据与映像不同（映像 {0}，手柄 {1}）。"
                          : "The check after writing failed: the controller holds other bytes "
                            "than the image (image {0}, controller {1}).",
                  {firmware::FormatTypeCode(outcome.imageCrc),
                   firmware::FormatTypeCode(outcome.deviceCrc)});
      break;
    case RunFailure::kBootModeTimeout:
      what = chinese ? "手柄没有以 BOOT 模式重新连接。"
                     : "The controller did not come back in boot mode.";
      todo = replug;
      break;
    case RunFailure::kNotIdentified:
      what = Fill(chinese ? "手柄以 BOOT 模式重新连接，但没有应答（{0}）。"
                          : "The controller came back in boot mode but did not answer ({0}).",
                  {outcome.error ? Reason(outcome.error->message, languageId) : "?"});
      todo = replug;
      break;
    case RunFailure::kTypeChanged:
      what = Fill(chinese ? "另一个手柄应答了：它报告类型 {0}，映像适用于 {1}。没有写入任何数据。"
                          : "Another controller answered: it reports type {0}, the image is for "
                            "{1}. Nothing was written.",
                  {firmware::FormatTypeCode(outcome.deviceType),
                   firmware::FormatTypeCode(outcome.imageType)});
      todo = replug;
      break;
  }
  return what + "\n" + todo;
}

std::string CloseQuestion(std::uint16_t languageId) {
  return languageId == text::kLangChinesePrc
             ? "正在更新固件。要停止吗？手柄将停留在 BOOT 模式。"
             : "An update is running. Stop it? The controller will stay in boot mode.";
}

}  // namespace update
