#include "cli/ExitCode.h"

namespace cli {

const char* ToName(ExitCode code) {
  switch (code) {
    case ExitCode::kSuccess:
      return "success";
    case ExitCode::kFailure:
      return "failure";
    case ExitCode::kUsage:
      return "usage";
    case ExitCode::kNoDevice:
      return "no-device";
    case ExitCode::kPermission:
      return "permission-denied";
    case ExitCode::kImageRefused:
      return "image-refused";
    case ExitCode::kDeclined:
      return "declined";
    case ExitCode::kDeviceNotAnswering:
      return "device-not-answering";
    case ExitCode::kVerifyFailed:
      return "verification-failed";
    case ExitCode::kInterrupted:
      return "interrupted";
    case ExitCode::kBootModeTimeout:
      return "boot-mode-timeout";
    case ExitCode::kSeveralDevices:
      return "several-devices";
  }
  return "failure";
}

}  // namespace cli
