#include "hid/emulator/UnixSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hid::emulator {
namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

bool SetCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  return flags >= 0 && ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

base::Result<sockaddr_un> AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty()) {
    return base::Error{base::ErrorKind::kNotFound, "no socket path given"};
  }
  if (path.size() >= sizeof address.sun_path) {
    return base::Error{base::ErrorKind::kIo, path + ": socket path of " +
                                                 std::to_string(path.size()) + " bytes, at most " +
                                                 std::to_string(sizeof address.sun_path - 1) +
                                                 " fit"};
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

CFd::~CFd() {
  Reset();
}

CFd& CFd::operator=(CFd&& other) noexcept {
  if (this != &other) {
    Reset();
    m_Fd = other.Release();
  }
  return *this;
}

int CFd::Release() {
  const int fd = m_Fd;
  m_Fd = -1;
  return fd;
}

void CFd::Reset() {
  if (m_Fd >= 0) {
    ::close(m_Fd);
    m_Fd = -1;
  }
}

base::Error ErrnoError(int error, const std::string& context) {
  base::ErrorKind kind = base::ErrorKind::kIo;
  switch (error) {
    case ENOENT:
    case ECONNREFUSED:
      kind = base::ErrorKind::kNotFound;
      break;
    case EACCES:
    case EPERM:
      kind = base::ErrorKind::kPermissionDenied;
      break;
    case EAGAIN:
    case ETIMEDOUT:
      kind = base::ErrorKind::kTimedOut;
      break;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
      kind = base::ErrorKind::kDisconnected;
      break;
    default:
      break;
  }
  return base::Error{kind, context + ": " + std::strerror(error)};
}

base::Result<CFd> OpenSeqPacketSocket(std::chrono::milliseconds sendTimeout) {
  CFd fd(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
  if (!fd.IsValid()) {
    return ErrnoError(errno, "socket");
  }
  if (!SetCloseOnExec(fd.Get())) {
    return ErrnoError(errno, "fcntl");
  }
  if (auto set = SetSendTimeout(fd.Get(), sendTimeout); !set) {
    return set.error();
  }
  return fd;
}

base::Status SetSendTimeout(int fd, std::chrono::milliseconds timeout) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
  timeval value{};
  value.tv_sec = static_cast<decltype(value.tv_sec)>(micros / 1000000);
  value.tv_usec = static_cast<decltype(value.tv_usec)>(micros % 1000000);
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value) != 0) {
    return ErrnoError(errno, "setsockopt SO_SNDTIMEO");
  }
  return {};
}

base::Status ConnectTo(int fd, const std::string& path) {
  auto address = AddressOf(path);
  if (!address) {
    return address.error();
  }
  int result = 0;
  do {
    result =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address.value()), sizeof(sockaddr_un));
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    return ErrnoError(errno, "connect");
  }
  return {};
}

base::Status BindTo(int fd, const std::string& path) {
  auto address = AddressOf(path);
  if (!address) {
    return address.error();
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.value()), sizeof(sockaddr_un)) != 0) {
    return ErrnoError(errno, "bind");
  }
  return {};
}

base::Status SendDatagram(int fd, std::span<const std::uint8_t> datagram) {
  ssize_t sent = 0;
  do {
    sent = ::send(fd, datagram.data(), datagram.size(), kSendFlags);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    return ErrnoError(errno, "send");
  }
  if (static_cast<std::size_t>(sent) != datagram.size()) {
    return base::Error{base::ErrorKind::kIo, "send: the datagram was cut"};
  }
  return {};
}

ReceiveStatus ReceiveDatagram(int fd, std::span<std::uint8_t> buffer, std::size_t& size) {
  iovec part{buffer.data(), buffer.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
  size = 0;
  if (got < 0) {
    return (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveStatus::kRetry
                                                                       : ReceiveStatus::kClosed;
  }
  if ((message.msg_flags & MSG_TRUNC) != 0) {
    return ReceiveStatus::kTooLong;
  }
  if (got == 0) {
    // An empty datagram and the end of the connection look the same to recvmsg; only a
    // hang-up of the peer means the end.
    pollfd state{fd, POLLIN, 0};
    if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR)) != 0) {
      return ReceiveStatus::kClosed;
    }
  }
  size = static_cast<std::size_t>(got);
  return ReceiveStatus::kDatagram;
}

CWakePipe::CWakePipe() {
  int fds[2] = {-1, -1};
  if (::pipe(fds) == 0) {
    m_Read = CFd(fds[0]);
    m_Write = CFd(fds[1]);
    SetCloseOnExec(fds[0]);
    SetCloseOnExec(fds[1]);
  }
}

void CWakePipe::Signal() {
  const std::uint8_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(m_Write.Get(), &one, 1);
}

bool WaitReadable(int fd, const CWakePipe& wake) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake.ReadFd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0 || fds[1].revents != 0) {
      return false;
    }
    if (fds[0].revents != 0) {
      return true;
    }
  }
}

}  // namespace hid::emulator
