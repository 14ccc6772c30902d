#include <system_error>
#include <thread>

#include "update/RunThread.h"

namespace update {

struct CRunThread::State {
  std::thread thread;
};

CRunThread::CRunThread() : m_State(std::make_unique<State>()) {}

CRunThread::~CRunThread() {
  Join();
}

bool CRunThread::Start(std::function<void()> work) {
  Join();
  try {
    m_State->thread = std::thread(std::move(work));
  } catch (const std::system_error&) {
    return false;  // the system would not give a thread: no run
  }
  return true;
}

void CRunThread::Join() {
  if (m_State->thread.joinable()) {
    m_State->thread.join();
  }
}

}  // namespace update
