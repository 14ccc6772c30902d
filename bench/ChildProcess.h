// A program of ours started by a benchmark, with its standard output on a pipe, ended with
// SIGTERM (and waited for) when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class CChildProcess {
 public:
  CChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  bool Started() const { return m_Pid > 0; }
  // The next line of its standard output, without the newline; nullopt at the end of the
  // output or when none came within the timeout.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

 private:
  pid_t m_Pid = -1;
  int m_Stdout = -1;
  std::string m_Buffer;
};

}  // namespace bench
