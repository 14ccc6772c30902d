// How a flashing run ended: completed, or the step that failed and why. The window keeps
// quiet about failures; the command line prints them and picks its exit code from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "firmware/ImageFile.h"

namespace update {

enum class RunStep {
  kChoosing,        // picking, checking and confirming the image
  kLinking,         // opening the device again
  kQueryingRegion,  // 0x00C1
  kCheckingImage,   // the region against the file, before anything is erased
  kErasing,         // 0x0004
  kStreaming,       // 0x0003 per block
  kFinishing,       // 0x00C2
  kVerifying,       // 0x00C3 and the CRC comparison
  kCompleting,      // 0x0007 and the success message
};

enum class RunFailure {
  kNone,
  kNoImageChosen,     // the file dialog was cancelled
  kImageRefused,      // see imageProblem
  kDeclined,          // the version prompt was cancelled
  kDeviceNotOpen,     // see error (permission denied, gone, ...)
  kDeviceCommand,     // see error: the command's reason (write: No such device, ...)
  kEmptyPayload,      // the image has no payload to write
  kRegionOutOfRange,  // the device's region start is not inside the payload
  kImageUnreadable,   // the image file failed or shrank while it was read; see error
  kCrcMismatch,       // see imageCrc and deviceCrc
  kStopped,           // the owner asked the run to stop (window closing, Ctrl-C)
};

struct RunOutcome {
  RunStep step = RunStep::kChoosing;
  RunFailure failure = RunFailure::kNone;
  firmware::ImageProblem imageProblem = firmware::ImageProblem::kNone;
  std::optional<base::Error> error;

  std::uint32_t regionStart = 0;
  std::uint32_t regionLength = 0;
  std::uint32_t blockCount = 0;    // blocks in the region
  std::uint32_t block = 0;         // blocks confirmed; the failing block's index on failure
  std::uint16_t imageCrc = 0;      // CRC-16 of the verified stretch, from the file
  std::uint16_t deviceCrc = 0;     // the same, as the device reported it
  bool completeConfirmed = false;  // the device echoed the completing command

  bool Completed() const { return failure == RunFailure::kNone; }
};

const char* ToString(RunStep step);
const char* ToString(RunFailure failure);

// One line for people: "writing block 12 of 173: write: No such device".
std::string Describe(const RunOutcome& outcome);

}  // namespace update
