// One open hidraw node: timed reads that always produce a 65-byte frame, and writes
// that go out exactly as handed.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Error.h"
#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

namespace hid {

class CHidrawHandle final : public IHidHandle {
 public:
  // Takes ownership of fd. numberedReports says whether the kernel puts the report ID
  // in front of every report read from this interface (see UsesNumberedReports).
  CHidrawHandle(int fd, bool numberedReports);
  ~CHidrawHandle() override;
  CHidrawHandle(const CHidrawHandle&) = delete;
  CHidrawHandle& operator=(const CHidrawHandle&) = delete;

  // poll() for POLLIN, then one read(). A report that is still queued is delivered even
  // after the device went away; after that, hang-up, end of file and the errors of an
  // unplugged device (EIO, ENODEV, ...) give kDeviceGone, never kTimeout. Failures
  // carry errno's text (IoError).
  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override;

  // One write() of exactly these bytes; success when all of them were taken.
  base::Status WriteFrame(std::span<const std::uint8_t> frame) override;

 private:
  void FillFrame(Frame& frame, std::span<const std::uint8_t> report) const;

  const int m_Fd;
  const bool m_bNumberedReports;
};

// The error of a failed open(2) of path, by errno: EACCES and EPERM are
// kPermissionDenied (the udev rule is missing), ENOENT, ENODEV and ENXIO kNotFound.
[[nodiscard]] base::Error OpenError(int error, const std::string& path);

// The error of failed I/O on an open node, "<operation>: <strerror>": the errors of an
// unplugged device (IsDeviceGoneError) are kDisconnected, the rest kIo.
[[nodiscard]] base::Error IoError(int error, const std::string& operation);

// errno values with which a node refuses open() for a moment after it appeared: udev
// has not applied its permissions yet, or the node is not created yet.
[[nodiscard]] bool IsTransientOpenError(int error);

// errno values of I/O on a node whose device was unplugged.
[[nodiscard]] bool IsDeviceGoneError(int error);

// The report descriptor by HIDIOCGRDESCSIZE and HIDIOCGRDESC on an open node;
// nullopt when the node does not answer them or gives an impossible size.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ReadReportDescriptor(int fd);

}  // namespace hid
