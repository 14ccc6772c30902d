#include "hid/Hid.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hid {
namespace {

std::uint32_t StatusOf(ReadOutcome outcome) {
  switch (outcome) {
    case ReadOutcome::kReport:
      return kReadOk;
    case ReadOutcome::kTimeout:
      return kReadTimeout;
    case ReadOutcome::kAbandoned:
      return kReadNotOpen;
    case ReadOutcome::kDeviceGone:
      return kReadDeviceGone;
    case ReadOutcome::kFailed:
      return kReadFailed;
  }
  return kReadFailed;
}

constexpr std::uint8_t kAppReportId = 0x81;

// The reason of a read that brought no report. The platform words device and system
// failures itself; the rest, and a platform that gave no reason, the link words here.
base::Error ReadError(const ReadResult& result, std::uint32_t timeoutMs) {
  if (result.error) {
    return *result.error;
  }
  switch (result.outcome) {
    case ReadOutcome::kReport:
    case ReadOutcome::kFailed:
      break;
    case ReadOutcome::kTimeout:
      return {base::ErrorKind::kTimedOut,
              "read: no report within " + std::to_string(timeoutMs) + " ms"};
    case ReadOutcome::kAbandoned:
      return {base::ErrorKind::kIo, "read: the wait was abandoned"};
    case ReadOutcome::kDeviceGone:
      return {base::ErrorKind::kDisconnected, "read: the device went away"};
  }
  return {base::ErrorKind::kIo, "read: failed"};
}

base::Error NotOpen(const std::string& operation) {
  return {base::ErrorKind::kDisconnected, operation + ": the device is not open"};
}

}  // namespace

bool DevicePin::Matches(const InterfaceInfo& info) const {
  if (!place.empty()) {
    return info.location == place;
  }
  if (!path.empty()) {
    return info.path == path;
  }
  return info.productId == productId &&
         std::find(notPaths.begin(), notPaths.end(), info.path) == notPaths.end();
}

std::vector<InterfaceInfo> ListControllers(IHidPlatform& platform) {
  std::vector<InterfaceInfo> interfaces = platform.EnumerateInterfaces();
  std::erase_if(interfaces, [](const InterfaceInfo& info) { return !IsController(info); });
  return interfaces;
}

CHid::CHid(std::shared_ptr<IHidPlatform> platform, base::DebugSink debug)
    : m_Platform(std::move(platform)), m_Debug(std::move(debug)) {}

CHid::~CHid() {
  std::lock_guard lock(m_Mutex);
  if (m_bNotifyActive) {
    m_Platform->UnregisterDeviceNotices();
    m_bNotifyActive = false;
  }
  m_hWrite.reset();
  m_hRead.reset();
}

void CHid::SetNotifyWindow(NativeWindow window) {
  std::lock_guard lock(m_Mutex);
  m_hNotifyWnd = window;
}

int CHid::FindDevice() {
  const std::vector<InterfaceInfo> snapshot = m_Platform->EnumerateInterfaces();

  std::unique_lock lock(m_Mutex);
  const std::optional<DevicePin> pin = m_Pin;
  const auto match = std::find_if(snapshot.begin(), snapshot.end(), [&](const InterfaceInfo& info) {
    return IsController(info) && (!pin || pin->Matches(info));
  });
  if (match != snapshot.end()) {
    m_DevicePath = match->path;
    m_DeviceLocation = match->location;
    m_MatchedIds = MatchedDeviceIds{match->vendorId, match->productId};
  }
  const std::string path = m_DevicePath;
  const bool registerNow = m_bNotifyRegistered == 0;
  // Attempted once in the life of the link, found or not, and never retried.
  m_bNotifyRegistered = 1;
  const NativeWindow window = m_hNotifyWnd;
  m_bConnected = match != snapshot.end() ? 1 : 0;
  lock.unlock();

  if (match != snapshot.end()) {
    base::WriteDebugLine(m_Debug, "m_DevicePath:" + path + "\n");
  }
  if (registerNow) {
    const bool active = m_Platform->RegisterForDeviceNotices(window);
    std::lock_guard relock(m_Mutex);
    m_bNotifyActive = active;
  }
  return match != snapshot.end() ? 1 : 0;
}

int CHid::OpenDevice() {
  std::unique_lock lock(m_Mutex);
  m_hWrite.reset();
  m_hRead.reset();
  const std::string path = m_DevicePath;
  lock.unlock();

  auto write = m_Platform->Open(path, Access::kWrite);
  if (!write) {
    std::lock_guard relock(m_Mutex);
    m_LastOpenError = write.error();
    return 0;
  }
  auto read = m_Platform->Open(path, Access::kRead);

  std::lock_guard relock(m_Mutex);
  m_hWrite = std::move(write.value());
  if (!read) {
    m_LastOpenError = read.error();
    return 0;
  }
  m_hRead = std::move(read.value());
  m_LastOpenError.reset();
  m_nTimeout = kOpenTimeoutMs;
  return 1;
}

void CHid::SetTimeout(std::uint32_t milliseconds) {
  std::lock_guard lock(m_Mutex);
  m_nTimeout = milliseconds;
}

std::uint32_t CHid::ReadReport(std::uint8_t* destination, std::uint8_t n) {
  return Read(destination, n, 1);
}

std::uint32_t CHid::ReadAppReport(std::uint8_t* destination, std::uint8_t n) {
  return Read(destination, n, 0);
}

std::uint32_t CHid::Read(std::uint8_t* destination, std::uint8_t n, std::size_t firstByte) {
  std::shared_ptr<IHidHandle> handle;
  std::uint32_t timeoutMs = 0;
  {
    std::lock_guard lock(m_Mutex);
    handle = m_hRead;
    timeoutMs = m_nTimeout;
  }
  if (!handle) {
    RecordIo(NotOpen("read"));
    return kReadNotOpen;
  }
  Frame frame{};
  const ReadResult result = handle->ReadFrame(frame, std::chrono::milliseconds(timeoutMs));
  const std::uint32_t status = StatusOf(result.outcome);
  if (status != kReadOk) {
    RecordIo(ReadError(result, timeoutMs));
    return status;
  }
  RecordIo(std::nullopt);
  if (n > 0) {
    const std::size_t count = std::min<std::size_t>(n, kReportDataSize);
    std::memcpy(destination, frame.data() + firstByte, count);
  }
  return status;
}

int CHid::WriteReport(const std::uint8_t* source, std::uint8_t n) {
  return WriteFromTransmitBuffer(0x00, source, n, kFrameSize);
}

int CHid::WriteAppReport(const std::uint8_t* source, std::uint8_t n) {
  return WriteFromTransmitBuffer(kAppReportId, source, n, std::min<std::size_t>(n, kFrameSize));
}

int CHid::WriteFromTransmitBuffer(std::uint8_t reportId, const std::uint8_t* source, std::uint8_t n,
                                  std::size_t bytesOnWire) {
  const std::size_t count = std::min<std::size_t>(n, kReportDataSize);
  std::lock_guard lock(m_TransmitMutex);
  // The buffer is filled before the handle is looked at: a refused write still leaves
  // its bytes behind for the next WriteReport.
  m_TransmitBuffer[0] = reportId;
  if (count > 0) {
    std::memcpy(m_TransmitBuffer.data() + 1, source, count);
  }
  return RecordWrite(WriteHandle(), std::span(m_TransmitBuffer.data(), bytesOnWire));
}

int CHid::WriteReportWithId(const std::uint8_t* source, std::uint8_t reportId, std::uint8_t n) {
  const std::size_t count = std::min<std::size_t>(n, kReportDataSize);
  Frame frame{};
  frame[0] = reportId;
  if (count > 0) {
    std::memcpy(frame.data() + 1, source, count);
  }
  return RecordWrite(WriteHandle(), std::span(frame.data(), count + 1));
}

int CHid::RecordWrite(const std::shared_ptr<IHidHandle>& handle,
                      std::span<const std::uint8_t> frame) {
  if (!handle) {
    RecordIo(NotOpen("write"));
    return 0;
  }
  const base::Status written = handle->WriteFrame(frame);
  RecordIo(written ? std::nullopt : std::optional(written.error()));
  return written ? 1 : 0;
}

void CHid::RecordIo(std::optional<base::Error> error) {
  std::lock_guard lock(m_Mutex);
  m_LastIoError = std::move(error);
}

std::shared_ptr<IHidHandle> CHid::WriteHandle() const {
  std::lock_guard lock(m_Mutex);
  return m_hWrite;
}

std::unique_lock<std::mutex> CHid::BeginCommand() {
  return std::unique_lock(m_CommandMutex);
}

MatchedDeviceIds CHid::GetMatchedDeviceIds() const {
  std::lock_guard lock(m_Mutex);
  return m_MatchedIds;
}

bool CHid::IsConnected() const {
  std::lock_guard lock(m_Mutex);
  return m_bConnected != 0;
}

std::string CHid::DevicePath() const {
  std::lock_guard lock(m_Mutex);
  return m_DevicePath;
}

std::string CHid::DeviceLocation() const {
  std::lock_guard lock(m_Mutex);
  return m_DeviceLocation;
}

void CHid::PinDevice(DevicePin pin) {
  std::lock_guard lock(m_Mutex);
  m_Pin = std::move(pin);
}

void CHid::UnpinDevice() {
  std::lock_guard lock(m_Mutex);
  m_Pin.reset();
}

std::optional<DevicePin> CHid::Pin() const {
  std::lock_guard lock(m_Mutex);
  return m_Pin;
}

std::uint32_t CHid::Timeout() const {
  std::lock_guard lock(m_Mutex);
  return m_nTimeout;
}

bool CHid::IsWriteOpen() const {
  std::lock_guard lock(m_Mutex);
  return m_hWrite != nullptr;
}

bool CHid::IsReadOpen() const {
  std::lock_guard lock(m_Mutex);
  return m_hRead != nullptr;
}

bool CHid::IsNotifyRegistered() const {
  std::lock_guard lock(m_Mutex);
  return m_bNotifyRegistered != 0;
}

std::optional<base::Error> CHid::LastOpenError() const {
  std::lock_guard lock(m_Mutex);
  return m_LastOpenError;
}

std::optional<base::Error> CHid::LastIoError() const {
  std::lock_guard lock(m_Mutex);
  return m_LastIoError;
}

}  // namespace hid
