// Waking a thread that waits: a wake that becomes ready once something has happened
// (Ctrl-C, the end of a run) and stays ready until cleared, and one wait for any of
// several of them beside the platform's notices (hid::NoticeWaitable) and the user's
// answers. What a wait watches is what the system waits on: descriptors for poll() on
// POSIX (WakePosix.cpp), event handles for WaitForMultipleObjects on Windows
// (WakeWindows.cpp). Not in the WebAssembly build, where the browser's loop waits.
#pragma once

#include <chrono>
#include <optional>
#include <span>

namespace base {

#if defined(_WIN32)
using Waitable = void*;  // a manual-reset event (HANDLE)
inline constexpr Waitable kNoWaitable = nullptr;
#else
using Waitable = int;  // a descriptor, ready when readable
inline constexpr Waitable kNoWaitable = -1;
#endif

// What woke the program to stop: Ctrl-C at the terminal (Ctrl-Break too on Windows), or
// a request to end it (SIGTERM on POSIX: a service manager, kill, a closing session).
enum class InterruptCause { kCtrlC, kTermination };

inline constexpr int kWaitTimedOut = -1;  // also a wait cut short by a signal: wait again
inline constexpr int kWaitFailed = -2;

// Waits until one of waitables is ready or timeout has passed (nullopt: no limit).
// Entries equal to kNoWaitable are left out. Returns the index of a ready entry,
// kWaitTimedOut or kWaitFailed.
int WaitForAny(std::span<const Waitable> waitables,
               std::optional<std::chrono::milliseconds> timeout);

enum class InputByte {
  kByte,  // one byte of the answer was read
  kEnd,   // the input ended (or failed)
  kStop,  // interrupt became ready first, or the wait failed: no answer
};

// Reads one byte of the user's answers from inputFd unless interrupt is ready first.
InputByte ReadInputByte(int inputFd, Waitable interrupt, char& byte);

class CWakeFd {
 public:
  CWakeFd();
  ~CWakeFd();
  CWakeFd(const CWakeFd&) = delete;
  CWakeFd& operator=(const CWakeFd&) = delete;

  void Signal();  // async-signal-safe on POSIX, safe in a console handler on Windows
  bool IsSignalled() const;
  void Clear();
  Waitable Fd() const { return m_Read; }
  // What a signal or console handler signals, as it cannot call members.
  Waitable SignalFd() const { return m_Write; }

 private:
  Waitable m_Read = kNoWaitable;
  Waitable m_Write = kNoWaitable;  // the same event as m_Read on Windows
};

// Routes Ctrl-C (SIGINT, and SIGTERM on POSIX; CTRL_C_EVENT and CTRL_BREAK_EVENT on
// Windows) to a wake while it lives, and restores the earlier handling afterwards. The
// first one only wakes the program, which then stops at a safe point; a second Ctrl-C
// ends it at once, as the default action does. A signal handler can reach nothing but
// process-wide state: that is why this class exists only once, in main().
class CInterruptRoute {
 public:
  explicit CInterruptRoute(CWakeFd& wake);
  ~CInterruptRoute();
  CInterruptRoute(const CInterruptRoute&) = delete;
  CInterruptRoute& operator=(const CInterruptRoute&) = delete;

  // What the last interruption was; kCtrlC before any.
  InterruptCause LastCause() const;

 private:
  Waitable m_Signal = kNoWaitable;  // a duplicate of the wake's signalling end, owned here
};

}  // namespace base
