// File names as the system's file calls take them. The programs carry every path as
// UTF-8 text (a command line's words, a file dialog's choice, a message naming a file).
// POSIX file calls take those bytes as they are. Windows' narrow file calls, the C
// runtime's and std::filesystem's from a std::string, read them in the ANSI code page
// instead, which mangles every character outside it (José, 固件): there a path goes
// through UTF-16 and the wide calls.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace base {

// The path named by UTF-8 text. Invalid UTF-8 never throws: on Windows its bytes become
// U+FFFD (no such file then), on POSIX they stay the name's bytes.
std::filesystem::path PathFromUtf8(std::string_view utf8);

// The UTF-8 text of a path, for messages and for handing it on as a path again.
std::string Utf8FromPath(const std::filesystem::path& path);

// std::fopen for a UTF-8 path; errno tells why on failure.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

}  // namespace base
