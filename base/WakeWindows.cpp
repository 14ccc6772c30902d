#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/Wake.h"
#include "base/WideText.h"

namespace base {

int WaitForAny(std::span<const Waitable> waitables,
               std::optional<std::chrono::milliseconds> timeout) {
  std::vector<HANDLE> handles;
  std::vector<int> indexes;
  for (std::size_t i = 0; i < waitables.size(); ++i) {
    if (waitables[i] != kNoWaitable) {
      handles.push_back(static_cast<HANDLE>(waitables[i]));
      indexes.push_back(static_cast<int>(i));
    }
  }
  // INFINITE is the only wait without a limit; a finite one stays below it.
  const DWORD timeoutMs = timeout ? static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(
                                        timeout->count(), 0, INFINITE - 1))
                                  : INFINITE;
  if (handles.empty()) {
    if (!timeout) {
      return kWaitFailed;  // nothing could ever wake it
    }
    ::Sleep(timeoutMs);
    return kWaitTimedOut;
  }
  const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + handles.size()) {
    return indexes[result - WAIT_OBJECT_0];
  }
  return result == WAIT_TIMEOUT ? kWaitTimedOut : kWaitFailed;
}

namespace {

// What a console read returned and was not handed out yet, as UTF-8. A console gives
// typed text right only as UTF-16: its 8-bit reads in the UTF-8 code page lose every
// character beyond ASCII (是 arrives as nothing) on many versions of Windows.
thread_local std::string t_ConsoleInput;

// One byte of a console's typed line: a line is read as UTF-16 and handed out in UTF-8.
int ReadConsoleByte(HANDLE console, char& byte) {
  if (t_ConsoleInput.empty()) {
    wchar_t typed[256];
    DWORD got = 0;
    if (!::ReadConsoleW(console, typed, 256, &got, nullptr) || got == 0) {
      return 0;
    }
    t_ConsoleInput = Utf8FromWide(std::wstring_view(typed, got));
  }
  byte = t_ConsoleInput.front();
  t_ConsoleInput.erase(0, 1);
  return 1;
}

}  // namespace

InputByte ReadInputByte(int inputFd, Waitable interrupt, char& byte) {
  const auto interrupted = [interrupt] {
    return interrupt != kNoWaitable &&
           ::WaitForSingleObject(static_cast<HANDLE>(interrupt), 0) == WAIT_OBJECT_0;
  };
  if (interrupted()) {
    return InputByte::kStop;
  }
  // Console and pipe input cannot be waited for beside an event, so the read blocks.
  // Ctrl-C ends a console read at once (with nothing read), and is seen here then.
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(inputFd));
  DWORD mode = 0;
  const int got =
      ::GetConsoleMode(handle, &mode) ? ReadConsoleByte(handle, byte) : ::_read(inputFd, &byte, 1);
  if (interrupted()) {
    return InputByte::kStop;
  }
  return got == 1 ? InputByte::kByte : InputByte::kEnd;
}

CWakeFd::CWakeFd() {
  m_Read = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_Write = m_Read;
}

CWakeFd::~CWakeFd() {
  if (m_Read != nullptr) {
    ::CloseHandle(static_cast<HANDLE>(m_Read));
  }
}

void CWakeFd::Signal() {
  ::SetEvent(static_cast<HANDLE>(m_Write));
}

bool CWakeFd::IsSignalled() const {
  return ::WaitForSingleObject(static_cast<HANDLE>(m_Read), 0) == WAIT_OBJECT_0;
}

void CWakeFd::Clear() {
  ::ResetEvent(static_cast<HANDLE>(m_Read));
}

namespace {

std::atomic<HANDLE> g_InterruptEvent{nullptr};  // the one thing the console handler reaches
std::atomic<bool> g_Interrupted{false};

// Runs on a thread the console starts for each Ctrl-C.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  const HANDLE event = g_InterruptEvent.load();
  if (event == nullptr || g_Interrupted.exchange(true)) {
    return FALSE;  // the second one: the default action ends the program
  }
  ::SetEvent(event);
  return TRUE;
}

}  // namespace

CInterruptRoute::CInterruptRoute(CWakeFd& wake) {
  // The handler signals a duplicate of the wake's event, owned here, so that it never
  // signals a handle the wake has closed and the system reused.
  HANDLE duplicate = nullptr;
  if (::DuplicateHandle(::GetCurrentProcess(), static_cast<HANDLE>(wake.SignalFd()),
                        ::GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    m_Signal = duplicate;
  }
  g_Interrupted.store(false);
  g_InterruptEvent.store(duplicate);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptCause CInterruptRoute::LastCause() const {
  return InterruptCause::kCtrlC;  // only the keys reach the handler
}

CInterruptRoute::~CInterruptRoute() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_InterruptEvent.store(nullptr);
  if (m_Signal != nullptr) {
    ::CloseHandle(static_cast<HANDLE>(m_Signal));
  }
}

}  // namespace base
