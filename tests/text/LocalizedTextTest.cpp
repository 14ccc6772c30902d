#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "text/LocalizedText.h"
#include "text/UiLanguage.h"

namespace {

using text::LoadLocalizedText;

// The texts as the product ships them, spelled out here independently of the table, and
// the language each language ID gets.
TEST(LocalizedText, EveryUsedTextIsByteExactInBothLanguages) {
  struct Case {
    text::TextId id;
    const char* english;
    const char* chinese;
  };
  const Case cases[] = {
      {2, "The new firmware is updating,and it is turned off", "正在更新固件,是否立即停止？"},
      {3, "File type", "文件类型中显示的内容"},
      {4, "Firmware upgraded!", "升级成功。"},
      {5, "New firmware", "升级新固件"},
      {6, "Corvane Update v2.15", "Corvane Update v2.15"},
      {11, "Firmware update failure, please handle work in BOOT mode",
       "固件更新失败,请将手柄工作在 BOOT 模式"},
      {12, "USB Update", "USB 升级"},
      {14,
       "1. Connect the receiver to the PC via USB.\r\n\r\n2. Click \"USB Update\" button and "
       "select firmware file\r\n   (.dat).",
       "1. 将接收器通过USB口连接电脑。 \r\n\r\n2. 点击 USB 升级按钮，选择固件文件(.dat)升级。"},
      {15, "and current is", "当前版本为"},
      {16,
       "* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
       "firmware again",
       "* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
       "firmware again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(LoadLocalizedText(c.id, text::kLangEnglishUs), c.english);
    EXPECT_EQ(LoadLocalizedText(c.id, text::kLangChinesePrc), c.chinese);
    // Only Chinese (PRC) gets Chinese: Taiwan, Hong Kong, Singapore, neutral, none.
    for (const std::uint16_t lang : {1028, 3076, 4100, 0x0004, 0}) {
      EXPECT_EQ(LoadLocalizedText(c.id, lang), c.english) << lang;
    }
  }
  // 13 and 14 are one text in two slots.
  EXPECT_EQ(LoadLocalizedText(13, 1033), LoadLocalizedText(14, 1033));
  EXPECT_EQ(LoadLocalizedText(13, 2052), LoadLocalizedText(14, 2052));
}

TEST(LocalizedText, ResourceIdsAreTextIdPlusLanguageBase) {
  EXPECT_EQ(text::LoadStringResource(129), "搜索");
  EXPECT_EQ(text::LoadStringResource(145), text::LoadStringResource(254));  // text 16 in both
  EXPECT_EQ(text::LoadStringResource(238), "Search");
  EXPECT_EQ(text::LoadStringResource(250), "USB Update");
  EXPECT_EQ(text::LoadStringResource(146), "当前版本未知");
  EXPECT_EQ(text::LoadStringResource(255), "and current is unknown");
  for (std::uint32_t missing : {0u, 128u, 147u, 237u, 256u, 0xFFFFFFFFu}) {
    EXPECT_EQ(text::LoadStringResource(missing), "") << missing;
  }
  EXPECT_EQ(LoadLocalizedText(18, 1033), "");
  EXPECT_EQ(LoadLocalizedText(0xFFFFFFFFu, 1033), "");
}

TEST(UiLanguage, LocaleNamesMapToLanguageIds) {
  const std::map<std::string, std::uint16_t> cases = {
      {"zh_CN", 2052},       {"zh_CN.UTF-8", 2052}, {"zh_CN.GB18030@pinyin", 2052},
      {"zh-CN", 2052},       {"zh_TW.UTF-8", 1028}, {"zh_HK", 3076},
      {"zh_SG.GBK", 4100},   {"zh", 1033},          {"zh_CNX", 1033},
      {"en_US.UTF-8", 1033}, {"C", 1033},           {"", 1033},
      {"de_CN", 1033},
  };
  for (const auto& [locale, id] : cases) {
    EXPECT_EQ(text::LanguageIdFromLocaleName(locale), id) << locale;
  }
}

// --lang of both programs: the two languages by name or by locale, nothing else.
TEST(UiLanguage, TheLanguageOptionTakesEnZhOrTheirLocales) {
  const std::map<std::string, std::uint16_t> accepted = {
      {"zh", 2052},    {"en", 1033},          {"zh_CN.UTF-8", 2052}, {"zh-CN", 2052},
      {"zh_TW", 1028}, {"en_GB.UTF-8", 1033}, {"C", 1033},           {"POSIX", 1033},
  };
  for (const auto& [value, id] : accepted) {
    EXPECT_EQ(text::LanguageIdFromOption(value), id) << value;
  }
  for (const char* refused : {"xx", "", "fr_FR", "zh_cn", "english", "zh_CN.", "2052"}) {
    EXPECT_EQ(text::LanguageIdFromOption(refused), std::nullopt) << refused;
  }
}

TEST(UiLanguage, EnvironmentFollowsGettextPrecedence) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    Env env;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {{}, 1033},
      {{{"LANG", "zh_CN.UTF-8"}}, 2052},
      {{{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, 1033},
      {{{"LC_MESSAGES", "en_US"}, {"LC_ALL", "zh_CN.UTF-8"}}, 2052},
      {{{"LC_ALL", "en_US"}, {"LANGUAGE", "zh_CN:en"}}, 2052},
      {{{"LANGUAGE", "zh_TW:zh_CN"}}, 1028},
      // Empty values are skipped, as gettext skips them.
      {{{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "zh_CN"}}, 2052},
      {{{"LANGUAGE", ":zh_CN"}, {"LANG", "en_GB"}}, 2052},
  };
  for (const Case& c : cases) {
    const auto reader = [&](const char* name) -> std::optional<std::string> {
      const auto it = c.env.find(name);
      if (it == c.env.end()) {
        return std::nullopt;
      }
      return it->second;
    };
    EXPECT_EQ(text::LanguageIdFromEnvironment(reader), c.expected);
  }
}

}  // namespace
