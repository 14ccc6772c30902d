#include "base/ConsoleStreamWindows.h"

#include <utility>

#include "base/WideText.h"

namespace base {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

std::size_t WholeUtf8Length(std::string_view text) {
  // The last character's lead byte is among the last four bytes.
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 4 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) {
      continue;  // a continuation byte: the lead is further back
    }
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? size - back : size;
  }
  return size;  // nothing but continuation bytes: not UTF-8, shown as it is
}

CConsoleStreamBuf::CConsoleStreamBuf(WideWriter toConsole) : m_ToConsole(std::move(toConsole)) {
  setp(m_Buffer.data(), m_Buffer.data() + m_Buffer.size());
}

CConsoleStreamBuf::CConsoleStreamBuf(ByteWriter toFile) : m_ToFile(std::move(toFile)) {
  setp(m_Buffer.data(), m_Buffer.data() + m_Buffer.size());
}

CConsoleStreamBuf::CConsoleStreamBuf(HANDLE handle) {
  setp(m_Buffer.data(), m_Buffer.data() + m_Buffer.size());
  if (IsConsole(handle)) {
    m_ToConsole = [handle](std::wstring_view text) {
      DWORD written = 0;
      ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    };
  } else if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    m_ToFile = [handle](std::string_view bytes) {
      DWORD written = 0;
      ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    };
  }
}

CConsoleStreamBuf::~CConsoleStreamBuf() {
  Drain();
  if (m_ToConsole && !m_Pending.empty()) {
    m_ToConsole(base::WideFromUtf8(m_Pending));
  }
}

CConsoleStreamBuf::int_type CConsoleStreamBuf::overflow(int_type c) {
  Drain();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int CConsoleStreamBuf::sync() {
  Drain();
  return 0;
}

void CConsoleStreamBuf::Drain() {
  const std::string_view buffered(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  if (m_ToConsole) {
    m_Pending.append(buffered);
    const std::size_t whole = WholeUtf8Length(m_Pending);
    if (whole > 0) {
      m_ToConsole(base::WideFromUtf8(std::string_view(m_Pending).substr(0, whole)));
      m_Pending.erase(0, whole);
    }
  } else if (m_ToFile && !buffered.empty()) {
    m_ToFile(buffered);
  }
  setp(m_Buffer.data(), m_Buffer.data() + m_Buffer.size());
}

}  // namespace base
