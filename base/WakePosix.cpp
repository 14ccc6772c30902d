#include "base/Wake.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <vector>

namespace base {

int WaitForAny(std::span<const Waitable> waitables,
               std::optional<std::chrono::milliseconds> timeout) {
  std::vector<pollfd> fds;
  std::vector<int> indexes;
  for (std::size_t i = 0; i < waitables.size(); ++i) {
    if (waitables[i] != kNoWaitable) {
      fds.push_back({waitables[i], POLLIN, 0});
      indexes.push_back(static_cast<int>(i));
    }
  }
  const int timeoutMs = timeout ? static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
                                      timeout->count(), 0, INT_MAX))
                                : -1;
  const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
  if (ready < 0) {
    return errno == EINTR ? kWaitTimedOut : kWaitFailed;
  }
  for (std::size_t k = 0; k < fds.size(); ++k) {
    if ((fds[k].revents & POLLIN) != 0) {
      return indexes[k];
    }
  }
  return kWaitTimedOut;
}

InputByte ReadInputByte(int inputFd, Waitable interrupt, char& byte) {
  for (;;) {
    pollfd fds[2] = {{inputFd, POLLIN, 0}, {interrupt, POLLIN, 0}};
    const nfds_t count = interrupt >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return InputByte::kStop;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) {
      return InputByte::kStop;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
      continue;
    }
    const ssize_t got = ::read(inputFd, &byte, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    return got == 1 ? InputByte::kByte : InputByte::kEnd;
  }
}

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

std::atomic<int> g_InterruptWriteFd{-1};  // the two things a signal handler may reach
std::atomic<int> g_LastSignal{0};
struct sigaction g_PreviousInt {};
struct sigaction g_PreviousTerm {};

extern "C" void OnInterruptSignal(int number) {
  g_LastSignal.store(number);
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
  m_Signal = ::fcntl(wake.SignalFd(), F_DUPFD_CLOEXEC, 0);
  g_InterruptWriteFd.store(m_Signal);
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  ::sigaction(SIGINT, &action, &g_PreviousInt);
  ::sigaction(SIGTERM, &action, &g_PreviousTerm);
}

InterruptCause CInterruptRoute::LastCause() const {
  return g_LastSignal.load() == SIGTERM ? InterruptCause::kTermination : InterruptCause::kCtrlC;
}

CInterruptRoute::~CInterruptRoute() {
  ::sigaction(SIGINT, &g_PreviousInt, nullptr);
  ::sigaction(SIGTERM, &g_PreviousTerm, nullptr);
  g_InterruptWriteFd.store(-1);
  if (m_Signal >= 0) {
    ::close(m_Signal);
  }
}

}  // namespace base
