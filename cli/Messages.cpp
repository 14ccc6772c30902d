#include "cli/Messages.h"

namespace cli {
namespace {

// Characters a terminal draws two columns wide: CJK ideographs and syllables, fullwidth
// forms and the CJK punctuation (the Unicode East Asian Width classes W and F, in the
// ranges our messages and file names use).
bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The character of a UTF-8 text at byte i: its length in bytes (cut short at the end of
// the text) and the columns it takes; a stray continuation byte takes none.
struct Utf8Char {
  std::size_t length;
  int columns;
};

Utf8Char CharAt(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  char32_t c = byte;
  std::size_t length = 1;
  if (byte >= 0xF0) {
    c = byte & 0x07u;
    length = 4;
  } else if (byte >= 0xE0) {
    c = byte & 0x0Fu;
    length = 3;
  } else if (byte >= 0xC0) {
    c = byte & 0x1Fu;
    length = 2;
  }
  for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
    c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
  }
  if (byte >= 0x80 && byte < 0xC0) {
    return {1, 0};
  }
  return {length, IsWide(c) ? 2 : 1};
}

}  // namespace

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \r\n\t");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \r\n\t");
  return text.substr(first, last - first + 1);
}

int DisplayWidth(std::string_view text) {
  int columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char next = CharAt(text, i);
    columns += next.columns;
    i += next.length;
  }
  return columns;
}

std::string FitToColumns(const std::string& text, std::size_t columns) {
  std::size_t used = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const Utf8Char next = CharAt(text, i);
    if (i + next.length > text.size() || used + next.columns > columns) {
      break;
    }
    used += next.columns;
    i += next.length;
  }
  return text.substr(0, i);
}

}  // namespace cli
