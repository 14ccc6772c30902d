// --trace FILE: a platform that passes everything to the real one and writes every
// frame written and read to a file, one JSON object per line:
//
//   {"ms":12.345,"dir":"out","op":"write","path":"sim:0","hex":"0005c1000000..."}
//   {"ms":12.901,"dir":"in","op":"read","path":"sim:0","hex":"000500000000c100..."}
//   {"ms":213.0,"dir":"in","op":"timeout","path":"sim:0","hex":""}
//
// ms counts from the start of the trace; op is "write" or "write-failed" for output
// reports, "read" for an input report, and "timeout", "gone", "abandoned" or "failed"
// for a read that brought none. hex is the frame exactly as it crossed the platform
// interface, report ID first; path is a JSON string, its bytes as they are (a byte that
// is not UTF-8 becomes U+FFFD). The link itself (CHid) knows nothing of this.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "hid/ForwardingPlatform.h"

namespace hid {

// text as a JSON string, quotes included, as the command line's JSON documents write
// one: UTF-8 kept, '"', '\\' and control characters escaped, and each piece that is not
// UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view text);

// The trace file. Lines from the UI thread and the worker never interleave.
class CTraceLog {
 public:
  static base::Result<std::shared_ptr<CTraceLog>> Create(const std::string& path);
  ~CTraceLog();
  CTraceLog(const CTraceLog&) = delete;
  CTraceLog& operator=(const CTraceLog&) = delete;

  void Write(const char* direction, const char* operation, const std::string& path,
             std::span<const std::uint8_t> bytes);

 private:
  explicit CTraceLog(std::FILE* file);

  std::mutex m_Mutex;
  std::FILE* m_File;
  const std::chrono::steady_clock::time_point m_Start;
};

class CTracePlatform final : public CForwardingPlatform {
 public:
  CTracePlatform(std::shared_ptr<IHidPlatform> inner, std::shared_ptr<CTraceLog> log);

  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;

 private:
  class CHandle;
  const std::shared_ptr<CTraceLog> m_Log;
};

}  // namespace hid
