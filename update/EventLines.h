// The diagnostic lines written for the events of the road (with -v, --verbose, and on
// Windows always to the debugger): one wording for the Linux window, the Windows dialog
// and whatever else reports them. Each function returns the whole line, its line
// break included, so that what a support request quotes reads the same everywhere.
#pragma once

#include <cstdint>
#include <string>

#include "update/RunOutcome.h"

namespace update {

// "device notice 0x8000\n": a device-change notice handed to the road.
std::string DeviceNoticeLine(std::uint32_t code);

// "run ended: writing block 12 of 173: write: No such device\n", or "run ended:
// completed\n": how a run ended and why.
std::string RunEndedLine(const RunOutcome& outcome);

}  // namespace update
