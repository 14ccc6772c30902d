// What update-cli takes from the process it runs in: its words and its standard
// streams. On POSIX the words as given and std::cout / std::cerr. On Windows the UTF-16
// command line (CommandLineToArgvW), converted to UTF-8 once, so that a path in any
// script reaches the program whole whatever the system's code page; streams that write
// UTF-16 to a console and UTF-8 bytes to a file or a pipe; and the console's code pages
// set to UTF-8 for typed answers, put back as found on every way out: the end of main,
// a failure's exit code, and a second Ctrl-C or a closed console window, which end the
// process without returning.
#pragma once

#include <memory>
#include <ostream>

namespace base {

class CProcessConsole {
 public:
  CProcessConsole(int argc, char** argv);
  ~CProcessConsole();
  CProcessConsole(const CProcessConsole&) = delete;
  CProcessConsole& operator=(const CProcessConsole&) = delete;

  int Argc() const;
  const char* const* Argv() const;
  std::ostream& Out();
  std::ostream& Err();

 private:
  struct State;
  std::unique_ptr<State> m_State;
};

}  // namespace base
