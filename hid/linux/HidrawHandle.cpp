#include "hid/linux/HidrawHandle.h"

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace hid {
namespace {

// The largest report hidraw hands out; a smaller buffer would silently cut a report.
constexpr std::size_t kReadBufferSize = 4096;

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 0x7FFFFFFF));
}

}  // namespace

CHidrawHandle::CHidrawHandle(int fd, bool numberedReports)
    : m_Fd(fd), m_bNumberedReports(numberedReports) {}

CHidrawHandle::~CHidrawHandle() {
  if (m_Fd >= 0) {
    ::close(m_Fd);
  }
}

ReadResult CHidrawHandle::ReadFrame(Frame& frame, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::array<std::uint8_t, kReadBufferSize> buffer{};
  for (;;) {
    pollfd wait{m_Fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, RemainingMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return {ReadOutcome::kFailed, IoError(errno, "read: poll")};
    }
    if (ready == 0) {
      return ReadOutcome::kTimeout;
    }
    // An unplugged node still hands out what it had queued: read before looking at
    // POLLHUP / POLLERR.
    if ((wait.revents & POLLIN) != 0) {
      const ssize_t got = ::read(m_Fd, buffer.data(), buffer.size());
      if (got > 0) {
        FillFrame(frame, std::span(buffer.data(), static_cast<std::size_t>(got)));
        return ReadOutcome::kReport;
      }
      if (got == 0) {
        // End of file: nothing will ever come again.
        return {ReadOutcome::kDeviceGone,
                {base::ErrorKind::kDisconnected, "read: end of file, the device is gone"}};
      }
      const int error = errno;
      if (error == EINTR || error == EAGAIN) {
        continue;  // woken for a report that another reader took; wait out the rest
      }
      return {IsDeviceGoneError(error) ? ReadOutcome::kDeviceGone : ReadOutcome::kFailed,
              IoError(error, "read")};
    }
    if ((wait.revents & (POLLERR | POLLHUP)) != 0) {
      return {ReadOutcome::kDeviceGone,
              {base::ErrorKind::kDisconnected, "read: the device hung up (unplugged)"}};
    }
    // POLLNVAL: the descriptor itself is not open.
    return {ReadOutcome::kFailed, IoError(EBADF, "read: poll")};
  }
}

void CHidrawHandle::FillFrame(Frame& frame, std::span<const std::uint8_t> report) const {
  frame.fill(0);
  if (m_bNumberedReports) {
    // The kernel already put the report ID in byte 0.
    std::copy_n(report.begin(), std::min(report.size(), frame.size()), frame.begin());
  } else {
    // Without numbered reports the data starts at byte 0: the frame's ID byte is ours.
    std::copy_n(report.begin(), std::min(report.size(), kReportDataSize), frame.begin() + 1);
  }
}

base::Status CHidrawHandle::WriteFrame(std::span<const std::uint8_t> frame) {
  for (;;) {
    const ssize_t written = ::write(m_Fd, frame.data(), frame.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return IoError(errno, "write");
    }
    if (static_cast<std::size_t>(written) != frame.size()) {
      return base::Error{base::ErrorKind::kIo, "write: " + std::to_string(written) + " of " +
                                                   std::to_string(frame.size()) + " bytes taken"};
    }
    return {};
  }
}

base::Error OpenError(int error, const std::string& path) {
  base::ErrorKind kind = base::ErrorKind::kIo;
  switch (error) {
    case EACCES:
    case EPERM:
      kind = base::ErrorKind::kPermissionDenied;
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      kind = base::ErrorKind::kNotFound;
      break;
    default:
      break;
  }
  return base::Error{kind, "open " + path + ": " + std::system_category().message(error)};
}

base::Error IoError(int error, const std::string& operation) {
  return base::Error{
      IsDeviceGoneError(error) ? base::ErrorKind::kDisconnected : base::ErrorKind::kIo,
      operation + ": " + std::system_category().message(error)};
}

bool IsTransientOpenError(int error) {
  return error == EACCES || error == EPERM || error == ENOENT;
}

bool IsDeviceGoneError(int error) {
  switch (error) {
    case EIO:
    case ENODEV:
    case ENXIO:
    case EPIPE:
    case ESHUTDOWN:
    case EPROTO:
      return true;
    default:
      return false;
  }
}

std::optional<std::vector<std::uint8_t>> ReadReportDescriptor(int fd) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    return std::nullopt;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<__u32>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    return std::nullopt;
  }
  return std::vector<std::uint8_t>(descriptor.value, descriptor.value + size);
}

}  // namespace hid
