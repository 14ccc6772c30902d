#include "base/ConsoleCodePages.h"

#include <utility>

namespace base {

CConsoleCodePages::CConsoleCodePages(CodePageCalls calls, unsigned wanted)
    : m_Calls(std::move(calls)) {
  m_Input = m_Calls.getInput();
  m_Output = m_Calls.getOutput();
  if (m_Input == 0 || m_Output == 0) {
    return;  // no console: nothing to set, nothing to put back
  }
  if (!m_Calls.setInput(wanted)) {
    return;
  }
  if (!m_Calls.setOutput(wanted)) {
    (void)m_Calls.setInput(m_Input);
    return;
  }
  m_Changed.store(true);
}

void CConsoleCodePages::Restore() {
  if (!m_Changed.exchange(false)) {
    return;
  }
  (void)m_Calls.setInput(m_Input);
  (void)m_Calls.setOutput(m_Output);
}

}  // namespace base
