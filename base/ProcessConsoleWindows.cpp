#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/WideText.h"
#include "base/ConsoleCodePages.h"
#include "base/ConsoleStreamWindows.h"
#include "base/ProcessConsole.h"

namespace base {
namespace {

// The one thing the console control handler reaches: it runs on a thread the console
// starts, and can reach nothing but process-wide state.
std::atomic<CConsoleCodePages*> g_CodePages{nullptr};

// Called after the handler of a Ctrl-C that the program takes itself (CInterruptRoute,
// registered later, is asked first): so only for the events that end the process now,
// the second Ctrl-C, Ctrl-Break after it, a closed window, logoff, shutdown.
BOOL WINAPI RestoreBeforeTheEnd(DWORD /*type*/) {
  if (CConsoleCodePages* pages = g_CodePages.load()) {
    pages->Restore();
  }
  return FALSE;  // the default action (or the next handler) goes on
}

CodePageCalls ConsoleCodePageCalls() {
  CodePageCalls calls;
  calls.getInput = [] { return static_cast<unsigned>(::GetConsoleCP()); };
  calls.getOutput = [] { return static_cast<unsigned>(::GetConsoleOutputCP()); };
  calls.setInput = [](unsigned page) { return ::SetConsoleCP(page) != 0; };
  calls.setOutput = [](unsigned page) { return ::SetConsoleOutputCP(page) != 0; };
  return calls;
}

std::vector<std::string> WideArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 0; wide != nullptr && i < count; ++i) {
    // "/?" is the question Windows programs answer with their help.
    arguments.push_back(i > 0 && std::wstring_view(wide[i]) == L"/?" ? "--help"
                                                                     : base::Utf8FromWide(wide[i]));
  }
  ::LocalFree(wide);
  return arguments;
}

}  // namespace

struct CProcessConsole::State {
  State()
      : arguments(WideArguments()),
        codePages(ConsoleCodePageCalls(), CP_UTF8),
        outBuffer(::GetStdHandle(STD_OUTPUT_HANDLE)),
        errBuffer(::GetStdHandle(STD_ERROR_HANDLE)),
        out(&outBuffer),
        err(&errBuffer) {
    for (const std::string& argument : arguments) {
      argv.push_back(argument.c_str());
    }
    argv.push_back(nullptr);
    err.setf(std::ios::unitbuf);  // as std::cerr: every write shows at once
    if (IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE))) {
      out.setf(std::ios::unitbuf);  // on the same console as err: in the order written
    }
  }

  const std::vector<std::string> arguments;
  std::vector<const char*> argv;
  CConsoleCodePages codePages;
  CConsoleStreamBuf outBuffer;
  CConsoleStreamBuf errBuffer;
  std::ostream out;
  std::ostream err;
};

CProcessConsole::CProcessConsole(int /*argc*/, char** /*argv*/)
    : m_State(std::make_unique<State>()) {
  g_CodePages.store(&m_State->codePages);
  ::SetConsoleCtrlHandler(RestoreBeforeTheEnd, TRUE);
}

CProcessConsole::~CProcessConsole() {
  m_State->out.flush();
  m_State->err.flush();
  ::SetConsoleCtrlHandler(RestoreBeforeTheEnd, FALSE);
  g_CodePages.store(nullptr);
  m_State->codePages.Restore();
}

int CProcessConsole::Argc() const {
  return static_cast<int>(m_State->arguments.size());
}

const char* const* CProcessConsole::Argv() const {
  return m_State->argv.data();
}

std::ostream& CProcessConsole::Out() {
  return m_State->out;
}

std::ostream& CProcessConsole::Err() {
  return m_State->err;
}

}  // namespace base
