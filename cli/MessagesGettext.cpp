// Tr through gettext (glibc's libintl): the catalog "update-cli" in the language
// UseMessageLanguage chose.
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/Messages.h"
#include "text/LocalizedText.h"

namespace cli {

const char* Tr(const char* msgid) {
  return ::dgettext(kTextDomain, msgid);
}

void UseMessageLanguage(std::uint16_t languageId, const std::string& localeDirectory) {
  ::bindtextdomain(kTextDomain, localeDirectory.c_str());
  // The messages are written as UTF-8 whatever the locale's character set, as the
  // controller's texts are.
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
  if (languageId != text::kLangChinesePrc) {
    // The "C" locale for messages: gettext gives every msgid back as it is.
    return;
  }
  // Chinese, also when --lang asked for it or the user's zh_CN locale is not installed:
  // LANGUAGE names the catalog, and gettext reads LANGUAGE only outside the "C" locale.
  ::setenv("LANGUAGE", "zh_CN", 1);
  const char* locale = std::setlocale(LC_MESSAGES, "");
  if (locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0) {
    std::setlocale(LC_MESSAGES, "C.UTF-8");
  }
}

std::string MessageCatalogDirectory() {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return UPDATE_INSTALLED_LOCALE_DIR;
  }
  const std::filesystem::path folder = program.parent_path();
  if (folder == std::filesystem::path(UPDATE_CLI_BUILD_DIR)) {
    return UPDATE_BUILD_LOCALE_DIR;
  }
  return (folder / UPDATE_RELATIVE_LOCALE_DIR).lexically_normal().string();
}

}  // namespace cli
