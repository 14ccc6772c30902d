// update-cli's standard streams on Windows. The program writes UTF-8; a console shows
// UTF-16 written with WriteConsoleW right whatever its code page, while the same bytes
// through the C runtime come out in the console's code page (mojibake for Chinese). A
// file or a pipe gets the UTF-8 bytes as they are, for whatever reads them.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

namespace base {

// A console handle: one that answers GetConsoleMode. False for files, pipes and NUL.
bool IsConsole(HANDLE handle);

// The length of the longest start of text that ends on a whole UTF-8 character: what
// may be converted now, the rest waits for the bytes still to come.
std::size_t WholeUtf8Length(std::string_view text);

class CConsoleStreamBuf final : public std::streambuf {
 public:
  using WideWriter = std::function<void(std::wstring_view text)>;
  using ByteWriter = std::function<void(std::string_view bytes)>;

  // To a console: whole characters as UTF-16. A character cut between two writes waits
  // for its rest; bytes that are not UTF-8 show as U+FFFD.
  explicit CConsoleStreamBuf(WideWriter toConsole);
  // To a file or a pipe: the bytes.
  explicit CConsoleStreamBuf(ByteWriter toFile);
  // To this handle: a console, else a file or a pipe (none or invalid: discarded).
  explicit CConsoleStreamBuf(HANDLE handle);
  // Writes what is left, a cut character as U+FFFD.
  ~CConsoleStreamBuf() override;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  void Drain();

  WideWriter m_ToConsole;
  ByteWriter m_ToFile;
  std::array<char, 4096> m_Buffer{};
  std::string m_Pending;  // the start of a character whose rest has not come yet
};

}  // namespace base
