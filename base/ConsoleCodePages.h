// The code pages of the console update-cli runs in, set for the program's life and put
// back as they were on every way out. A Windows console keeps its code pages after the
// program that changed them has ended: left at UTF-8, the next program that writes 8-bit
// text there in the user's own code page (936 on a Chinese Windows) shows mojibake.
//
// The program's own output does not depend on them (a console gets UTF-16); typed
// answers do, and they are to arrive as UTF-8. The calls to the console are given, so
// that the rule is tested without one.
#pragma once

#include <atomic>
#include <functional>

namespace base {

struct CodePageCalls {
  std::function<unsigned()> getInput;  // 0: the program has no console
  std::function<unsigned()> getOutput;
  std::function<bool(unsigned)> setInput;  // false: the console refused the page
  std::function<bool(unsigned)> setOutput;
};

class CConsoleCodePages {
 public:
  // Sets both code pages to wanted when there is a console. When the console refuses
  // one, the other is put back at once: the console is left as found.
  CConsoleCodePages(CodePageCalls calls, unsigned wanted);
  ~CConsoleCodePages() { Restore(); }
  CConsoleCodePages(const CConsoleCodePages&) = delete;
  CConsoleCodePages& operator=(const CConsoleCodePages&) = delete;

  // Puts back the code pages found, once; later calls do nothing. Safe from a console
  // control handler's thread while the program's own thread runs.
  void Restore();
  // Both code pages are wanted now (false without a console or after a refusal).
  bool Set() const { return m_Changed.load(); }

 private:
  const CodePageCalls m_Calls;
  unsigned m_Input = 0;
  unsigned m_Output = 0;
  std::atomic<bool> m_Changed{false};
};

}  // namespace base
