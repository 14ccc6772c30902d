#include "text/UiLanguage.h"

namespace text {

std::uint16_t LanguageIdFromLocaleName(std::string_view locale) {
  // Drop the encoding (".UTF-8") and the modifier ("@pinyin"): only language and
  // territory choose the identifier. BCP 47 spellings ("zh-CN") are taken as well.
  const auto end = locale.find_first_of(".@");
  if (end != std::string_view::npos) {
    locale = locale.substr(0, end);
  }
  if (locale.size() != 5 || locale.substr(0, 2) != "zh" || (locale[2] != '_' && locale[2] != '-')) {
    return kLangEnglishUs;
  }
  const std::string_view territory = locale.substr(3);
  if (territory == "CN") {
    return kLangChinesePrc;
  }
  if (territory == "TW") {
    return kLangChineseTaiwan;
  }
  if (territory == "HK") {
    return kLangChineseHongKong;
  }
  if (territory == "SG") {
    return kLangChineseSingapore;
  }
  return kLangEnglishUs;
}

std::optional<std::uint16_t> LanguageIdFromOption(std::string_view value) {
  if (value == "zh") {
    return kLangChinesePrc;  // the Chinese of the texts' table
  }
  if (value == "en" || value == "C" || value == "POSIX") {
    return kLangEnglishUs;
  }
  // A locale name: language, then optionally "_" or "-" and a two-letter territory,
  // ".codeset" and "@modifier".
  std::string_view name = value.substr(0, value.find_first_of(".@"));
  const std::string_view rest = value.substr(name.size());
  const bool wellFormedRest =
      rest.empty() || (rest.size() > 1 && rest.find_first_of(" /") == std::string_view::npos);
  const std::string_view language = name.substr(0, 2);
  if ((language != "zh" && language != "en") || !wellFormedRest) {
    return std::nullopt;
  }
  name.remove_prefix(2);
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  if (!name.empty() && (name.size() != 3 || (name[0] != '_' && name[0] != '-') || !upper(name[1]) ||
                        !upper(name[2]))) {
    return std::nullopt;
  }
  return LanguageIdFromLocaleName(value);
}

std::uint16_t LanguageIdFromEnvironment(const EnvironmentReader& getenv) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::optional<std::string> value = getenv(name);
    if (!value || value->empty()) {
      continue;
    }
    std::string_view locale = *value;
    if (std::string_view(name) == "LANGUAGE") {
      // A priority list, "zh_CN:en": the first entry is the user's first choice.
      while (!locale.empty() && locale.front() == ':') {
        locale.remove_prefix(1);
      }
      locale = locale.substr(0, locale.find(':'));
      if (locale.empty()) {
        continue;
      }
    }
    return LanguageIdFromLocaleName(locale);
  }
  return kLangEnglishUs;
}

}  // namespace text
