// The thread a flashing run works on. Where the platform has no threads (the WebAssembly
// build) the work runs in place instead, before Start returns: the run asks nobody, so
// nothing it does waits for the caller.
#pragma once

#include <functional>
#include <memory>

namespace update {

class CRunThread {
 public:
  CRunThread();
  // Waits for the work, if any is going on.
  ~CRunThread();
  CRunThread(const CRunThread&) = delete;
  CRunThread& operator=(const CRunThread&) = delete;

  // Starts work after the previous work has ended; false when no thread could be had.
  [[nodiscard]] bool Start(std::function<void()> work);
  // Waits until the work has ended (at once when there is none).
  void Join();

 private:
  struct State;
  std::unique_ptr<State> m_State;
};

}  // namespace update
