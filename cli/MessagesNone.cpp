// Tr without gettext (the Windows build): the English messages as written.
#include "cli/Messages.h"

namespace cli {

const char* Tr(const char* msgid) {
  return msgid;
}

void UseMessageLanguage(std::uint16_t /*languageId*/, const std::string& /*localeDirectory*/) {}

std::string MessageCatalogDirectory() {
  return {};
}

}  // namespace cli
