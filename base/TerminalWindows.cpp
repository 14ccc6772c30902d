#include <io.h>
#include <windows.h>

#include "base/ConsoleStreamWindows.h"
#include "base/Terminal.h"

namespace base {

bool IsTerminal(int fd) {
  return IsConsole(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

int TerminalColumns(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) {
    return 0;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace base
