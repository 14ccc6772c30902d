// update-cli.exe as people on Windows meet it, under wine: on a console (a pseudo
// console, with the program started by update-console-launcher as from a console
// window), with paths in Chinese and with accents, and the console left as it was found. The parts
// that a console alone decides are tested through their seams as well: which handles are terminals,
// and the stream that turns UTF-8 into whole UTF-16 characters. The pseudo console is declared for
// Windows 10 1809 on.
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
#include "base/ConsoleStreamWindows.h"
#include "cli/Messages.h"
#include "base/Terminal.h"
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
  std::wstring command =
      L"\"" + kLauncher + L"\" 936 \"" + reportPath + L"\" \"" + kProgram + L"\"";
  for (const std::wstring& word : arguments) {
    command += L" \"" + word + L"\"";
  }
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
  PROCESS_INFORMATION process{};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                       EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                       &process)) {
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

// On a console, with an image in a folder named as a Chinese user's are: the messages of
// po/zh_CN.po, one bar drawn in place within the console's 60 columns, a typed Chinese
// answer read and shown once, a name that is not there named whole, and afterwards the
// console's code pages as they were, after a success and after a failure alike. (Into
// pipes, as UTF-8: the CliProgram.Unicode tests.)
TEST(WindowsProgram, SpeaksChineseOnAConsoleAndLeavesItsCodePagesAsFound) {
  const std::filesystem::path image(kFolder + L"\\固件.dat");
  std::filesystem::create_directories(image.parent_path());
  const auto bytes = testing_support::ImageBytes(testing_support::Pattern(46 * 30));
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  const std::string console =
      RunOnConsole({L"--lang", L"zh", L"flash", image.wstring(), L"--simulate"}, "是\r");
  EXPECT_EQ(console.rfind("exit 0\ncode pages 936 936\n", 0), 0u) << console;
  EXPECT_EQ(LinesWith(console, "正在切换到 BOOT 模式...").size(), 1u) << console;
  EXPECT_TRUE(LinesWith(console, "写入：").empty()) << "plain progress lines\n" << console;
  const auto bar = LinesWith(console, "写入 [");
  ASSERT_EQ(bar.size(), 1u) << console;
  EXPECT_LT(cli::DisplayWidth(bar[0]), 60) << console;  // narrower than on 80 columns
  EXPECT_FALSE(Contains(console, "\n是\n")) << "the typed answer was echoed again\n" << console;

  const std::wstring missing = kFolder + L"\\不存在.dat";
  const std::string failed = RunOnConsole({L"--lang", L"zh", L"image", L"inspect", missing});
  EXPECT_EQ(failed.rfind("exit 5\ncode pages 936 936\n", 0), 0u) << failed;
  EXPECT_EQ(LinesWith(failed, "无法查看 " + Utf8FromWide(missing)).size(), 1u) << failed;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(kFolder), ignored);
}

TEST(WindowsTerminal, IsAConsoleOnlyWhereTheConsoleAnswers) {
  // NUL is a character device: the C runtime's isatty says yes to it.
  const int nul = ::_wopen(L"NUL", _O_WRONLY);
  ASSERT_NE(::_isatty(nul), 0);
  EXPECT_FALSE(base::IsTerminal(nul));
  ::_close(nul);

  int pipe[2] = {-1, -1};
  ASSERT_EQ(::_pipe(pipe, 256, _O_BINARY), 0);
  EXPECT_FALSE(base::IsTerminal(pipe[0]));
  EXPECT_FALSE(base::IsTerminal(pipe[1]));
  ::_close(pipe[0]);
  ::_close(pipe[1]);
}

// What a console receives: whole characters only, however the program's writes cut its
// UTF-8. (A pipe gets the bytes: see above.)
TEST(WindowsConsoleStream, WritesWholeCharactersToAConsole) {
  const std::string text = "固件 José ✓\n";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    std::wstring console;  // a character converted in two pieces would show as U+FFFD
    {
      base::CConsoleStreamBuf buffer(
          base::CConsoleStreamBuf::WideWriter([&](std::wstring_view part) { console += part; }));
      std::ostream(&buffer) << text.substr(0, cut) << std::flush << text.substr(cut);
    }
    EXPECT_EQ(console, L"固件 José ✓\n") << "cut after byte " << cut;
  }
}

}  // namespace
