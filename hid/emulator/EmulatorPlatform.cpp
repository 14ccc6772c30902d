#include "hid/emulator/EmulatorPlatform.h"

#include <sys/socket.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "hid/NoticeQueue.h"
#include "hid/emulator/EmulatorMessage.h"

namespace hid::emulator {

struct CEmulatorPlatform::CLink {
  CLink(CFd fd, std::string path, EmulatorOptions opts)
      : socket(std::move(fd)), devicePath(std::move(path)), options(std::move(opts)) {}

  // Applies one message from the emulator. Called with mutex held; the caller wakes the
  // waiting reads once it has let the mutex go.
  void Apply(const EmulatorMessage& message);
  // The device is gone: the common part of 'D', a replacing 'A' and a closed socket.
  void RemoveDevice();
  // Whether a handle opened at the given generation may still talk to the device.
  bool IsLive(std::uint64_t openedAt) const {
    return !closed && device.has_value() && generation == openedAt;
  }

  const CFd socket;
  const std::string devicePath;
  const EmulatorOptions options;

  mutable std::mutex mutex;  // guards everything below; never held across a send
  std::condition_variable changed;
  bool stateKnown = false;  // the first state message came, or the connection ended
  bool closed = false;      // the connection ended or the platform is going away
  std::optional<InterfaceInfo> device;
  std::uint64_t generation = 0;  // counts removals; handles of older ones are dead
  std::deque<Frame> input;
  bool noticesOn = false;
  CNoticeQueue notices;
  Counters counters;
};

void CEmulatorPlatform::CLink::RemoveDevice() {
  if (!device) {
    return;
  }
  device.reset();
  ++generation;
  input.clear();
  if (noticesOn) {
    notices.Push(kNoticeRemoveComplete);
  }
}

void CEmulatorPlatform::CLink::Apply(const EmulatorMessage& message) {
  switch (message.kind) {
    case MessageKind::kAttach:
      RemoveDevice();
      // One device behind one socket: the socket is its place.
      device = InterfaceInfo{devicePath, message.vendorId, message.productId, devicePath};
      if (noticesOn) {
        notices.Push(kNoticeArrival);
      }
      stateKnown = true;
      break;
    case MessageKind::kDetach:
      RemoveDevice();
      stateKnown = true;
      break;
    case MessageKind::kInputReport:
      if (!device) {
        ++counters.droppedReports;
        break;
      }
      if (input.size() == kInputQueueLimit) {
        input.pop_front();
        ++counters.droppedReports;
      }
      input.push_back(message.report);
      break;
  }
}

class CEmulatorPlatform::CHandle final : public IHidHandle {
 public:
  CHandle(std::shared_ptr<CLink> link, std::uint64_t generation)
      : m_Link(std::move(link)), m_Generation(generation) {}

  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override {
    std::unique_lock lock(m_Link->mutex);
    const bool woken = m_Link->changed.wait_for(
        lock, timeout, [&] { return !m_Link->IsLive(m_Generation) || !m_Link->input.empty(); });
    if (!m_Link->IsLive(m_Generation)) {
      return {ReadOutcome::kDeviceGone, Gone("read")};
    }
    if (!woken) {
      return ReadOutcome::kTimeout;
    }
    frame = m_Link->input.front();
    m_Link->input.pop_front();
    return ReadOutcome::kReport;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    // An operating system refuses empty writes and reports longer than the device's.
    if (frame.empty() || frame.size() > kMaxOutputSize) {
      return base::Error{base::ErrorKind::kIo, "write: " + std::to_string(frame.size()) +
                                                   " bytes, the device takes 1 to " +
                                                   std::to_string(kMaxOutputSize)};
    }
    {
      std::lock_guard lock(m_Link->mutex);
      if (!m_Link->IsLive(m_Generation)) {
        return Gone("write");
      }
    }
    const base::Status sent = SendDatagram(m_Link->socket.Get(), EncodeOutputReport(frame));
    return sent ? sent : sent.error().WithContext("write");
  }

 private:
  // Why this handle can no longer reach its device. Called with the link's mutex held.
  base::Error Gone(const std::string& operation) const {
    return {base::ErrorKind::kDisconnected,
            operation + (m_Link->closed ? ": the emulator closed the connection"
                                        : ": the device was detached")};
  }

  const std::shared_ptr<CLink> m_Link;
  const std::uint64_t m_Generation;
};

base::Result<std::shared_ptr<CEmulatorPlatform>> CEmulatorPlatform::Connect(
    const std::string& socketPath, EmulatorOptions options) {
  const std::string context = "emulator socket " + socketPath;
  auto socket = OpenSeqPacketSocket(options.connectTimeout);
  if (!socket) {
    return socket.error().WithContext(context);
  }
  if (auto connected = ConnectTo(socket->Get(), socketPath); !connected) {
    base::Error error = connected.error();
    if (error.kind == base::ErrorKind::kTimedOut) {
      // strerror(EAGAIN) would read "Resource temporarily unavailable".
      error.message = "connect: the emulator did not accept within " +
                      std::to_string(options.connectTimeout.count()) + " ms";
    }
    return error.WithContext(context);
  }
  if (auto set = SetSendTimeout(socket->Get(), options.sendTimeout); !set) {
    return set.error().WithContext(context);
  }

  const auto firstStateTimeout = options.firstStateTimeout;
  std::shared_ptr<CEmulatorPlatform> platform(
      new CEmulatorPlatform(std::move(socket.value()), socketPath, std::move(options)));
  if (!platform->m_Wake.IsValid()) {
    return ErrnoError(errno, "pipe").WithContext(context);
  }
  platform->m_Reader = std::thread([raw = platform.get()] { raw->ReadDatagrams(); });

  CLink& link = *platform->m_Link;
  std::unique_lock lock(link.mutex);
  link.changed.wait_for(lock, firstStateTimeout, [&] { return link.stateKnown; });
  const bool turnedAway = link.closed && link.counters.datagrams == 0;
  lock.unlock();  // before the platform may go: its end takes the lock
  if (turnedAway) {
    // Closed before the state every emulator sends first: it is serving another program.
    return base::Error{base::ErrorKind::kIo,
                       "the emulator is serving another program (one at a time): run again when "
                       "that one has ended"}
        .WithContext(context);
  }
  return platform;
}

CEmulatorPlatform::CEmulatorPlatform(CFd socket, const std::string& socketPath,
                                     EmulatorOptions options)
    : m_Link(std::make_shared<CLink>(std::move(socket), kPathPrefix + socketPath,
                                     std::move(options))) {}

CEmulatorPlatform::~CEmulatorPlatform() {
  m_Wake.Signal();
  if (m_Reader.joinable()) {
    m_Reader.join();
  }
  // Handles may outlive the platform; the emulator should see the program leave now.
  ::shutdown(m_Link->socket.Get(), SHUT_RDWR);
  std::lock_guard lock(m_Link->mutex);
  m_Link->closed = true;
  m_Link->changed.notify_all();
}

void CEmulatorPlatform::ReadDatagrams() {
  CLink& link = *m_Link;
  std::array<std::uint8_t, 2 * kMaxDatagramSize> buffer{};
  while (WaitReadable(link.socket.Get(), m_Wake)) {
    std::size_t size = 0;
    const ReceiveStatus status = ReceiveDatagram(link.socket.Get(), buffer, size);
    if (status == ReceiveStatus::kRetry) {
      continue;
    }
    if (status == ReceiveStatus::kClosed) {
      break;
    }
    auto message = status == ReceiveStatus::kDatagram
                       ? DecodeEmulatorMessage(std::span(buffer.data(), size))
                       : base::Result<EmulatorMessage>(base::Error{
                             base::ErrorKind::kInvalidData, "datagram longer than any message"});
    {
      std::lock_guard lock(link.mutex);
      ++link.counters.datagrams;
      if (message) {
        link.Apply(message.value());
      } else {
        ++link.counters.ignored;
      }
    }
    // After the mutex is let go: a read woken while it is still held would only wake to
    // wait for it, and every reply would cost the waiting command two wake-ups.
    link.changed.notify_all();
    if (!message) {
      base::WriteDebugLine(link.options.debug,
                           "emulator: ignored " + message.error().message + "\n");
    }
  }
  // The emulator closing the socket counts as the device going away.
  std::lock_guard lock(link.mutex);
  link.RemoveDevice();
  link.closed = true;
  link.stateKnown = true;
  link.changed.notify_all();
}

const std::string& CEmulatorPlatform::DevicePath() const {
  return m_Link->devicePath;
}

CEmulatorPlatform::Counters CEmulatorPlatform::GetCounters() const {
  std::lock_guard lock(m_Link->mutex);
  return m_Link->counters;
}

std::vector<InterfaceInfo> CEmulatorPlatform::EnumerateInterfaces() {
  std::lock_guard lock(m_Link->mutex);
  if (!m_Link->device) {
    return {};
  }
  return {*m_Link->device};
}

base::Result<std::unique_ptr<IHidHandle>> CEmulatorPlatform::Open(const std::string& path,
                                                                  Access /*access*/) {
  std::lock_guard lock(m_Link->mutex);
  if (m_Link->closed) {
    return base::Error{base::ErrorKind::kDisconnected,
                       path + ": the emulator closed the connection"};
  }
  if (!m_Link->device || path != m_Link->device->path) {
    return base::Error{base::ErrorKind::kNotFound, path + ": no such device"};
  }
  return std::unique_ptr<IHidHandle>(std::make_unique<CHandle>(m_Link, m_Link->generation));
}

bool CEmulatorPlatform::RegisterForDeviceNotices(NativeWindow /*notifyWindow*/) {
  std::lock_guard lock(m_Link->mutex);
  m_Link->noticesOn = true;
  return true;
}

void CEmulatorPlatform::UnregisterDeviceNotices() {
  std::lock_guard lock(m_Link->mutex);
  m_Link->noticesOn = false;
}

int CEmulatorPlatform::NoticeFd() const {
  return m_Link->notices.Fd();
}

std::vector<std::uint32_t> CEmulatorPlatform::TakeNotices() {
  return m_Link->notices.Take();
}

}  // namespace hid::emulator
