// What the command line asks of the terminal it writes to.
#pragma once

namespace base {

// Whether this descriptor (stdin 0, stdout 1, stderr 2) is a terminal that a person
// reads and types at. On Windows that is a console, which answers GetConsoleMode: the C
// runtime's isatty says yes to NUL and to serial ports as well, and no exact value.
bool IsTerminal(int fd);

// The width in columns of the terminal on this descriptor (stderr: 2), asked of the
// system on every call so that a resized window is followed; 0 when it is no terminal
// or does not say.
int TerminalColumns(int fd);

}  // namespace base
