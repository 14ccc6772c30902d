// The user's default UI language as a Windows language identifier (LANGID).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace text {

// Windows language identifiers the tool knows by name.
inline constexpr std::uint16_t kLangChinesePrc = 2052;     // zh_CN: the only one that gets Chinese
inline constexpr std::uint16_t kLangChineseTaiwan = 1028;  // zh_TW
inline constexpr std::uint16_t kLangChineseHongKong = 3076;
inline constexpr std::uint16_t kLangChineseSingapore = 4100;
inline constexpr std::uint16_t kLangEnglishUs = 1033;

// Asked of the system on every call: GetUserDefaultUILanguage on Windows, the locale
// environment elsewhere.
std::uint16_t GetUserDefaultUILanguage();

// Maps one POSIX locale name ("zh_CN.UTF-8", "zh_TW@variant", "en_US") to a language
// identifier: zh_CN 2052, zh_TW 1028, zh_HK 3076, zh_SG 4100, anything else 1033.
std::uint16_t LanguageIdFromLocaleName(std::string_view locale);

// The value of both programs' --lang: "en", "zh", or a locale name of one of the two
// languages ("zh_CN.UTF-8", "en_GB", "zh-CN"; "C" and "POSIX" are English), as
// LanguageIdFromLocaleName maps it. nullopt for anything else ("xx", "fr_FR", "").
std::optional<std::uint16_t> LanguageIdFromOption(std::string_view value);

// Reads one environment variable; nullopt when it is not set.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;

// The language identifier that the locale environment selects, taking the first of
// LANGUAGE (its first entry), LC_ALL, LC_MESSAGES and LANG that is set and not empty,
// as gettext does.
std::uint16_t LanguageIdFromEnvironment(const EnvironmentReader& getenv);

}  // namespace text
