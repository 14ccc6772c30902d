// The command line's own messages in the user's language. On Linux they go through
// gettext, as every program's messages do there: xgettext extracts each Tr("...") into
// the template, po/zh_CN.po holds the Chinese, and msgfmt builds the catalog
// "update-cli" that is installed under share/locale. The controller's own texts are not
// among them: they come from their table (text/), byte-exact, in either language.
//
// The Windows build has no gettext (Debian ships none for mingw): there the same
// catalog is built into update-cli.exe and read by CMessageCatalog (MessagesWindows.cpp).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "update/Words.h"

namespace cli {

// The message catalog's name.
inline constexpr const char* kTextDomain = "update-cli";

// msgid in the language chosen by UseMessageLanguage; msgid itself when no catalog has
// it, when English was chosen, and before any choice.
const char* Tr(const char* msgid);

// pattern with {0} to {9} replaced by the arguments (update::Fill).
inline std::string Fmt(std::string_view pattern,
                       std::initializer_list<std::string_view> arguments) {
  return update::Fill(pattern, arguments);
}

// The process's choice of language for Tr, made once by main(): Chinese (PRC) or
// English. Binds the catalog in localeDirectory. Changes the process's locale for
// messages and, for Chinese, LANGUAGE: call it before any other thread starts.
void UseMessageLanguage(std::uint16_t languageId, const std::string& localeDirectory);

// Where the catalog is: the build tree's locale folder for a program run from the build
// tree (tests), else the installed one beside the program (../share/locale from its
// bin folder, wherever the package was installed).
std::string MessageCatalogDirectory();

// Columns a text takes on a terminal: two for each wide (East Asian) character, one
// for any other. The text is UTF-8.
int DisplayWidth(std::string_view text);
// The longest start of a UTF-8 text that takes at most `columns` columns, whole
// characters only: a line drawn in place must not wrap.
std::string FitToColumns(const std::string& text, std::size_t columns);

// The text without the spaces and line breaks around it (a box's text, a typed answer).
std::string Trim(const std::string& text);

}  // namespace cli
