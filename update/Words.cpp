#include "update/Words.h"

#include <cstdio>
#include <string_view>

#include "firmware/ImageText.h"
#include "text/LocalizedText.h"

namespace update {

const char* Words::In(std::uint16_t languageId) const {
  return languageId == text::kLangChinesePrc ? chinese : english;
}

Words WordsOf(RunStep step) {
  switch (step) {
    case RunStep::kChoosing:
      return {"choosing", "choosing the image", "选择映像"};
    case RunStep::kSwitching:
      return {"switching", "waiting for the controller in boot mode", "等待手柄进入 BOOT 模式"};
    case RunStep::kLinking:
      return {"linking", "opening the device", "打开设备"};
    case RunStep::kQueryingRegion:
      return {"queryingRegion", "asking for the region", "询问写入区域"};
    case RunStep::kCheckingImage:
      return {"checkingImage", "checking the image", "检查映像"};
    case RunStep::kErasing:
      return {"erasing", "erasing", "擦除"};
    case RunStep::kStreaming:
      return {"streaming", "writing", "写入"};
    case RunStep::kFinishing:
      return {"finishing", "finishing the write", "结束写入"};
    case RunStep::kVerifying:
      return {"verifying", "verifying", "校验"};
    case RunStep::kCompleting:
      return {"completing", "completing", "完成"};
  }
  return {"updating", "updating", "更新"};
}

Words WordsOf(RunFailure failure) {
  switch (failure) {
    case RunFailure::kNone:
      return {"none", "completed", "已完成"};
    case RunFailure::kNoImageChosen:
      return {"noImageChosen", "no image was chosen", "没有选择映像"};
    case RunFailure::kImageRefused:
      return {"imageRefused", "the image was refused", "映像被拒绝"};
    case RunFailure::kDeclined:
      return {"declined", "the update was declined", "更新被拒绝"};
    case RunFailure::kDeviceNotOpen:
      return {"deviceNotOpen", "the device could not be opened", "无法打开设备"};
    case RunFailure::kDeviceCommand:
      return {"deviceCommand", "the device command failed", "设备命令失败"};
    case RunFailure::kRegionOutOfRange:
      return {"regionOutOfRange", "the device's region does not fit the image",
              "设备的写入区域与映像不符"};
    case RunFailure::kImageUnreadable:
      return {"imageUnreadable", "the image file could not be read", "无法读取映像文件"};
    case RunFailure::kCrcMismatch:
      return {"crcMismatch", "the CRC-16 check failed", "CRC-16 校验失败"};
    case RunFailure::kStopped:
      return {"stopped", "the run was stopped", "写入过程被停止"};
    case RunFailure::kBootModeTimeout:
      return {"bootModeTimeout", "the controller did not come back in boot mode in time",
              "手柄没有及时以 BOOT 模式重新连接"};
    case RunFailure::kNotIdentified:
      return {"notIdentified", "the controller came back but did not tell its type",
              "手柄已重新连接，但没有报告其类型"};
    case RunFailure::kTypeChanged:
      return {"typeChanged", "the controller now reports another type", "手柄现在报告了另一种类型"};
  }
  return {"failed", "failed", "失败"};
}

Words WordsOf(firmware::ImageProblem problem) {
  using firmware::ImageProblem;
  switch (problem) {
    case ImageProblem::kNone:
      return {"none", "the image is usable", "映像可用"};
    case ImageProblem::kCannotOpen:
      return {"unreadable", "the image file cannot be opened", "无法打开映像文件"};
    case ImageProblem::kNotAFile:
      return {"notAFile", "the image is not a regular file", "映像不是普通文件"};
    case ImageProblem::kReadError:
      return {"unreadable", "the image file cannot be read", "无法读取映像文件"};
    case ImageProblem::kEmpty:
      return {"truncated", "the image file is empty", "映像文件是空的"};
    case ImageProblem::kHeaderTruncated:
      return {"truncated", "the image file is shorter than its 28-byte header",
              "映像文件短于其 28 字节的文件头"};
    case ImageProblem::kTypeOutOfRange:
      return {"typeMismatch", "the image's type field is not a device type code",
              "映像的类型字段不是设备类型代码"};
    case ImageProblem::kTypeMismatch:
      return {"typeMismatch", "the image is built for another device type",
              "映像适用于另一种设备类型"};
    case ImageProblem::kPayloadPastEnd:
      return {"payloadPastEnd", "the image file ends before the payload its header announces",
              "映像文件在其文件头声明的有效数据之前就结束了"};
    case ImageProblem::kNoPayload:
      return {"noPayload", "the image holds no payload: there is nothing to write",
              "映像没有有效数据：没有可写入的内容"};
  }
  return {"unusable", "the image is not usable", "映像不可用"};
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> arguments) {
  std::string text;
  text.reserve(pattern.size() + 32);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '{') {
      text += '{';
      ++i;
      continue;
    }
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '0' &&
        pattern[i + 1] <= '9' && pattern[i + 2] == '}') {
      const auto index = static_cast<std::size_t>(pattern[i + 1] - '0');
      if (index < arguments.size()) {
        text += *(arguments.begin() + index);
        i += 2;
        continue;
      }
    }
    text += pattern[i];
  }
  return text;
}

namespace {

// The reasons the link and the commands word themselves end the message ("read: the
// device went away"); the system's own words (errno's text) are left as they are.
std::string Reason(std::string message, std::uint16_t languageId) {
  const Words known[] = {
      {"", "the device went away", "设备已断开"},
      {"", "the device did not answer", "设备没有应答"},
      {"", "the device answered with an unexpected reply", "设备的应答不符合预期"},
  };
  for (const Words& words : known) {
    const std::string_view english = words.english;
    if (message.ends_with(english)) {
      message.replace(message.size() - english.size(), english.size(), words.In(languageId));
      break;
    }
  }
  return message;
}

}  // namespace

std::string Describe(const RunOutcome& outcome, std::uint16_t languageId) {
  const bool chinese = languageId == text::kLangChinesePrc;
  if (outcome.Completed()) {
    return WordsOf(RunFailure::kNone).In(languageId);
  }
  std::string where = WordsOf(outcome.step).In(languageId);
  if (outcome.step == RunStep::kStreaming && outcome.blockCount > 0) {
    where = Fill(chinese ? "写入第 {0} 个数据块（共 {1} 个）" : "writing block {0} of {1}",
                 {std::to_string(outcome.block + 1), std::to_string(outcome.blockCount)});
  }
  std::string why;
  switch (outcome.failure) {
    case RunFailure::kDeviceCommand:
      // The command's reason reads on its own: "write: No such device".
      if (outcome.error) {
        return where + ": " + Reason(outcome.error->message, languageId);
      }
      why = WordsOf(outcome.failure).In(languageId);
      break;
    case RunFailure::kImageRefused:
      why = WordsOf(outcome.imageProblem).In(languageId);
      break;
    case RunFailure::kCrcMismatch:
      why = Fill(chinese ? "CRC-16 校验失败（映像 {0}，设备 {1}）"
                         : "the CRC-16 check failed (image {0}, device {1})",
                 {firmware::FormatTypeCode(outcome.imageCrc),
                  firmware::FormatTypeCode(outcome.deviceCrc)});
      break;
    case RunFailure::kRegionOutOfRange:
      why = Fill(chinese ? "设备的写入区域从 {0} 开始，不在映像的有效数据之内"
                         : "the device's region starts at {0}, not inside the image's payload",
                 {std::to_string(outcome.regionStart)});
      break;
    case RunFailure::kTypeChanged:
      why = Fill(chinese ? "手柄现在报告类型 {0}，映像适用于 {1}"
                         : "the controller now reports type {0}, the image is for {1}",
                 {firmware::FormatTypeCode(outcome.deviceType),
                  firmware::FormatTypeCode(outcome.imageType)});
      break;
    default:
      why = WordsOf(outcome.failure).In(languageId);
      break;
  }
  if (outcome.error) {
    why += ": " + Reason(outcome.error->message, languageId);
  }
  return where + ": " + why;
}

std::string Describe(const RunOutcome& outcome) {
  return Describe(outcome, text::kLangEnglishUs);
}

}  // namespace update
