// A descriptor that becomes readable once something has happened (Ctrl-C, the end of
// a run) and stays readable until cleared, so that one poll() can wait for it beside
// the platform's notices and the user's answers. Signal() is async-signal-safe.
#pragma once

namespace cli {

class CWakeFd {
 public:
  CWakeFd();
  ~CWakeFd();
  CWakeFd(const CWakeFd&) = delete;
  CWakeFd& operator=(const CWakeFd&) = delete;

  void Signal();
  bool IsSignalled() const;
  void Clear();
  int Fd() const { return m_Read; }
  // The write end, for a signal handler that cannot call members.
  int SignalFd() const { return m_Write; }

 private:
  int m_Read = -1;
  int m_Write = -1;
};

// Routes SIGINT (Ctrl-C) and SIGTERM to a wake descriptor while it lives, and restores
// the earlier handlers afterwards. The first signal only wakes the program, which then
// stops at a safe point; a second Ctrl-C ends it at once, as the default action does.
// A signal handler can reach nothing but process-wide state: that is why this class
// exists only once, in main().
class CInterruptRoute {
 public:
  explicit CInterruptRoute(CWakeFd& wake);
  ~CInterruptRoute();
  CInterruptRoute(const CInterruptRoute&) = delete;
  CInterruptRoute& operator=(const CInterruptRoute&) = delete;

 private:
  int m_WriteFd = -1;  // a duplicate of the wake's write end, owned here
};

}  // namespace cli
