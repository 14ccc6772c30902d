// Tr on Windows, which has no gettext: the Chinese catalog built into update-cli.exe as
// a resource (cli/update-cli.rc.in), read once when Chinese is chosen. A program without
// the resource (the tests, which run the command line in-process) speaks English.
#include <windows.h>

#include <atomic>

#include "text/MessageCatalog.h"
#include "cli/Messages.h"
#include "text/LocalizedText.h"

namespace cli {
namespace {

// The process's choice, as gettext's is: made once by main() before other threads start.
std::atomic<const text::CMessageCatalog*> g_Catalog{nullptr};

std::optional<text::CMessageCatalog> LoadChineseCatalog() {
  const HMODULE program = ::GetModuleHandleW(nullptr);
  const HRSRC found = ::FindResourceW(program, L"UPDATE_CLI_ZH_CN", MAKEINTRESOURCEW(10));
  const HGLOBAL loaded = found != nullptr ? ::LoadResource(program, found) : nullptr;
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) {
    return std::nullopt;
  }
  // A resource stays mapped for as long as the program runs.
  return text::CMessageCatalog::Parse(std::span<const std::uint8_t>(
      static_cast<const std::uint8_t*>(bytes), ::SizeofResource(program, found)));
}

}  // namespace

const char* Tr(const char* msgid) {
  const text::CMessageCatalog* catalog = g_Catalog.load();
  const char* translation = catalog != nullptr ? catalog->Find(msgid) : nullptr;
  return translation != nullptr ? translation : msgid;
}

void UseMessageLanguage(std::uint16_t languageId, const std::string& /*localeDirectory*/) {
  if (languageId != text::kLangChinesePrc) {
    g_Catalog.store(nullptr);
    return;
  }
  static const std::optional<text::CMessageCatalog> chinese = LoadChineseCatalog();
  g_Catalog.store(chinese ? &*chinese : nullptr);
}

std::string MessageCatalogDirectory() {
  return {};
}

}  // namespace cli
