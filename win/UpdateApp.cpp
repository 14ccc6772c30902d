#include "win/UpdateApp.h"

#include <BuildInfo.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <algorithm>

#include "hid/windows/Win32Errors.h"
#include "hid/windows/WindowsHidPlatform.h"
#include "text/UiLanguage.h"
#include "win/UpdateDlg.h"

namespace win {
namespace {

constexpr const wchar_t* kProgramCaption = L"Corvane Update";

// The standard error of the program: a redirection it was given, else the console of
// the program that started it; null when there is neither (started from Explorer).
HANDLE StandardError() {
  const HANDLE given = ::GetStdHandle(STD_ERROR_HANDLE);
  if (given != nullptr && given != INVALID_HANDLE_VALUE) {
    return given;
  }
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
    return nullptr;
  }
  const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  return console == INVALID_HANDLE_VALUE ? nullptr : console;
}

void WriteLine(HANDLE output, std::string_view line) {
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(output, &mode)) {
    // A console shows UTF-16 whatever its code page.
    const std::wstring wide = hid::windows::WideFromUtf8(line);
    ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    ::WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

// The help as a message box shows it, in the system's proportional font: each option on
// a line of its own and its description indented under it, so that nothing needs to
// line up in columns.
class CBoxHelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* option, bool positional) const override {
    return "  " + make_option_name(option, positional) + make_option_opts(option) + "\n      " +
           make_option_desc(option) + "\n";
  }
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::optional<std::string>& emulatorVariable) {
  // The options and values of the window on Linux, so that instructions hold for both.
  CLI::App parser("Writes new firmware into the Corvane controller through its bootloader.",
                  "update");
  parser.formatter(std::make_shared<CBoxHelpFormatter>());
  parser.set_help_flag("-h,--help", "Print this help message and exit (also /?).");
  std::string simulateCount;
  bool verbose = false;
  std::optional<std::string> emulator;
  std::optional<std::string> lang;
  std::optional<std::uint16_t> language;
  CLI::Option* simulate = parser.add_flag(
      "--simulate", simulateCount,
      "Use a simulated controller inside the program instead of a device (--simulate=N: N of "
      "them, the window takes the first).");
  parser.add_option("--emulator", emulator,
                    "Use the device emulator listening at this socket (also UPDATE_EMULATOR).");
  parser.add_option("--lang", lang,
                    "The language of the texts: en or zh, or a locale name such as zh_CN "
                    "(default: the user's UI language).");
  parser.add_option("--language", language,
                    "The same as a Windows language id: 2052 gives Chinese, any other English.");
  parser.add_flag("-v,--verbose", verbose,
                  "Write diagnostic lines to the standard error as well as to the debugger.");
  parser.set_version_flag("-V,--version", "",
                          "Print the version of the program and of its build, and exit.");

  CommandLine result;
  const auto refuse = [&result, &parser](const std::string& why) {
    result.message = "update: " + why + "\n\n" + parser.help();
    result.exitCode = 2;
    return result;
  };
  // CLI11 takes the arguments after the program's name, last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  if (!reversed.empty()) {
    reversed.pop_back();
  }
  // The question Windows programs answer with their help.
  std::replace(reversed.begin(), reversed.end(), std::string("/?"), std::string("--help"));
  try {
    parser.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.message = parser.help();
    return result;
  } catch (const CLI::CallForVersion&) {
    result.message = "update " UPDATE_VERSION "\nbuild " UPDATE_BUILD "\n";
    return result;
  } catch (const CLI::ParseError& error) {
    result.message = "update: " + std::string(error.what()) + "\n\n" + parser.help();
    result.exitCode = 2;
    return result;
  }

  // CLI11 gives the flag without "=N" the value "true": one simulated controller.
  std::optional<std::string> simulated;
  if (simulate->count() > 0) {
    simulated = simulateCount == "true" ? std::string() : simulateCount;
  }
  const auto access = platform::ChooseDeviceAccess(simulated, emulator, emulatorVariable);
  if (!access) {
    return refuse(access.error().message);
  }
  result.options.access = access.value();
  if (lang) {
    result.options.languageId = text::LanguageIdFromOption(*lang);
    if (!result.options.languageId) {
      return refuse("--lang " + *lang + ": give en or zh, or a locale name such as zh_CN");
    }
  }
  if (language) {
    result.options.languageId = language;
  }
  result.options.verbose = verbose;
  return result;
}

base::DebugSink DebugSinkFor(bool verbose) {
  base::DebugSink debugger = hid::windows::CreateDebuggerSink();
  const HANDLE output = verbose ? StandardError() : nullptr;
  if (output == nullptr) {
    return debugger;
  }
  return [debugger, output](std::string_view line) {
    debugger(line);
    WriteLine(output, line);
  };
}

int CUpdateApp::InitInstance() {
  auto platform = platform::CreateHidPlatform(m_Options.access);
  if (!platform) {
    ::MessageBoxW(nullptr, hid::windows::WideFromUtf8(platform.error().message).c_str(),
                  kProgramCaption, MB_OK);
    return 1;
  }
  DialogOptions options;
  options.languageId = m_Options.languageId;
  options.debug = DebugSinkFor(m_Options.verbose);
  // The dialog lives exactly as long as its modal run; its result is not used.
  CUpdateDlg dialog(platform.value(), std::move(options));
  return dialog.DoModal() == -1 ? 1 : 0;
}

}  // namespace win
