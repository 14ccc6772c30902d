#include "hid/TracePlatform.h"

#include <cerrno>
#include <cstring>

#include "base/FilePath.h"

namespace hid {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence that starts text at i, or 0 when the
// bytes there are not one; bad then says how many bytes one U+FFFD replaces: the lead
// byte with the continuation bytes that still fitted it (as the JSON library decides).
std::size_t Utf8Length(std::string_view text, std::size_t i, std::size_t& bad) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte; later ones are 80..BF
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size() || byte(i + k) < low || byte(i + k) > high) {
      bad = k;
      return 0;
    }
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    std::size_t bad = 0;
    const std::size_t length = Utf8Length(text, i, bad);
    if (length == 0) {
      json += "\xEF\xBF\xBD";
      i += bad;
      continue;
    }
    const char c = text[i];
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\b':
        json += "\\b";
        break;
      case '\f':
        json += "\\f";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          json += "\\u00";
          json += kHexDigits[c >> 4];
          json += kHexDigits[c & 0x0F];
        } else {
          json.append(text, i, length);
        }
    }
    i += length;
  }
  return json + "\"";
}

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
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0F];
  }
  const auto elapsed = std::chrono::steady_clock::now() - m_Start;
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  std::lock_guard lock(m_Mutex);
  // Flushed per line: a trace is read most when the program did not end well.
  std::fprintf(m_File, "{\"ms\":%.3f,\"dir\":\"%s\",\"op\":\"%s\",\"path\":%s,\"hex\":\"%s\"}\n",
               ms, direction, operation, JsonString(path).c_str(), hex.c_str());
  std::fflush(m_File);
}

class CTracePlatform::CHandle final : public CForwardingHandle {
 public:
  CHandle(std::unique_ptr<IHidHandle> inner, std::shared_ptr<CTraceLog> log, std::string path)
      : CForwardingHandle(std::move(inner)), m_Log(std::move(log)), m_Path(std::move(path)) {}

  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override {
    ReadResult result = CForwardingHandle::ReadFrame(frame, timeout);
    switch (result.outcome) {
      case ReadOutcome::kReport:
        m_Log->Write("in", "read", m_Path, frame);
        break;
      case ReadOutcome::kTimeout:
        m_Log->Write("in", "timeout", m_Path, {});
        break;
      case ReadOutcome::kAbandoned:
        m_Log->Write("in", "abandoned", m_Path, {});
        break;
      case ReadOutcome::kDeviceGone:
        m_Log->Write("in", "gone", m_Path, {});
        break;
      case ReadOutcome::kFailed:
        m_Log->Write("in", "failed", m_Path, {});
        break;
    }
    return result;
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    base::Status written = CForwardingHandle::WriteFrame(frame);
    m_Log->Write("out", written ? "write" : "write-failed", m_Path, frame);
    return written;
  }

 private:
  const std::shared_ptr<CTraceLog> m_Log;
  const std::string m_Path;
};

CTracePlatform::CTracePlatform(std::shared_ptr<IHidPlatform> inner, std::shared_ptr<CTraceLog> log)
    : CForwardingPlatform(std::move(inner)), m_Log(std::move(log)) {}

base::Result<std::unique_ptr<IHidHandle>> CTracePlatform::Open(const std::string& path,
                                                               Access access) {
  return OpenWrapped(path, access, [&](std::unique_ptr<IHidHandle> handle) {
    return std::make_unique<CHandle>(std::move(handle), m_Log, path);
  });
}

}  // namespace hid
