#include "text/MessageCatalog.h"

namespace text {
namespace {

constexpr std::uint32_t kMagic = 0x950412DE;
constexpr std::uint32_t kMagicSwapped = 0xDE120495;

// The catalog's words are in the byte order of the machine that wrote it.
struct Reader {
  std::span<const std::uint8_t> bytes;
  bool swapped = false;

  std::optional<std::uint32_t> Word(std::uint64_t offset) const {
    if (offset + 4 > bytes.size()) {
      return std::nullopt;
    }
    const std::uint8_t* p = bytes.data() + offset;
    return swapped ? std::uint32_t{p[3]} | std::uint32_t{p[2]} << 8 | std::uint32_t{p[1]} << 16 |
                         std::uint32_t{p[0]} << 24
                   : std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                         std::uint32_t{p[3]} << 24;
  }

  // String i of the table at tableOffset: its length and offset, NUL after it.
  std::optional<std::string_view> String(std::uint32_t tableOffset, std::uint32_t i) const {
    const auto length = Word(tableOffset + std::uint64_t{8} * i);
    const auto offset = Word(tableOffset + std::uint64_t{8} * i + 4);
    if (!length || !offset || std::uint64_t{*offset} + *length >= bytes.size() ||
        bytes[*offset + *length] != 0) {
      return std::nullopt;
    }
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + *offset, *length);
  }
};

}  // namespace

std::optional<CMessageCatalog> CMessageCatalog::Parse(std::span<const std::uint8_t> bytes) {
  Reader reader{bytes};
  const auto magic = reader.Word(0);
  if (!magic || (*magic != kMagic && *magic != kMagicSwapped)) {
    return std::nullopt;
  }
  reader.swapped = *magic == kMagicSwapped;
  const auto count = reader.Word(8);
  const auto originals = reader.Word(12);
  const auto translations = reader.Word(16);
  if (!count || !originals || !translations) {
    return std::nullopt;
  }
  CMessageCatalog catalog;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const auto original = reader.String(*originals, i);
    const auto translation = reader.String(*translations, i);
    if (!original || !translation) {
      return std::nullopt;
    }
    // The header (msgid "") and empty translations stay out: the message as written.
    if (!original->empty() && !translation->empty()) {
      catalog.m_Translations.emplace(*original, translation->data());
    }
  }
  return catalog;
}

const char* CMessageCatalog::Find(std::string_view msgid) const {
  const auto found = m_Translations.find(msgid);
  return found != m_Translations.end() ? found->second : nullptr;
}

}  // namespace text
