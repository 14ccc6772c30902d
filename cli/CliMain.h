// update-cli in one call: parses the command line, runs the command it names, and is
// the one place that turns how the command ended into what the user reads and the
// exit code. main() calls it with the process's streams; tests call it in-process.
#pragma once

#include "cli/Session.h"

namespace cli {

int RunMain(int argc, const char* const* argv, CliContext& context);

}  // namespace cli
