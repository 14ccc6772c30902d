// How a road ended: completed, or the step that failed and why. Every front end renders
// it through the one table of words (update/Words.h): the window in a box, the command
// line as a message and an exit code, the page in its own lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "firmware/ImageFile.h"

namespace update {

enum class RunStep {
  kChoosing,        // picking, checking and confirming the image
  kSwitching,       // the boot-mode command went out: waiting for the controller in boot mode
  kLinking,         // opening the device again and asking its type once more (0x0008)
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
  kRegionOutOfRange,  // the device's region start is not inside the payload
  kImageUnreadable,   // the image file failed or shrank while it was read; see error
  kCrcMismatch,       // see imageCrc and deviceCrc
  kStopped,           // the owner asked the run to stop (window closing, Ctrl-C)
  kBootModeTimeout,   // the controller did not come back in boot mode within the bound
  kNotIdentified,     // it came back but could not be opened or did not tell its type; see error
  kTypeChanged,  // the controller now reports another type than the one checked; see deviceType
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
  std::uint16_t deviceType = 0;    // kTypeChanged: the type the controller reported
  std::uint16_t imageType = 0;     // kTypeChanged: the type the image was checked for
  bool completeConfirmed = false;  // the device echoed the completing command

  bool Completed() const { return failure == RunFailure::kNone; }
  // True when nothing was erased: the controller still holds its old firmware.
  bool WroteNothing() const { return !Completed() && step < RunStep::kErasing; }
};

}  // namespace update
