// Runs a program on the console this launcher runs on, as a person starts it from a
// console window: with the console as its standard input, output and error. (A program
// started on a pseudo console gets no console handles of its own under wine, so the test
// starts this launcher there, and the launcher the program.) The console's code pages
// are set first; once the program has ended, what the console then holds is read back
// as UTF-16 and written to a report file in UTF-8, with the exit code and the code pages
// found, for the test to read.
//   update-console-launcher CODEPAGE REPORT PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/WideText.h"

namespace {

// The console's rows down to the cursor, each without its trailing blanks.
std::string ScreenText(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};  // none: the first row only
  ::GetConsoleScreenBufferInfo(console, &info);
  std::string text;
  const SHORT width = info.dwSize.X;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring cells(static_cast<std::size_t>(width), L' ');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(console, cells.data(), static_cast<DWORD>(width), COORD{0, row},
                                  &read);
    cells.resize(read);
    cells.erase(cells.find_last_not_of(L' ') + 1);
    text += base::Utf8FromWide(cells) + "\n";
  }
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {  // the test gives every word
  const auto codePage = static_cast<UINT>(std::wcstoul(argv[1], nullptr, 10));
  ::SetConsoleCP(codePage);
  ::SetConsoleOutputCP(codePage);

  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE output =
      ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
  const HANDLE input =
      ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
  std::wstring command;
  for (int i = 3; i < argc; ++i) {
    command += (i > 3 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return 101;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);

  std::FILE* report = ::_wfopen(argv[2], L"wb");
  if (report == nullptr) {
    return 102;
  }
  std::fprintf(report, "exit %lu\ncode pages %u %u\n", exitCode, ::GetConsoleCP(),
               ::GetConsoleOutputCP());
  const std::string screen = ScreenText(output);
  std::fwrite(screen.data(), 1, screen.size(), report);
  std::fclose(report);
  return 0;
}
