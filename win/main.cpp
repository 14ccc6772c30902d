// The window program on Windows, `update.exe`.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hid/windows/Win32Errors.h"
#include "win/UpdateApp.h"

int main() {
  // The wide command line: paths and options in any script.
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    arguments.push_back(hid::windows::Utf8FromWide(wide[i]));
  }
  ::LocalFree(wide);
  std::optional<std::string> emulatorVariable;
  if (const char* value = std::getenv(platform::kEmulatorVariable)) {
    emulatorVariable = value;
  }

  const win::CommandLine command = win::ParseCommandLine(arguments, emulatorVariable);
  if (command.message) {
    // A program without a console answers in a box: the help, or the mistake and the
    // options there are.
    ::MessageBoxW(nullptr, hid::windows::WideFromUtf8(*command.message).c_str(), L"Corvane Update",
                  MB_OK);
    return command.exitCode;
  }
  win::CUpdateApp theApp(command.options);
  return theApp.InitInstance();
}
