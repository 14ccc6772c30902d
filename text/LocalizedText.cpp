#include "text/LocalizedText.h"

#include <array>
#include <string_view>

#include "text/UiLanguage.h"

namespace text {
namespace {

// Kept exactly as the product ships them: the ASCII commas in Chinese texts 2 and 11,
// the space before the first line break of the Chinese instructions, the three spaces
// that indent "(.dat)." in the English ones. Do not tidy them.
constexpr std::string_view kInstructionsEnglish =
    "1. Connect the receiver to the PC via USB.\r\n\r\n"
    "2. Click \"USB Update\" button and select firmware file\r\n"
    "   (.dat).";
constexpr std::string_view kInstructionsChinese =
    "1. 将接收器通过USB口连接电脑。 \r\n\r\n"
    "2. 点击 USB 升级按钮，选择固件文件(.dat)升级。";
constexpr std::string_view kResetHint =
    "* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
    "firmware again";

constexpr std::array<std::string_view, kTextCount> kChinese = {
    "搜索",
    "更新",
    "正在更新固件,是否立即停止？",
    "文件类型中显示的内容",
    "升级成功。",
    "升级新固件",
    "Corvane Update v2.15",
    "固件更新失败",
    "正在搜索蓝牙设备",
    "警告",
    "打开蓝牙设备错误",
    "固件更新失败,请将手柄工作在 BOOT 模式",
    "USB 升级",
    kInstructionsChinese,
    kInstructionsChinese,
    "当前版本为",
    kResetHint,
    "当前版本未知",
};

constexpr std::array<std::string_view, kTextCount> kEnglish = {
    "Search",
    "Update",
    "The new firmware is updating,and it is turned off",
    "File type",
    "Firmware upgraded!",
    "New firmware",
    "Corvane Update v2.15",
    "Firmware update failure",
    "Searching for Bluetooth devices",
    "warning",
    "Open bluetooth error",
    "Firmware update failure, please handle work in BOOT mode",
    "USB Update",
    kInstructionsEnglish,
    kInstructionsEnglish,
    "and current is",
    kResetHint,
    "and current is unknown",
};

}  // namespace

std::string LoadStringResource(std::uint32_t resourceId) {
  if (resourceId >= kChineseResourceBase && resourceId < kChineseResourceBase + kTextCount) {
    return std::string(kChinese[resourceId - kChineseResourceBase]);
  }
  if (resourceId >= kEnglishResourceBase && resourceId < kEnglishResourceBase + kTextCount) {
    return std::string(kEnglish[resourceId - kEnglishResourceBase]);
  }
  return {};
}

std::string LoadLocalizedText(TextId id, std::uint16_t languageId) {
  const std::uint32_t base =
      languageId == kLangChinesePrc ? kChineseResourceBase : kEnglishResourceBase;
  // Ids far past the table wrap in 32 bits and still find nothing.
  return LoadStringResource(id + base);
}

std::string LoadLocalizedText(TextId id) {
  return LoadLocalizedText(id, GetUserDefaultUILanguage());
}

}  // namespace text
