// The few POSIX pieces both ends of the emulator link share: an owned descriptor, the
// socket address of a path, OS errors as base::Error, one datagram in or out, and a
// pipe that wakes a thread blocked in poll.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "base/Error.h"

namespace hid::emulator {

// Closes its descriptor when it goes.
class CFd {
 public:
  CFd() = default;
  explicit CFd(int fd) : m_Fd(fd) {}
  ~CFd();
  CFd(CFd&& other) noexcept : m_Fd(other.Release()) {}
  CFd& operator=(CFd&& other) noexcept;
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;

  int Get() const { return m_Fd; }
  bool IsValid() const { return m_Fd >= 0; }
  int Release();
  void Reset();

 private:
  int m_Fd = -1;
};

// An OS error as a category and "context: <strerror>". Mapped here once: ENOENT and
// ECONNREFUSED (nobody listens) are kNotFound, EACCES / EPERM kPermissionDenied,
// EAGAIN / ETIMEDOUT kTimedOut, EPIPE / ECONNRESET / ENOTCONN kDisconnected.
base::Error ErrnoError(int error, const std::string& context);

// A SOCK_SEQPACKET socket, close-on-exec, with sends bounded by sendTimeout (a send
// to a peer whose queue is full waits at most that long). On Linux the same bound
// also limits a connect to a listener whose backlog is full.
base::Result<CFd> OpenSeqPacketSocket(std::chrono::milliseconds sendTimeout);
base::Status SetSendTimeout(int fd, std::chrono::milliseconds timeout);

// Connects fd to, or binds it at, a socket path. The path must fit in sun_path.
base::Status ConnectTo(int fd, const std::string& path);
base::Status BindTo(int fd, const std::string& path);

// Sends one datagram without raising SIGPIPE. Success when all of it went out.
base::Status SendDatagram(int fd, std::span<const std::uint8_t> datagram);

enum class ReceiveStatus {
  kDatagram,  // bytes hold one datagram (possibly empty)
  kTooLong,   // a datagram longer than the buffer arrived and was cut; ignore it
  kClosed,    // the peer closed or shut down the connection, or the socket failed
  kRetry,     // interrupted or nothing there after all
};

// Receives one datagram into buffer; size gets its length. A zero-length datagram and
// the end of a connection both read as 0 bytes: the peer's hang-up tells them apart.
ReceiveStatus ReceiveDatagram(int fd, std::span<std::uint8_t> buffer, std::size_t& size);

// Wakes a thread waiting in poll on ReadFd(); stays readable once signalled.
class CWakePipe {
 public:
  CWakePipe();
  bool IsValid() const { return m_Read.IsValid() && m_Write.IsValid(); }
  int ReadFd() const { return m_Read.Get(); }
  void Signal();

 private:
  CFd m_Read;
  CFd m_Write;
};

// Waits until fd is readable (true) or wake is signalled (false).
bool WaitReadable(int fd, const CWakePipe& wake);

}  // namespace hid::emulator
