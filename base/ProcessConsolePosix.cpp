#include <iostream>

#include "base/ProcessConsole.h"

namespace base {

struct CProcessConsole::State {
  int argc = 0;
  char** argv = nullptr;
};

CProcessConsole::CProcessConsole(int argc, char** argv)
    : m_State(std::make_unique<State>(State{argc, argv})) {}

CProcessConsole::~CProcessConsole() = default;

int CProcessConsole::Argc() const {
  return m_State->argc;
}

const char* const* CProcessConsole::Argv() const {
  return m_State->argv;
}

std::ostream& CProcessConsole::Out() {
  return std::cout;
}

std::ostream& CProcessConsole::Err() {
  return std::cerr;
}

}  // namespace base
