#include "base/Error.h"

namespace base {

const char* ToString(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNotFound:
      return "not found";
    case ErrorKind::kPermissionDenied:
      return "permission denied";
    case ErrorKind::kDisconnected:
      return "disconnected";
    case ErrorKind::kTimedOut:
      return "timed out";
    case ErrorKind::kInvalidData:
      return "invalid data";
    case ErrorKind::kIo:
      return "input/output error";
    case ErrorKind::kCancelled:
      return "cancelled";
    case ErrorKind::kUnsupported:
      return "unsupported";
  }
  return "unknown";
}

}  // namespace base
