// A request to stop, shared between whoever asks (a closing window, Ctrl-C) and the work
// that checks it at its safe points (between blocks, while waiting for the erase).
//
// The core takes these rather than std::stop_token so that it builds where the standard
// library has no <stop_token> (the WebAssembly build); front ends that start threads keep
// std::jthread and hand its request on with StopSourceFor.
#pragma once

#include <atomic>
#include <memory>

namespace base {

class CStopToken {
 public:
  // A token nobody can ever stop.
  CStopToken() = default;

  bool StopRequested() const { return m_Flag && m_Flag->load(std::memory_order_acquire); }

 private:
  friend class CStopSource;
  explicit CStopToken(std::shared_ptr<const std::atomic<bool>> flag) : m_Flag(std::move(flag)) {}

  std::shared_ptr<const std::atomic<bool>> m_Flag;
};

class CStopSource {
 public:
  CStopSource() : m_Flag(std::make_shared<std::atomic<bool>>(false)) {}

  void RequestStop() { m_Flag->store(true, std::memory_order_release); }
  bool StopRequested() const { return m_Flag->load(std::memory_order_acquire); }
  CStopToken Token() const { return CStopToken(m_Flag); }

 private:
  std::shared_ptr<std::atomic<bool>> m_Flag;
};

}  // namespace base
