// One opened HID interface on Windows.
//
// Reads. A read handle is opened overlapped: ReadFile starts the read with an event in
// its OVERLAPPED, and WaitForSingleObject waits at most the time-out. A read that is
// still pending then is cancelled (CancelIo) and, before its buffer and OVERLAPPED go
// out of scope, waited for until Windows has retired it (GetOverlappedResult with
// bWait), since a cancelled read may still complete and write into them. If the report
// arrived in that race the read completes with it, and it is delivered rather than
// lost. A read that ends with the error of an unplugged device (ERROR_DEVICE_NOT_CONNECTED
// and its kin) is kDeviceGone; one that ends with any other error is kFailed. Neither
// ever counts as a report.
//
// Frames. Windows puts the report ID in front of every report read, 0x00 for a device
// without numbered reports, so a report read is already a frame; a report shorter than
// 65 bytes is padded with zeros, one longer (never this controller) is cut to 65.
//
// Writes. A write handle is synchronous. Windows takes only writes of exactly the
// interface's output report length (OutputReportByteLength, the ID byte included). The
// link writes 65-byte frames, except the application-mode frame of 64 bytes (0x81 and
// 63 bytes): a frame shorter than the report is padded with zeros to its length, as the
// missing bytes would be zero on any other platform; a frame longer than the report
// cannot be carried by it and fails without being written. When the interface does not
// give its report lengths, frames go out as handed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

#include "hid/HidPlatform.h"
#include "hid/windows/Win32Api.h"

namespace hid::windows {

class CWindowsHidHandle final : public IHidHandle {
 public:
  // Takes ownership of file. overlapped: the handle was opened with FILE_FLAG_OVERLAPPED
  // (reads are possible only then).
  CWindowsHidHandle(std::shared_ptr<IWin32Api> api, HANDLE file, bool overlapped,
                    ReportLengths lengths);
  ~CWindowsHidHandle() override;
  CWindowsHidHandle(const CWindowsHidHandle&) = delete;
  CWindowsHidHandle& operator=(const CWindowsHidHandle&) = delete;

  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override;
  base::Status WriteFrame(std::span<const std::uint8_t> frame) override;

  const ReportLengths& Lengths() const { return m_Lengths; }

 private:
  ReadResult AwaitPendingRead(OVERLAPPED& overlapped, std::span<const std::uint8_t> buffer,
                              Frame& frame, std::chrono::milliseconds timeout);

  const std::shared_ptr<IWin32Api> m_Api;
  const HANDLE m_File;
  const bool m_bOverlapped;
  const ReportLengths m_Lengths;
};

}  // namespace hid::windows
