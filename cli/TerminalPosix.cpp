#include <sys/ioctl.h>

#include "cli/Terminal.h"

namespace cli {

int TerminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) {
    return 0;
  }
  return size.ws_col;
}

}  // namespace cli
