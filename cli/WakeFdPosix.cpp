#include "cli/WakeFd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace cli {

CWakeFd::CWakeFd() {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    m_Read = fds[0];
    m_Write = fds[1];
  }
}

CWakeFd::~CWakeFd() {
  if (m_Read >= 0) {
    ::close(m_Read);
  }
  if (m_Write >= 0) {
    ::close(m_Write);
  }
}

void CWakeFd::Signal() {
  const char byte = 1;
  // A full pipe is already readable: nothing is lost when this write fails.
  [[maybe_unused]] const auto written = ::write(m_Write, &byte, 1);
}

bool CWakeFd::IsSignalled() const {
  pollfd fd{m_Read, POLLIN, 0};
  return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0;
}

void CWakeFd::Clear() {
  char buffer[64];
  while (::read(m_Read, buffer, sizeof buffer) > 0) {
  }
}

namespace {

std::atomic<int> g_InterruptWriteFd{-1};  // the one thing a signal handler may reach
struct sigaction g_PreviousInt {};
struct sigaction g_PreviousTerm {};

extern "C" void OnInterruptSignal(int) {
  const int fd = g_InterruptWriteFd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
  }
}

}  // namespace

CInterruptRoute::CInterruptRoute(CWakeFd& wake) {
  // The handler writes to a duplicate of the wake's write end, owned here, so that it
  // never writes to a descriptor number the wake has closed and the system reused.
  m_WriteFd = ::fcntl(wake.SignalFd(), F_DUPFD_CLOEXEC, 0);
  g_InterruptWriteFd.store(m_WriteFd);
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  ::sigaction(SIGINT, &action, &g_PreviousInt);
  ::sigaction(SIGTERM, &action, &g_PreviousTerm);
}

CInterruptRoute::~CInterruptRoute() {
  ::sigaction(SIGINT, &g_PreviousInt, nullptr);
  ::sigaction(SIGTERM, &g_PreviousTerm, nullptr);
  g_InterruptWriteFd.store(-1);
  if (m_WriteFd >= 0) {
    ::close(m_WriteFd);
  }
}

}  // namespace cli
