// update-cli.exe as people on Windows meet it, under wine: paths in Chinese and with
// accents through every command, its output on a console (a pseudo console, with the
// program started by update-console-launcher as from a console window) and into pipes,
// and the console left as it was found. The parts that a console alone decides are
// tested through their seams as well: which handles are terminals, and the stream that
// turns UTF-8 into whole UTF-16 characters.
// The pseudo console is declared for Windows 10 1809 on.
#define NTDDI_VERSION 0x0A000006
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/FilePath.h"
#include "base/WideText.h"
#include "cli/ConsoleStreamWindows.h"
#include "cli/Messages.h"
#include "cli/Terminal.h"
#include "tests/support/Images.h"

namespace {

using base::Utf8FromWide;
using base::WideFromUtf8;

// A Windows path for a path of the build machine: wine's Z: drive is its root.
std::wstring DosPath(const char* unixPath) {
  std::wstring path = L"Z:" + WideFromUtf8(unixPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

const std::wstring kProgram = DosPath(UPDATE_CLI);
const std::wstring kLauncher = DosPath(UPDATE_CONSOLE_LAUNCHER);
constexpr DWORD kBoundMs = 60000;

// The folder of this test's files, named as a Chinese user's folders are.
const std::wstring kFolder = L"C:\\用户\\José\\update-cli";

// Starts the program (or the launcher, then the program) with these words; its exit
// code once it has ended, within a bound.
DWORD Run(std::vector<std::wstring> words, STARTUPINFOW& startup, DWORD flags, bool inherit) {
  std::wstring command;
  for (const std::wstring& word : words) {
    command += (command.empty() ? L"\"" : L" \"") + word + L"\"";
  }
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                        &startup, &process)) {
    return 0xFFFFFFFF;
  }
  DWORD exitCode = 0xFFFFFFFF;
  if (::WaitForSingleObject(process.hProcess, kBoundMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &exitCode);
  } else {
    ::TerminateProcess(process.hProcess, 1);
  }
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return exitCode;
}

struct ProgramRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr
};

// update-cli.exe with its output and errors into a pipe, and no input.
ProgramRun RunWithPipes(const std::vector<std::wstring>& arguments) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  ::CreatePipe(&read, &write, &inherited, 0);
  const HANDLE nothing =
      ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
  ProgramRun run;
  std::thread reader([read, &run] {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      run.output.append(buffer, got);
    }
  });
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = startup.hStdError = write;
  std::vector<std::wstring> words{kProgram};
  words.insert(words.end(), arguments.begin(), arguments.end());
  const DWORD exitCode = Run(words, startup, 0, true);
  ::CloseHandle(write);
  ::CloseHandle(nothing);
  reader.join();
  ::CloseHandle(read);
  run.exitCode = exitCode;
  return run;
}

// update-cli.exe on a console of 60 columns whose code pages are 936 (a Chinese
// Windows'), as typed at a prompt; answer is typed once its question shows. The
// launcher's report: "exit N", "code pages IN OUT", then the screen's lines.
std::string RunOnConsole(const std::vector<std::wstring>& arguments,
                         const std::string& answer = {}) {
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  ::CreatePipe(&inRead, &inWrite, nullptr, 0);
  ::CreatePipe(&outRead, &outWrite, nullptr, 0);
  HPCON console = nullptr;
  if (FAILED(::CreatePseudoConsole(COORD{60, 50}, inRead, outWrite, 0, &console))) {
    return "no pseudo console";
  }
  ::CloseHandle(inRead);
  ::CloseHandle(outWrite);

  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  ::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
  ::UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE,
                              console, sizeof console, nullptr, nullptr);
  wchar_t temporary[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temporary);
  const std::wstring reportPath =
      std::wstring(temporary) + L"console-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  std::vector<std::wstring> words{kLauncher, L"936", reportPath, kProgram};
  words.insert(words.end(), arguments.begin(), arguments.end());
  // The screen goes out as UTF-8 with terminal sequences: read to keep it flowing, and
  // to see when the question is asked.
  std::thread reader([outRead, inWrite, answer] {
    std::string shown;
    bool answered = answer.empty();
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      shown.append(buffer, got);
      if (!answered && shown.find("(N)]") != std::string::npos) {
        DWORD written = 0;
        ::WriteFile(inWrite, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
        answered = true;
      }
    }
  });
  Run(words, startup.StartupInfo, EXTENDED_STARTUPINFO_PRESENT, false);
  ::ClosePseudoConsole(console);
  reader.join();
  ::CloseHandle(outRead);
  ::CloseHandle(inWrite);

  std::ifstream file(std::filesystem::path(reportPath), std::ios::binary);
  std::stringstream report;
  report << file.rdbuf();
  file.close();
  ::DeleteFileW(reportPath.c_str());
  return report.str();
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> LinesWith(const std::string& report, const std::string& part) {
  std::istringstream lines(report);
  std::vector<std::string> found;
  for (std::string line; std::getline(lines, line);) {
    if (Contains(line, part)) {
      found.push_back(line);
    }
  }
  return found;
}

// Writes this test's files into the Chinese folder and takes them away afterwards.
class WindowsProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(std::filesystem::path(kFolder));
    const auto payload = testing_support::Pattern(46 * 30);
    std::ofstream(std::filesystem::path(Path(L"载荷.bin")), std::ios::binary)
        .write(reinterpret_cast<const char*>(payload.data()),
               static_cast<std::streamsize>(payload.size()));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(kFolder), ignored);
  }
  static std::wstring Path(const std::wstring& name) { return kFolder + L"\\" + name; }
};

TEST_F(WindowsProgram, PacksInspectsFlashesAndTracesImagesInAChineseFolder) {
  const std::wstring image = Path(L"固件.dat");
  const std::string imageUtf8 = Utf8FromWide(image);
  const ProgramRun pack = RunWithPipes({L"image", L"pack", L"--type", L"0x600A", L"--version",
                                        L"2.15", Path(L"载荷.bin"), L"-o", image});
  ASSERT_EQ(pack.exitCode, 0u) << pack.output;
  // Into a pipe the program's UTF-8 goes as it is.
  EXPECT_TRUE(Contains(pack.output, "Wrote " + imageUtf8 + ": type 0x600A")) << pack.output;

  const ProgramRun inspect = RunWithPipes({L"image", L"inspect", image});
  EXPECT_EQ(inspect.exitCode, 0u) << inspect.output;
  EXPECT_TRUE(Contains(inspect.output, imageUtf8)) << inspect.output;

  const std::wstring trace = Path(L"跟踪.jsonl");
  const ProgramRun flash =
      RunWithPipes({L"flash", image, L"--simulate", L"--yes", L"--trace", trace});
  EXPECT_EQ(flash.exitCode, 0u) << flash.output;
  EXPECT_TRUE(Contains(flash.output, "back in application mode with firmware 2.15"))
      << flash.output;
  EXPECT_TRUE(std::filesystem::file_size(std::filesystem::path(trace)) > 0);

  // A name that is not there is named as it was given.
  const std::wstring missing = Path(L"不存在.dat");
  for (const auto& words :
       {std::vector<std::wstring>{L"image", L"inspect", missing},
        std::vector<std::wstring>{L"flash", missing, L"--simulate", L"--yes"}}) {
    const ProgramRun refused = RunWithPipes(words);
    EXPECT_EQ(refused.exitCode, 5u);
    EXPECT_TRUE(Contains(refused.output, Utf8FromWide(missing))) << refused.output;
  }

  const ProgramRun help = RunWithPipes({L"/?"});
  EXPECT_EQ(help.exitCode, 0u);
  EXPECT_TRUE(Contains(help.output, "Usage")) << help.output;
}

// On a console: the messages of po/zh_CN.po, whole characters, one bar drawn in place
// within the console's 60 columns, a typed answer shown once, and afterwards the
// console's code pages as they were, after a success and after a failure alike.
TEST_F(WindowsProgram, SpeaksChineseOnAConsoleAndLeavesItsCodePagesAsFound) {
  const std::wstring image = Path(L"固件.dat");
  ASSERT_EQ(RunWithPipes({L"image", L"pack", L"--type", L"0x600A", L"--version", L"2.15",
                          Path(L"载荷.bin"), L"-o", image})
                .exitCode,
            0u);

  const std::string flash =
      RunOnConsole({L"--lang", L"zh", L"flash", image, L"--simulate"}, "是\r");
  EXPECT_EQ(flash.rfind("exit 0\ncode pages 936 936\n", 0), 0u) << flash;
  EXPECT_EQ(LinesWith(flash, "正在切换到 BOOT 模式...").size(), 1u) << flash;
  EXPECT_TRUE(LinesWith(flash, "写入：").empty()) << "plain progress lines\n" << flash;
  const auto bar = LinesWith(flash, "写入 [");
  ASSERT_EQ(bar.size(), 1u) << flash;
  EXPECT_LT(cli::DisplayWidth(bar[0]), 60) << flash;  // narrower than on 80 columns
  EXPECT_FALSE(Contains(flash, "\n是\n")) << "the typed answer was echoed again\n" << flash;

  const std::wstring missing = Path(L"不存在.dat");
  const std::string refused = RunOnConsole({L"--lang", L"zh", L"image", L"inspect", missing});
  EXPECT_EQ(refused.rfind("exit 5\ncode pages 936 936\n", 0), 0u) << refused;
  EXPECT_EQ(LinesWith(refused, "无法查看 " + Utf8FromWide(missing)).size(), 1u) << refused;
}

TEST(WindowsTerminal, IsAConsoleOnlyWhereTheConsoleAnswers) {
  // NUL is a character device: the C runtime's isatty says yes to it.
  const int nul = ::_wopen(L"NUL", _O_WRONLY);
  ASSERT_GE(nul, 0);
  EXPECT_NE(::_isatty(nul), 0);
  EXPECT_FALSE(cli::IsTerminal(nul));
  ::_close(nul);

  int pipe[2] = {-1, -1};
  ASSERT_EQ(::_pipe(pipe, 256, _O_BINARY), 0);
  EXPECT_FALSE(cli::IsTerminal(pipe[0]));
  EXPECT_FALSE(cli::IsTerminal(pipe[1]));
  ::_close(pipe[0]);
  ::_close(pipe[1]);
}

// What a console receives: whole characters only, however the program's writes cut its
// UTF-8, and U+FFFD for bytes that are no UTF-8. (A pipe gets the bytes: see above.)
TEST(WindowsConsoleStream, WritesWholeCharactersToAConsole) {
  const std::string text = "固件 José ✓\n";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    std::wstring console;  // a character converted in two pieces would show as U+FFFD
    {
      cli::CConsoleStreamBuf buffer(
          cli::CConsoleStreamBuf::WideWriter([&](std::wstring_view part) { console += part; }));
      std::ostream stream(&buffer);
      stream << text.substr(0, cut) << std::flush << text.substr(cut) << std::flush;
    }
    EXPECT_EQ(console, L"固件 José ✓\n") << "cut after byte " << cut;
  }

  std::wstring broken;
  {
    cli::CConsoleStreamBuf buffer(
        cli::CConsoleStreamBuf::WideWriter([&](std::wstring_view part) { broken += part; }));
    std::ostream(&buffer) << "a\xE5\x9B";  // the program ends inside a character
  }
  EXPECT_EQ(broken, L"a\xFFFD");
}

}  // namespace
