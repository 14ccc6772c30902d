// What the command line asks of the terminal it writes to.
#pragma once

namespace cli {

// The width in columns of the terminal on this descriptor (stderr: 2), asked of the
// system on every call so that a resized window is followed; 0 when it is no terminal
// or does not say.
int TerminalColumns(int fd);

}  // namespace cli
