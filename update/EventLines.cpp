#include "update/EventLines.h"

#include <cstdio>

#include "update/Words.h"

namespace update {

std::string DeviceNoticeLine(std::uint32_t code) {
  char line[32];
  std::snprintf(line, sizeof line, "device notice 0x%04X\n", code);
  return line;
}

std::string RunEndedLine(const RunOutcome& outcome) {
  return "run ended: " + Describe(outcome) + "\n";
}

}  // namespace update
