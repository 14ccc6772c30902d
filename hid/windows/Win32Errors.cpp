#include "hid/windows/Win32Errors.h"

#include <windows.h>

#include "base/WideText.h"

namespace hid::windows {
namespace {

// Not named by every SDK's headers.
constexpr std::uint32_t kErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE

const char* Describe(std::uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such device";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_SHARING_VIOLATION:
      return "the device is held by another program";
    case ERROR_DEVICE_NOT_CONNECTED:
      return "the device is not connected";
    case kErrorNoSuchDevice:
    case ERROR_DEV_NOT_EXIST:
      return "the device no longer exists";
    case ERROR_GEN_FAILURE:
      return "the device is not functioning";
    case ERROR_NOT_READY:
      return "the device is not ready";
    case ERROR_INVALID_USER_BUFFER:
    case ERROR_INVALID_PARAMETER:
      return "the report length does not fit the device";
    case ERROR_OPERATION_ABORTED:
      return "the operation was cancelled";
    default:
      return "system error";
  }
}

}  // namespace

bool IsDeviceGoneError(std::uint32_t error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:  // 1167, the usual one after an unplug
    case kErrorNoSuchDevice:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE:  // given by some hosts while the device is torn down
    case ERROR_NOT_READY:
    case ERROR_FILE_NOT_FOUND:
      return true;
    default:
      return false;
  }
}

ReadResult ReadFailureOf(std::uint32_t error) {
  return {IsDeviceGoneError(error) ? ReadOutcome::kDeviceGone : ReadOutcome::kFailed,
          IoErrorOf(error, "read")};
}

base::Error ErrorOf(std::uint32_t error, const std::string& what) {
  base::ErrorKind kind = base::ErrorKind::kIo;
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    kind = base::ErrorKind::kPermissionDenied;
  } else if (error == ERROR_PATH_NOT_FOUND || IsDeviceGoneError(error)) {
    kind = base::ErrorKind::kNotFound;
  }
  return base::Error{
      kind, what + ": " + Describe(error) + " (Win32 error " + std::to_string(error) + ")"};
}

base::Error IoErrorOf(std::uint32_t error, const std::string& what) {
  base::Error io = ErrorOf(error, what);
  if (IsDeviceGoneError(error)) {
    io.kind = base::ErrorKind::kDisconnected;
  }
  return io;
}

std::wstring WideFromUtf8(std::string_view text) {
  return base::WideFromUtf8(text);
}

std::string Utf8FromWide(std::wstring_view text) {
  return base::Utf8FromWide(text);
}

}  // namespace hid::windows
