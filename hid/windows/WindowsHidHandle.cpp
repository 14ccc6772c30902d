#include "hid/windows/WindowsHidHandle.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hid/windows/Win32Errors.h"

namespace hid::windows {
namespace {

DWORD WaitMilliseconds(std::chrono::milliseconds timeout) {
  // INFINITE (0xFFFFFFFF) would wait for ever: the longest finite wait is one less.
  constexpr std::chrono::milliseconds::rep kLongest = INFINITE - 1;
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, kLongest));
}

ReadResult Deliver(std::span<const std::uint8_t> buffer, DWORD transferred, Frame& frame) {
  if (transferred == 0) {
    return {ReadOutcome::kFailed,
            {base::ErrorKind::kIo, "read: the read completed without a report"}};
  }
  const std::size_t count = std::min<std::size_t>({transferred, buffer.size(), frame.size()});
  frame.fill(0);
  std::memcpy(frame.data(), buffer.data(), count);
  return ReadOutcome::kReport;
}

}  // namespace

CWindowsHidHandle::CWindowsHidHandle(std::shared_ptr<IWin32Api> api, HANDLE file, bool overlapped,
                                     ReportLengths lengths)
    : m_Api(std::move(api)), m_File(file), m_bOverlapped(overlapped), m_Lengths(lengths) {}

CWindowsHidHandle::~CWindowsHidHandle() {
  m_Api->CloseHandle(m_File);
}

ReadResult CWindowsHidHandle::ReadFrame(Frame& frame, std::chrono::milliseconds timeout) {
  if (!m_bOverlapped) {
    // An overlapped read on a synchronous handle would block without a time-out.
    return {ReadOutcome::kFailed,
            {base::ErrorKind::kIo, "read: the handle was opened for writing"}};
  }
  // Windows needs room for the whole input report; the frame takes its first 65 bytes.
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(kFrameSize, m_Lengths.input), 0);
  // Manual reset, created signalled: ReadFile resets it when the read starts.
  const HANDLE event = m_Api->CreateEventW(TRUE, TRUE);
  if (event == nullptr) {
    return {ReadOutcome::kFailed, IoErrorOf(m_Api->GetLastError(), "read: CreateEvent")};
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;

  ReadResult outcome = ReadOutcome::kFailed;
  if (m_Api->ReadFile(m_File, buffer.data(), static_cast<DWORD>(buffer.size()), &overlapped)) {
    // A report was queued already: the read completed at once.
    DWORD transferred = 0;
    outcome = m_Api->GetOverlappedResult(m_File, &overlapped, &transferred, FALSE)
                  ? Deliver(buffer, transferred, frame)
                  : ReadFailureOf(m_Api->GetLastError());
  } else if (const DWORD error = m_Api->GetLastError(); error != ERROR_IO_PENDING) {
    // Refused at the start (the device is gone, ...): nothing is pending.
    outcome = ReadFailureOf(error);
  } else {
    outcome = AwaitPendingRead(overlapped, buffer, frame, timeout);
  }
  m_Api->CloseHandle(event);
  return outcome;
}

ReadResult CWindowsHidHandle::AwaitPendingRead(OVERLAPPED& overlapped,
                                               std::span<const std::uint8_t> buffer, Frame& frame,
                                               std::chrono::milliseconds timeout) {
  const DWORD wait = m_Api->WaitForSingleObject(overlapped.hEvent, WaitMilliseconds(timeout));
  const DWORD waitError = wait == WAIT_FAILED ? m_Api->GetLastError() : 0;
  DWORD transferred = 0;
  if (wait == WAIT_OBJECT_0) {
    return m_Api->GetOverlappedResult(m_File, &overlapped, &transferred, FALSE)
               ? Deliver(buffer, transferred, frame)
               : ReadFailureOf(m_Api->GetLastError());
  }
  // Timed out, abandoned, or the wait itself failed: the read is still pending and will
  // write into buffer and overlapped when it ends. Cancel it and wait until it has.
  m_Api->CancelIo(m_File);
  if (m_Api->GetOverlappedResult(m_File, &overlapped, &transferred, TRUE)) {
    return Deliver(buffer, transferred, frame);  // the report won the race with CancelIo
  }
  const DWORD error = m_Api->GetLastError();
  if (error != ERROR_OPERATION_ABORTED) {
    return ReadFailureOf(error);  // it ended otherwise (unplugged) before the cancel
  }
  switch (wait) {
    case WAIT_TIMEOUT:
      return ReadOutcome::kTimeout;
    case WAIT_ABANDONED:
      return ReadOutcome::kAbandoned;
    default:
      return {ReadOutcome::kFailed, IoErrorOf(waitError, "read: wait")};
  }
}

base::Status CWindowsHidHandle::WriteFrame(std::span<const std::uint8_t> frame) {
  std::span<const std::uint8_t> bytes = frame;
  std::vector<std::uint8_t> padded;
  if (m_Lengths.output != 0 && frame.size() != m_Lengths.output) {
    if (frame.size() > m_Lengths.output) {
      // More than the report carries; Windows would refuse it too.
      return base::Error{base::ErrorKind::kIo, "write: " + std::to_string(frame.size()) +
                                                   " bytes, the report holds " +
                                                   std::to_string(m_Lengths.output)};
    }
    padded.assign(m_Lengths.output, 0);
    std::copy(frame.begin(), frame.end(), padded.begin());
    bytes = padded;
  }
  DWORD written = 0;
  // Success is the call's result alone: a HID write goes out whole or not at all.
  if (m_Api->WriteFile(m_File, bytes.data(), static_cast<DWORD>(bytes.size()), &written) == FALSE) {
    return IoErrorOf(m_Api->GetLastError(), "write");
  }
  return {};
}

}  // namespace hid::windows
