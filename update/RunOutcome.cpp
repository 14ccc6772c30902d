#include "update/RunOutcome.h"

#include <cstdio>

#include "update/UserInterface.h"

namespace update {

const char* ToString(RunStep step) {
  switch (step) {
    case RunStep::kChoosing:
      return "choosing the image";
    case RunStep::kLinking:
      return "opening the device";
    case RunStep::kQueryingRegion:
      return "asking for the region";
    case RunStep::kCheckingImage:
      return "checking the image";
    case RunStep::kErasing:
      return "erasing";
    case RunStep::kStreaming:
      return "writing";
    case RunStep::kFinishing:
      return "finishing the write";
    case RunStep::kVerifying:
      return "verifying";
    case RunStep::kCompleting:
      return "completing";
  }
  return "updating";
}

const char* ToString(RunFailure failure) {
  switch (failure) {
    case RunFailure::kNone:
      return "completed";
    case RunFailure::kNoImageChosen:
      return "no image was chosen";
    case RunFailure::kImageRefused:
      return "the image was refused";
    case RunFailure::kDeclined:
      return "the update was declined";
    case RunFailure::kDeviceNotOpen:
      return "the device could not be opened";
    case RunFailure::kDeviceCommand:
      return "the device command failed";
    case RunFailure::kEmptyPayload:
      return "the image has no payload";
    case RunFailure::kRegionOutOfRange:
      return "the device's region does not fit the image";
    case RunFailure::kImageUnreadable:
      return "the image file could not be read";
    case RunFailure::kCrcMismatch:
      return "the CRC-16 check failed";
    case RunFailure::kStopped:
      return "the run was stopped";
  }
  return "failed";
}

std::string Describe(const RunOutcome& outcome) {
  if (outcome.Completed()) {
    return "completed";
  }
  std::string where = ToString(outcome.step);
  if (outcome.step == RunStep::kStreaming && outcome.blockCount > 0) {
    where = "writing block " + std::to_string(outcome.block + 1) + " of " +
            std::to_string(outcome.blockCount);
  }
  std::string why;
  switch (outcome.failure) {
    case RunFailure::kDeviceCommand:
      // The command's reason reads on its own: "write: No such device".
      if (outcome.error) {
        return where + ": " + outcome.error->message;
      }
      why = ToString(outcome.failure);
      break;
    case RunFailure::kImageRefused:
      why = firmware::Describe(outcome.imageProblem);
      break;
    case RunFailure::kCrcMismatch: {
      char text[96];
      std::snprintf(text, sizeof text, "the CRC-16 check failed (image 0x%04X, device 0x%04X)",
                    outcome.imageCrc, outcome.deviceCrc);
      why = text;
      break;
    }
    case RunFailure::kRegionOutOfRange:
      why = "the device's region starts at " + std::to_string(outcome.regionStart) +
            ", not inside the image's payload";
      break;
    default:
      why = ToString(outcome.failure);
      break;
  }
  if (outcome.error) {
    why += ": " + outcome.error->message;
  }
  return where + ": " + why;
}

std::optional<FilterEntry> FirstFilterEntry(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos || bar == 0) {
    return std::nullopt;
  }
  const auto end = filter.find('|', bar + 1);
  const std::string pattern =
      filter.substr(bar + 1, end == std::string::npos ? std::string::npos : end - bar - 1);
  if (pattern.empty()) {
    return std::nullopt;
  }
  return FilterEntry{filter.substr(0, bar), pattern};
}

}  // namespace update
