// A compiled message catalog, as msgfmt writes it (a .mo file), read from memory: the
// Windows build has no gettext, and carries its catalog inside update-cli.exe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>

namespace text {

class CMessageCatalog {
 public:
  // The catalog in bytes, which must outlive it; nullopt when they are not a catalog
  // (wrong magic number, a table or a string outside the bytes).
  static std::optional<CMessageCatalog> Parse(std::span<const std::uint8_t> bytes);

  // The translation of msgid, NUL-terminated inside the bytes; null when the catalog
  // has none (or an empty one).
  const char* Find(std::string_view msgid) const;

 private:
  std::unordered_map<std::string_view, const char*> m_Translations;
};

}  // namespace text
