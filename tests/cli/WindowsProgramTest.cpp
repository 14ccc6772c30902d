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

std::wstring CommandLine(const std::vector<std::wstring>& words) {
  std::wstring line;
  for (const std::wstring& word : words) {
    line += (line.empty() ? L"\"" : L" \"") + word + L"\"";
  }
  return line;
}

// Reads a pipe to its end on a thread of its own.
class CPipeReader {
 public:
  explicit CPipeReader(HANDLE pipe)
      : m_Thread([this, pipe] {
          char buffer[4096];
          DWORD got = 0;
          while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            m_Text.append(buffer, got);
          }
          ::CloseHandle(pipe);
        }) {}
  std::string Join() {
    m_Thread.join();
    return m_Text;
  }

 private:
  std::string m_Text;
  std::thread m_Thread;
};

struct ProgramRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

// update-cli.exe with its output and errors into pipes and no input.
ProgramRun RunWithPipes(const std::vector<std::wstring>& arguments) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  ::CreatePipe(&outRead, &outWrite, &inherited, 0);
  ::CreatePipe(&errRead, &errWrite, &inherited, 0);
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  const HANDLE nothing =
      ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::vector<std::wstring> words{kProgram};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::wstring command = CommandLine(words);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  ::CloseHandle(nothing);
  CPipeReader out(outRead);
  CPipeReader err(errRead);
  ProgramRun run;
  if (started && ::WaitForSingleObject(process.hProcess, kBoundMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  } else if (started) {
    ::TerminateProcess(process.hProcess, 1);
  }
  run.out = out.Join();
  run.err = err.Join();
  if (started) {
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  }
  return run;
}

struct ConsoleRun {
  std::string report;  // the launcher's: exit code, code pages, then the screen
  std::vector<std::string> screen;
  std::string exit;
  std::string codePages;
};

// update-cli.exe on a console of 100 columns whose code pages are 936 (a Chinese
// Windows'), as typed at a prompt; answer is typed once its question shows.
ConsoleRun RunOnConsole(const std::vector<std::wstring>& arguments,
                        const std::string& answer = {}) {
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  ::CreatePipe(&inRead, &inWrite, nullptr, 0);
  ::CreatePipe(&outRead, &outWrite, nullptr, 0);
  HPCON console = nullptr;
  if (FAILED(::CreatePseudoConsole(COORD{100, 50}, inRead, outWrite, 0, &console))) {
    ConsoleRun none;
    none.report = "no pseudo console";
    return none;
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
  std::wstring command = CommandLine(words);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                        EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                        &startup.StartupInfo, &process);

  // What the console shows goes out as UTF-8 with terminal sequences: read to keep it
  // flowing, and to see when the question is asked.
  std::thread reader([outRead, inWrite, answer] {
    std::string shown;
    bool answered = answer.empty();
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      shown.append(buffer, got);
      if (!answered && shown.find("[y/N]") != std::string::npos) {
        DWORD written = 0;
        ::WriteFile(inWrite, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
        answered = true;
      }
    }
  });
  if (started) {
    if (::WaitForSingleObject(process.hProcess, kBoundMs) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  }
  ::ClosePseudoConsole(console);
  reader.join();
  ::CloseHandle(outRead);
  ::CloseHandle(inWrite);

  ConsoleRun run;
  std::ifstream file(std::filesystem::path(reportPath), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  run.report = text.str();
  file.close();
  ::DeleteFileW(reportPath.c_str());
  std::istringstream lines(run.report);
  std::getline(lines, run.exit);
  std::getline(lines, run.codePages);
  for (std::string line; std::getline(lines, line);) {
    run.screen.push_back(line);
  }
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int CountLines(const std::vector<std::string>& screen, const std::string& part) {
  return static_cast<int>(std::count_if(
      screen.begin(), screen.end(), [&](const std::string& line) { return Contains(line, part); }));
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
  ASSERT_EQ(pack.exitCode, 0u) << pack.err;
  // Into a pipe the program's UTF-8 goes as it is.
  EXPECT_TRUE(Contains(pack.out, "Wrote " + imageUtf8 + ": type 0x600A")) << pack.out;

  const ProgramRun inspect = RunWithPipes({L"image", L"inspect", image});
  EXPECT_EQ(inspect.exitCode, 0u) << inspect.err;
  EXPECT_TRUE(Contains(inspect.out, imageUtf8)) << inspect.out;

  const std::wstring trace = Path(L"跟踪.jsonl");
  const ProgramRun flash =
      RunWithPipes({L"flash", image, L"--simulate", L"--yes", L"--trace", trace});
  EXPECT_EQ(flash.exitCode, 0u) << flash.err;
  EXPECT_TRUE(Contains(flash.out, "back in application mode with firmware 2.15")) << flash.out;
  EXPECT_TRUE(std::filesystem::file_size(std::filesystem::path(trace)) > 0);

  // A name that is not there is named as it was given.
  const std::wstring missing = Path(L"不存在.dat");
  for (const auto& words :
       {std::vector<std::wstring>{L"image", L"inspect", missing},
        std::vector<std::wstring>{L"flash", missing, L"--simulate", L"--yes"}}) {
    const ProgramRun refused = RunWithPipes(words);
    EXPECT_EQ(refused.exitCode, 5u);
    EXPECT_TRUE(Contains(refused.err, Utf8FromWide(missing))) << refused.err;
  }

  const ProgramRun help = RunWithPipes({L"/?"});
  EXPECT_EQ(help.exitCode, 0u);
  EXPECT_TRUE(Contains(help.out, "Usage")) << help.out;
}

// On a console: the messages of po/zh_CN.po, whole characters, one bar drawn in place
// within the console's 100 columns, a typed answer shown once, and afterwards the
// console's code pages as they were, after a success and after a failure alike.
TEST_F(WindowsProgram, SpeaksChineseOnAConsoleAndLeavesItsCodePagesAsFound) {
  const std::wstring image = Path(L"固件.dat");
  ASSERT_EQ(RunWithPipes({L"image", L"pack", L"--type", L"0x600A", L"--version", L"2.15",
                          Path(L"载荷.bin"), L"-o", image})
                .exitCode,
            0u);

  const ConsoleRun flash = RunOnConsole({L"--lang", L"zh", L"flash", image, L"--simulate"}, "y\r");
  EXPECT_EQ(flash.exit, "exit 0") << flash.report;
  EXPECT_EQ(flash.codePages, "code pages 936 936") << flash.report;
  EXPECT_EQ(CountLines(flash.screen, "正在切换到 BOOT 模式..."), 1) << flash.report;
  EXPECT_EQ(CountLines(flash.screen, "写入 ["), 1) << flash.report;
  EXPECT_EQ(CountLines(flash.screen, "写入："), 0) << "plain progress lines\n" << flash.report;
  for (const std::string& line : flash.screen) {
    EXPECT_NE(line, "y") << "the typed answer was echoed again\n" << flash.report;
  }

  const std::wstring missing = Path(L"不存在.dat");
  const ConsoleRun refused = RunOnConsole({L"--lang", L"zh", L"image", L"inspect", missing});
  EXPECT_EQ(refused.exit, "exit 5") << refused.report;
  EXPECT_EQ(refused.codePages, "code pages 936 936") << refused.report;
  EXPECT_EQ(CountLines(refused.screen, "无法查看 " + Utf8FromWide(missing)), 1) << refused.report;
}

TEST(WindowsTerminal, IsAConsoleOnlyWhereTheConsoleAnswers) {
  // NUL is a character device: the C runtime's isatty says yes to it.
  const int nul = ::_wopen(L"NUL", _O_WRONLY);
  ASSERT_GE(nul, 0);
  EXPECT_NE(::_isatty(nul), 0);
  EXPECT_FALSE(cli::IsTerminal(nul));
  EXPECT_EQ(cli::TerminalColumns(nul), 0);
  ::_close(nul);

  int pipe[2] = {-1, -1};
  ASSERT_EQ(::_pipe(pipe, 256, _O_BINARY), 0);
  EXPECT_FALSE(cli::IsTerminal(pipe[0]));
  EXPECT_FALSE(cli::IsTerminal(pipe[1]));
  ::_close(pipe[0]);
  ::_close(pipe[1]);
  EXPECT_FALSE(cli::IsConsole(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(cli::IsConsole(nullptr));
}

// What a console receives: whole characters only, however the program's writes cut its
// UTF-8, and U+FFFD for bytes that are no UTF-8; a file the bytes as they are.
TEST(WindowsConsoleStream, WritesWholeCharactersToAConsoleAndBytesToAFile) {
  const std::string text = "固件 José ✓\n";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    std::wstring console;
    std::vector<std::wstring> writes;
    {
      cli::CConsoleStreamBuf buffer(cli::CConsoleStreamBuf::WideWriter(
          [&](std::wstring_view part) { writes.emplace_back(part); }));
      std::ostream stream(&buffer);
      stream << text.substr(0, cut) << std::flush << text.substr(cut) << std::flush;
    }
    for (const std::wstring& part : writes) {
      console += part;
    }
    EXPECT_EQ(console, L"固件 José ✓\n") << "cut after byte " << cut;
    EXPECT_EQ(console.find(L'\xFFFD'), std::wstring::npos);
  }

  std::wstring broken;
  {
    cli::CConsoleStreamBuf buffer(
        cli::CConsoleStreamBuf::WideWriter([&](std::wstring_view part) { broken += part; }));
    std::ostream(&buffer) << "a\xE5\x9B";  // the program ends inside a character
  }
  EXPECT_EQ(broken, L"a\xFFFD");

  std::string file;
  {
    cli::CConsoleStreamBuf buffer(
        cli::CConsoleStreamBuf::ByteWriter([&](std::string_view bytes) { file += bytes; }));
    std::ostream(&buffer) << text.substr(0, 2) << std::flush << text.substr(2);
  }
  EXPECT_EQ(file, text);
}

}  // namespace
