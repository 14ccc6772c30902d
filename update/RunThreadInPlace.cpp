#include "update/RunThread.h"

namespace update {

struct CRunThread::State {};

CRunThread::CRunThread() : m_State(std::make_unique<State>()) {}

CRunThread::~CRunThread() = default;

bool CRunThread::Start(std::function<void()> work) {
  work();
  return true;
}

void CRunThread::Join() {}

}  // namespace update
