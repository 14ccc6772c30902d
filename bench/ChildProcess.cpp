#include "bench/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

CChildProcess::CChildProcess(const std::string& program,
                             const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  if (posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    m_Pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  m_Stdout = pipeFds[0];
}

CChildProcess::~CChildProcess() {
  if (m_Pid > 0) {
    kill(m_Pid, SIGTERM);
    int status = 0;
    waitpid(m_Pid, &status, 0);
  }
  if (m_Stdout >= 0) {
    close(m_Stdout);
  }
}

std::optional<std::string> CChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto newline = m_Buffer.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_Buffer.substr(0, newline);
      m_Buffer.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return std::nullopt;
    }
    pollfd fd{m_Stdout, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      return std::nullopt;
    }
    char chunk[256];
    const ssize_t got = read(m_Stdout, chunk, sizeof chunk);
    if (got <= 0) {
      return std::nullopt;
    }
    m_Buffer.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace bench
