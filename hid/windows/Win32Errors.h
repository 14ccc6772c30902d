// Win32 error codes seen by the Windows link, mapped once to what the layers above act
// on, and the conversions between the link's UTF-8 paths and Windows' UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "hid/HidPlatform.h"

namespace hid::windows {

// Error codes of I/O on an interface whose device was unplugged or is going away.
// A read that ends with one of them is kDeviceGone, never a time-out.
[[nodiscard]] bool IsDeviceGoneError(std::uint32_t error);

// How a read that ended with this error code is reported: kDeviceGone or kFailed,
// with IoErrorOf(error, "read").
[[nodiscard]] ReadResult ReadFailureOf(std::uint32_t error);

// The error of a failed call: ERROR_ACCESS_DENIED and ERROR_SHARING_VIOLATION are
// kPermissionDenied (another program holds the device, or the system keeps it),
// a missing or unplugged device kNotFound, everything else kIo. The message reads
// "<what>: <description> (Win32 error N)".
[[nodiscard]] base::Error ErrorOf(std::uint32_t error, const std::string& what);

// The error of failed I/O on an open interface: as ErrorOf, but the error codes of an
// unplugged device (IsDeviceGoneError) are kDisconnected.
[[nodiscard]] base::Error IoErrorOf(std::uint32_t error, const std::string& what);

// Lossless for every path Windows produces; an unpaired surrogate or invalid UTF-8
// becomes U+FFFD.
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view text);

}  // namespace hid::windows
