#include "hid/emulator/server/EmulatorServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "hid/emulator/EmulatorMessage.h"

namespace hid::emulator {

base::Result<std::unique_ptr<CEmulatorServer>> CEmulatorServer::Listen(
    const std::string& socketPath, std::shared_ptr<IEmulatedDevice> device,
    EmulatorServerOptions options) {
  const std::string context = "emulator socket " + socketPath;
  auto listener = OpenSeqPacketSocket(options.sendTimeout);
  if (!listener) {
    return listener.error().WithContext(context);
  }
  // A socket file outlives the emulator that made it; only such a file is replaced, and
  // only when nobody answers at it: one that another emulator serves is refused.
  struct stat info {};
  if (::lstat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
    auto probe = OpenSeqPacketSocket(options.sendTimeout);
    if (probe && ConnectTo(probe->Get(), socketPath)) {
      return base::Error{base::ErrorKind::kPermissionDenied,
                         "another emulator is serving it: stop that one first, or give another "
                         "path"}
          .WithContext(context);
    }
    ::unlink(socketPath.c_str());
  }
  if (auto bound = BindTo(listener->Get(), socketPath); !bound) {
    return bound.error().WithContext(context);
  }
  if (::listen(listener->Get(), 1) != 0) {
    const int error = errno;
    ::unlink(socketPath.c_str());
    return ErrnoError(error, "listen").WithContext(context);
  }
  std::unique_ptr<CEmulatorServer> server(new CEmulatorServer(
      std::move(listener.value()), socketPath, std::move(device), std::move(options)));
  if (!server->m_Wake.IsValid()) {
    return ErrnoError(errno, "pipe").WithContext(context);
  }
  server->m_Device->BindPort(server.get());
  server->m_Thread = std::thread([raw = server.get()] { raw->Serve(); });
  return server;
}

CEmulatorServer::CEmulatorServer(CFd listener, std::string socketPath,
                                 std::shared_ptr<IEmulatedDevice> device,
                                 EmulatorServerOptions options)
    : m_Listener(std::move(listener)),
      m_SocketPath(std::move(socketPath)),
      m_Device(std::move(device)),
      m_Options(std::move(options)) {}

CEmulatorServer::~CEmulatorServer() {
  m_Wake.Signal();
  if (m_Thread.joinable()) {
    m_Thread.join();
  }
  m_Device->BindPort(nullptr);
  {
    std::lock_guard lock(m_Mutex);
    m_Connection.Reset();
  }
  ::unlink(m_SocketPath.c_str());
}

void CEmulatorServer::Serve() {
  while (WaitReadable(m_Listener.Get(), m_Wake)) {
    CFd connection(::accept(m_Listener.Get(), nullptr, nullptr));
    if (!connection.IsValid()) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) {
        continue;
      }
      base::WriteDebugLine(m_Options.debug,
                           ErrnoError(errno, "emulator: accept").message + "; not serving\n");
      return;
    }
    if (auto set = SetSendTimeout(connection.Get(), m_Options.sendTimeout); !set) {
      base::WriteDebugLine(m_Options.debug, "emulator: " + set.error().message + "\n");
    }
    const int fd = connection.Get();
    {
      std::lock_guard lock(m_Mutex);
      m_Connection = std::move(connection);
      ++m_Counters.connections;
      // The program's first message is the state it starts from.
      (void)SendLocked(m_Presence ? EncodeAttach(m_Presence->vendorId, m_Presence->productId)
                                  : EncodeDetach());
    }
    m_Changed.notify_all();
    ServeConnection(fd);
    std::lock_guard lock(m_Mutex);
    m_Connection.Reset();
  }
}

void CEmulatorServer::TurnAwayWhileServing(int connection) {
  // The program being served comes first: what it sent, or its leaving, is handled
  // before a newcomer is looked at, so that a program that left just before the next
  // one came is not taken for one still served.
  pollfd fds[3] = {
      {connection, POLLIN, 0}, {m_Listener.Get(), POLLIN, 0}, {m_Wake.ReadFd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 3, -1);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0 || fds[0].revents != 0 || fds[2].revents != 0) {
      return;
    }
    if (fds[1].revents != 0) {
      // Closed before any message: the program knows that as "busy".
      const CFd newcomer(::accept(m_Listener.Get(), nullptr, nullptr));
      if (newcomer.IsValid()) {
        {
          std::lock_guard lock(m_Mutex);
          ++m_Counters.turnedAway;
        }
        base::WriteDebugLine(m_Options.debug,
                             "emulator: turned a program away: serving another one\n");
      }
    }
  }
}

void CEmulatorServer::ServeConnection(int connection) {
  std::array<std::uint8_t, 2 * kMaxDatagramSize> buffer{};
  for (;;) {
    TurnAwayWhileServing(connection);
    if (!WaitReadable(connection, m_Wake)) {
      return;
    }
    std::size_t size = 0;
    const ReceiveStatus status = ReceiveDatagram(connection, buffer, size);
    if (status == ReceiveStatus::kRetry) {
      continue;
    }
    if (status == ReceiveStatus::kClosed) {
      return;
    }
    auto report = status == ReceiveStatus::kDatagram
                      ? DecodeOutputReport(std::span<const std::uint8_t>(buffer.data(), size))
                      : base::Result<std::span<const std::uint8_t>>(base::Error{
                            base::ErrorKind::kInvalidData, "datagram longer than any message"});
    if (!report) {
      {
        std::lock_guard lock(m_Mutex);
        ++m_Counters.ignored;
      }
      base::WriteDebugLine(m_Options.debug, "emulator: ignored " + report.error().message + "\n");
      continue;
    }
    {
      std::lock_guard lock(m_Mutex);
      ++m_Counters.outputReports;
    }
    // Outside the lock: the model answers through the port from this very call.
    m_Device->OnOutputReport(report.value());
  }
}

bool CEmulatorServer::SendLocked(std::span<const std::uint8_t> datagram) {
  return m_Connection.IsValid() && SendDatagram(m_Connection.Get(), datagram).ok();
}

void CEmulatorServer::Attach(std::uint16_t vendorId, std::uint16_t productId) {
  std::lock_guard lock(m_Mutex);
  m_Presence = Presence{vendorId, productId};
  (void)SendLocked(EncodeAttach(vendorId, productId));
}

void CEmulatorServer::Detach() {
  std::lock_guard lock(m_Mutex);
  m_Presence.reset();
  (void)SendLocked(EncodeDetach());
}

bool CEmulatorServer::SendInputReport(const Frame& report) {
  std::lock_guard lock(m_Mutex);
  const bool sent = m_Presence.has_value() && SendLocked(EncodeInputReport(report));
  if (!sent) {
    ++m_Counters.droppedInput;
  }
  return sent;
}

void CEmulatorServer::CloseConnection() {
  std::lock_guard lock(m_Mutex);
  if (m_Connection.IsValid()) {
    // The serving thread sees the shutdown as the end of the connection and closes it.
    ::shutdown(m_Connection.Get(), SHUT_RDWR);
  }
}

bool CEmulatorServer::SendRaw(std::span<const std::uint8_t> datagram) {
  std::lock_guard lock(m_Mutex);
  return SendLocked(datagram);
}

bool CEmulatorServer::WaitForConnections(std::uint64_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_Mutex);
  return m_Changed.wait_for(lock, timeout, [&] { return m_Counters.connections >= count; });
}

CEmulatorServer::Counters CEmulatorServer::GetCounters() const {
  std::lock_guard lock(m_Mutex);
  return m_Counters;
}

}  // namespace hid::emulator
