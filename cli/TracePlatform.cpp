#include "cli/TracePlatform.h"

#include <cerrno>
#include <cstring>

#include "base/FilePath.h"
#include "cli/Session.h"

namespace cli {

base::Result<std::shared_ptr<CTraceLog>> CTraceLog::Create(const std::string& path) {
  std::FILE* file = base::OpenFile(path, "w");
  if (file == nullptr) {
    const int error = errno;
    return base::Error{error == EACCES ? base::ErrorKind::kPermissionDenied : base::ErrorKind::kIo,
                       "open " + path + ": " + std::strerror(error)};
  }
  return std::shared_ptr<CTraceLog>(new CTraceLog(file));
}

CTraceLog::CTraceLog(std::FILE* file) : m_File(file), m_Start(std::chrono::steady_clock::now()) {}

CTraceLog::~CTraceLog() {
  std::fclose(m_File);
}

void CTraceLog::Write(const char* direction, const char* operation, const std::string& path,
                      std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  const auto elapsed = std::chrono::steady_clock::now() - m_Start;
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  std::lock_guard lock(m_Mutex);
  // Flushed per line: a trace is read most when the program did not end well.
  std::fprintf(m_File, "{\"ms\":%.3f,\"dir\":\"%s\",\"op\":\"%s\",\"path\":%s,\"hex\":\"%s\"}\n",
               ms, direction, operation, JsonText(path).c_str(), hex.c_str());
  std::fflush(m_File);
}

class CTracePlatform::CHandle final : public hid::IHidHandle {
 public:
  CHandle(std::unique_ptr<hid::IHidHandle> inner, std::shared_ptr<CTraceLog> log, std::string path)
      : m_Inner(std::move(inner)), m_Log(std::move(log)), m_Path(std::move(path)) {}

  hid::ReadResult ReadFrame(hid::Frame& frame, std::chrono::milliseconds timeout) override {
    hid::ReadResult result = m_Inner->ReadFrame(frame, timeout);
    switch (result.outcome) {
      case hid::ReadOutcome::kReport:
        m_Log->Write("in", "read", m_Path, frame);
        break;
      case hid::ReadOutcome::kTimeout:
        m_Log->Write("in", "timeout", m_Path, {});
        break;
      case hid::ReadOutcome::kAbandoned:
        m_Log->Write("in", "abandoned", m_Path, {});
        break;
      case hid::ReadOutcome::kDeviceGone:
        m_Log->Write("in", "gone", m_Path, {});
        break;
      case hid::ReadOutcome::kFailed:
        m_Log->Write("in", "failed", m_Path, {});
        break;
    }
    return result;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    base::Status written = m_Inner->WriteFrame(frame);
    m_Log->Write("out", written ? "write" : "write-failed", m_Path, frame);
    return written;
  }

 private:
  const std::unique_ptr<hid::IHidHandle> m_Inner;
  const std::shared_ptr<CTraceLog> m_Log;
  const std::string m_Path;
};

CTracePlatform::CTracePlatform(std::shared_ptr<hid::IHidPlatform> inner,
                               std::shared_ptr<CTraceLog> log)
    : m_Inner(std::move(inner)), m_Log(std::move(log)) {}

std::vector<hid::InterfaceInfo> CTracePlatform::EnumerateInterfaces() {
  return m_Inner->EnumerateInterfaces();
}

base::Result<std::unique_ptr<hid::IHidHandle>> CTracePlatform::Open(const std::string& path,
                                                                    hid::Access access) {
  auto opened = m_Inner->Open(path, access);
  if (!opened) {
    return opened.error();
  }
  return std::unique_ptr<hid::IHidHandle>(
      std::make_unique<CHandle>(std::move(opened.value()), m_Log, path));
}

bool CTracePlatform::RegisterForDeviceNotices(hid::NativeWindow notifyWindow) {
  return m_Inner->RegisterForDeviceNotices(notifyWindow);
}

void CTracePlatform::UnregisterDeviceNotices() {
  m_Inner->UnregisterDeviceNotices();
}

int CTracePlatform::NoticeFd() const {
  return m_Inner->NoticeFd();
}

void* CTracePlatform::NoticeEvent() const {
  return m_Inner->NoticeEvent();
}

std::vector<std::uint32_t> CTracePlatform::TakeNotices() {
  return m_Inner->TakeNotices();
}

}  // namespace cli
