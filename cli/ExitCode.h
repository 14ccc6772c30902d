// The exit codes of update-cli, one per kind of failure, so that a script can tell
// "plug the controller in" from "install the udev rule" from "the image is wrong".
// The README lists them; keep the two in step.
#pragma once

namespace cli {

enum class ExitCode {
  kSuccess = 0,
  kFailure = 1,             // anything not named below (a file that cannot be written, ...)
  kUsage = 2,               // the command line itself is wrong
  kNoDevice = 3,            // no supported controller found (or none at --device PATH)
  kPermission = 4,          // the controller is there but may not be opened
  kImageRefused = 5,        // the image does not fit the controller or is not whole
  kDeclined = 6,            // the user answered no
  kDeviceNotAnswering = 7,  // the controller stopped answering or went away
  kVerifyFailed = 8,        // the CRC-16 the controller reported differs from the image's
  kInterrupted = 9,         // Ctrl-C
  kBootModeTimeout = 10,    // the controller did not come back in boot mode in time
  kSeveralDevices = 11,     // more than one controller and no --device to choose one
};

// A short stable name for scripts and JSON ("no-device", "declined", ...).
const char* ToName(ExitCode code);

}  // namespace cli
