// update-cli as a user runs it, in a process of its own: in a pipe, with stdout
// redirected, in a pseudo-terminal of a given width, in Chinese, and against
// update-sim-emulator over the emulator socket (--emulator, UPDATE_EMULATOR). POSIX only,
// as the socket and the pseudo-terminal are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>

#include "cli/Messages.h"
#include "tests/cli/CliHarness.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using cli_test::CCliHarness;
using cli_test::Contains;

// How a program is run: its arguments, what is typed into it, its language, and what is
// done to it once a text has been printed.
struct Invocation {
  std::vector<std::string> arguments;
  std::string input;                     // on a pipe; empty: /dev/null
  std::vector<std::string> environment;  // NAME=VALUE; the locale variables start unset
  std::optional<winsize> terminal;       // stdin, stdout and stderr on a pseudo-terminal
  std::string at;                        // once this has been printed, `then` is done
  std::function<void(pid_t pid, int terminal)> then = {};
  std::string program = UPDATE_CLI;
};

Invocation With(std::vector<std::string> arguments, std::string input = {},
                std::vector<std::string> environment = {}) {
  Invocation how;
  how.arguments = std::move(arguments);
  how.input = std::move(input);
  how.environment = std::move(environment);
  return how;
}

struct ProgramRun {
  int code = -1;
  std::string out;  // with a terminal: everything it showed there
  std::string err;
};

// The environment of this test with the locale variables taken out and the given ones
// put in, so that the language is the row's and not the machine's.
std::vector<std::string> EnvironmentFor(const std::vector<std::string>& extra) {
  std::vector<std::string> variables;
  for (char** each = environ; *each != nullptr; ++each) {
    const std::string variable = *each;
    bool locale = false;
    for (const char* name : {"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG="}) {
      locale = locale || variable.rfind(name, 0) == 0;
    }
    if (!locale) {
      variables.push_back(variable);
    }
  }
  variables.insert(variables.end(), extra.begin(), extra.end());
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& each : strings) {
    pointers.push_back(each.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Runs the program until it ends (a minute at most: a hang is killed and fails the test).
ProgramRun RunProgram(const Invocation& how) {
  ProgramRun run;
  std::vector<std::string> arguments = how.arguments;
  arguments.insert(arguments.begin(), how.program);
  std::vector<std::string> environment = EnvironmentFor(how.environment);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);

  pid_t pid = -1;
  int out = -1;
  int err = -1;
  if (how.terminal) {
    winsize size = *how.terminal;
    pid = forkpty(&out, nullptr, nullptr, &size);
    if (pid == 0) {
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  } else {
    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) {
      return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
    for (const int fd : {outPipe[0], errPipe[0], inPipe[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);
    // Short answers fit the pipe: written and closed before the program reads them.
    [[maybe_unused]] const auto written = write(inPipe[1], how.input.data(), how.input.size());
    close(inPipe[1]);
    out = outPipe[0];
    err = errPipe[0];
  }
  if (pid <= 0) {
    return run;
  }

  const auto deadline = std::chrono::steady_clock::now() + 60s;
  bool done = how.at.empty();
  std::string* shown[2] = {&run.out, &run.err};
  int fds[2] = {out, err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (left.count() <= 0 || poll(polled, 2, static_cast<int>(left.count())) <= 0) {
      kill(pid, SIGKILL);  // a hang fails the test instead of the suite
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k] < 0 || polled[k].revents == 0) {
        continue;
      }
      char chunk[512];
      const ssize_t got = read(fds[k], chunk, sizeof chunk);
      if (got <= 0) {  // the end; a pseudo-terminal's master reads EIO then
        close(fds[k]);
        fds[k] = -1;
        continue;
      }
      shown[k]->append(chunk, static_cast<std::size_t>(got));
    }
    if (!done && (run.out + run.err).find(how.at) != std::string::npos) {
      how.then(pid, out);
      done = true;
    }
  }
  for (const int fd : fds) {
    if (fd >= 0) {
      close(fd);
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// update-sim-emulator in the background from the moment it listens, ended with the test.
struct Emulator : ::testing::Test {
  testing_support::CTempDir dir;
  std::string socket = (dir.Path() / "emu.sock").string();
  std::future<ProgramRun> emulator;
  pid_t emulatorPid = -1;

  void Start(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--socket", socket});
    Invocation how = With(std::move(arguments));
    how.program = UPDATE_SIM_EMULATOR;
    how.at = "listening " + socket + "\n";
    auto listening = std::make_shared<std::promise<pid_t>>();
    how.then = [listening](pid_t pid, int) { listening->set_value(pid); };
    emulator = std::async(std::launch::async, RunProgram, how);
    auto pid = listening->get_future();
    ASSERT_EQ(pid.wait_for(20s), std::future_status::ready);
    emulatorPid = pid.get();
  }
  void TearDown() override {
    if (emulatorPid > 0) {
      kill(emulatorPid, SIGTERM);
    }
    if (emulator.valid()) {
      emulator.wait();
    }
  }
};

// One row per way a user meets the program: what it prints where, and its exit code.
TEST(Program, AnswersAsAUserExpects) {
  testing_support::CTempDir dir;
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 10));
  const std::string folder = dir.Path().string();
  struct Row {
    const char* name;
    Invocation how;
    int code;
    std::string out;  // a prefix of stdout (all of it when it ends in a line break)
    std::string err;  // a part of stderr
  };
  const std::string back = "The controller is back in application mode with firmware 2.15.\n";
  const Row rows[] = {
      {"an answer from a pipe, stdout redirected", With({"flash", image, "--simulate"}, "y\n"), 0,
       back, "New firmware 2.15 and current is 2.14 [y/N] y\nSwitching to boot mode...\n"},
      {"--version", With({"--version"}), 0, "update-cli 2.15.0\nbuild ", ""},
      {"-V", With({"-V", "devices"}), 0, "update-cli 2.15.0\nbuild ", ""},
      {"--json with a usage error", With({"--json", "bogus"}), 2,
       "{\n  \"error\": {\n    \"kind\": \"usage\",\n    \"exitCode\": 2,",
       "update-cli: unknown command \"bogus\""},
      {"LANG=zh_CN.UTF-8", With({"bogus"}, "", {"LANG=zh_CN.UTF-8"}), 2, "",
       "update-cli: 未知的命令“bogus”：可用的命令有 devices, flash, doctor, image（见 update-cli "
       "--help）\n"},
      {"--lang zh over LANG=en_US.UTF-8",
       With({"flash", image, "--simulate", "--yes", "--lang", "zh"}, "", {"LANG=en_US.UTF-8"}), 0,
       "手柄已回到应用模式，固件版本为 2.15。\n",
       "升级新固件 2.15 当前版本为 2.14 [是(y)/否(N)] 是 (--yes)\n正在切换到 BOOT 模式..."},
      {"flash --all in Chinese",
       With({"flash", image, "--all", "--simulate=2"}, "y\n", {"LANG=zh_CN.UTF-8"}), 0,
       "已更新 2 个，失败 0 个，跳过 0 个。\n", "将这 2 个手柄更新到固件 2.15？ [是(y)/否(N)] y\n"},
      {"a folder as the output",
       With({"image", "pack", "--type", "0x600A", "--version", "2.15", image, "-o", folder}), 1, "",
       "update-cli: cannot write " + folder + ": Is a directory\n"},
      {"--device naming none", With({"devices", "--simulate", "--device", "sim:1"}), 3,
       "sim:0  application mode  type 0x600A  firmware 2.14\n",
       "update-cli: no controller at sim:1 (present: sim:0)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ProgramRun run = RunProgram(row.how);
    EXPECT_EQ(run.code, row.code) << run.err;
    if (!row.out.empty() && row.out.back() == '\n') {
      EXPECT_EQ(run.out, row.out);
    } else {
      EXPECT_EQ(run.out.rfind(row.out, 0), 0u) << run.out;
    }
    EXPECT_TRUE(Contains(run.err, row.err)) << run.err;
  }
}

// The help in Chinese is Chinese throughout: the parser's own words too (its headings
// and markers), in the help of every command. The names of options and of the values
// to type (PATH, FILE, TEXT) stay as they are. Each description starts at the 31st
// column, also after a Chinese word, which takes two columns a character.
TEST(Program, TheHelpInChineseKeepsNoEnglishHeadingOrMarker) {
  const std::vector<std::vector<std::string>> helps = {
      {"--help"},          {"devices", "--help"},          {"flash", "--help"},
      {"image", "--help"}, {"image", "inspect", "--help"}, {"image", "pack", "--help"}};
  for (std::vector<std::string> arguments : helps) {
    SCOPED_TRACE(arguments.front());
    arguments.insert(arguments.end(), {"--lang", "zh"});
    const ProgramRun run = RunProgram(With(arguments));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "\n用法: update-cli ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "\n选项:\n  -h,--help ")) << run.out;
    for (const char* english : {"Usage", "Options", "OPTIONS", "Positionals", "REQUIRED",
                                "Excludes", "Subcommands", "SUBCOMMAND", "Needs", "Env:"}) {
      EXPECT_FALSE(Contains(run.out, english)) << english << " in\n" << run.out;
    }
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      const auto gap = line.find("  ", 2);
      if (line.rfind("  ", 0) != 0 || line[2] == ' ' || gap == std::string::npos) {
        continue;  // not an option's line, or one whose description is on the next
      }
      EXPECT_EQ(cli::DisplayWidth(line.substr(0, line.find_first_not_of(' ', gap))), 30) << line;
    }
  }
}

// In a terminal 50 columns wide the bar is one line redrawn in place, never wider than
// the terminal; narrowed to 40 columns while it is drawn, it follows.
TEST_F(Emulator, TheProgressBarFitsTheTerminalAndFollowsItsWidth) {
  Start({"--latency-us", "2000"});
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 400));
  Invocation how = With({"flash", image, "--yes", "--emulator", socket});
  how.terminal = winsize{24, 50, 0, 0};
  how.at = "Writing [";
  how.then = [](pid_t, int terminal) {
    const winsize narrower{24, 40, 0, 0};
    ioctl(terminal, TIOCSWINSZ, &narrower);
  };
  const ProgramRun run = RunProgram(how);
  ASSERT_EQ(run.code, 0) << run.out;
  std::string shown;  // the terminal turns each line break into \r\n
  for (std::size_t i = 0; i < run.out.size(); ++i) {
    if (!(run.out[i] == '\r' && i + 1 < run.out.size() && run.out[i + 1] == '\n')) {
      shown += run.out[i];
    }
  }
  const auto first = shown.find("Writing [");
  const auto end = shown.find("Verifying...");
  ASSERT_NE(first, std::string::npos) << shown;
  ASSERT_NE(end, std::string::npos) << shown;
  const std::string bar = shown.substr(first, end - first);
  EXPECT_EQ(std::count(bar.begin(), bar.end(), '\n'), 1) << bar;  // the bar's own line end
  std::vector<std::string> drawn;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= bar.size(); ++at) {
    if (at == bar.size() || bar[at] == '\r' || bar[at] == '\n') {
      if (at > start) {
        drawn.push_back(bar.substr(start, at - start));
      }
      start = at + 1;
    }
  }
  ASSERT_GT(drawn.size(), 2u);
  for (const std::string& each : drawn) {
    EXPECT_LT(cli::DisplayWidth(each), 50) << each;
  }
  EXPECT_TRUE(Contains(drawn.back(), "100%")) << drawn.back();
  EXPECT_LT(cli::DisplayWidth(drawn.back()), 40) << drawn.back();
}

// What a terminal `columns` wide shows after `shown`, row by row: a character that
// would pass the right edge starts the next row (the cursor waits on the last column
// until then), \r goes back to the row's start, \n one row down.
std::vector<std::string> ScreenRows(const std::string& shown, int columns) {
  std::vector<std::vector<std::string>> cells(1);
  std::size_t row = 0;
  int column = 0;
  bool wrapNext = false;
  for (std::size_t i = 0; i < shown.size();) {
    const auto lead = static_cast<unsigned char>(shown[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::string character = shown.substr(i, length);
    i += length;
    if (character == "\r") {
      column = 0;
      wrapNext = false;
    } else if (character == "\n") {
      ++row;
      wrapNext = false;
    } else if (lead >= 0x20) {
      const int width = cli::DisplayWidth(character);
      if (wrapNext || column + width > columns) {
        ++row;
        column = 0;
        wrapNext = false;
      }
      if (cells.size() <= row) {
        cells.resize(row + 1);
      }
      std::vector<std::string>& line = cells[row];
      line.resize(std::max<std::size_t>(line.size(), static_cast<std::size_t>(column + width)),
                  " ");
      line[static_cast<std::size_t>(column)] = character;
      if (width == 2) {
        line[static_cast<std::size_t>(column) + 1] = "";
      }
      column += width;
      wrapNext = column >= columns;
      column = std::min(column, columns - 1);
    }
    if (cells.size() <= row) {
      cells.resize(row + 1);
    }
  }
  std::vector<std::string> rows;
  for (const auto& line : cells) {
    std::string text;
    for (const std::string& each : line) {
      text += each;
    }
    rows.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
  }
  return rows;
}

// Ctrl-C typed at a terminal while the bar is drawn, at several widths: the terminal
// echoes "^C" after the bar, and the program stops. What the screen then shows is the
// bar on one row, the message that the run is stopping on the next, and no other bar:
// neither the row of a bar that the echo wrapped, nor a bar drawn after the message.
TEST_F(Emulator, CtrlCWhileTheBarIsDrawnLeavesNoStaleBarAtAnyWidth) {
  Start({"--latency-us", "2000"});
  struct Row {
    unsigned short columns;
    int blocks;
    const char* at;  // Ctrl-C once this is drawn
  };
  const Row cases[] = {
      // The line at its widest ("230 bytes of 22.5 KiB"), up to the terminal's edge.
      {50, 500, "  1%"},
      {51, 500, "  1%"},
      {80, 500, "  1%"},
      // Each block a new percentage, drawn at once: also the block confirmed after Ctrl-C.
      {50, 40, "  5%"},
      {80, 40, "  5%"},
  };
  for (const Row& row : cases) {
    SCOPED_TRACE(std::to_string(row.columns) + " columns, " + std::to_string(row.blocks) +
                 " blocks");
    const std::string image = cli_test::WriteImage(dir, "fw" + std::to_string(row.blocks) + ".dat",
                                                   cli_test::Pattern(46 * row.blocks));
    Invocation how = With({"flash", image, "--yes", "--emulator", socket});
    how.terminal = winsize{24, row.columns, 0, 0};
    how.at = row.at;
    how.then = [](pid_t, int terminal) {
      const char ctrlC = 0x03;  // typed: the terminal echoes it and sends SIGINT
      ASSERT_EQ(write(terminal, &ctrlC, 1), 1);
    };
    const ProgramRun run = RunProgram(how);
    EXPECT_EQ(run.code, 9) << run.out;
    const std::vector<std::string> lines = ScreenRows(run.out, row.columns);
    std::string screen;
    for (const std::string& line : lines) {
      screen += "|" + line + "|\n";
    }
    std::vector<std::size_t> bars;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (Contains(lines[k], "Writing [")) {
        bars.push_back(k);
      }
    }
    ASSERT_EQ(bars.size(), 1u) << screen;
    ASSERT_LT(bars[0] + 1, lines.size()) << screen;
    EXPECT_EQ(lines[bars[0] + 1].rfind("Stopping at the next block boundary", 0), 0u) << screen;
  }
}

// A request to end (SIGTERM) stops at a block boundary as Ctrl-C does (typed at a
// terminal above), but is not called Ctrl-C.
TEST_F(Emulator, ARequestToEndStopsTheProgramAtABlockBoundary) {
  Start({"--latency-us", "2000"});
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 500));
  Invocation how = With({"flash", image, "--yes", "--emulator", socket});
  how.at = "Writing: 10%";
  how.then = [](pid_t pid, int) { kill(pid, SIGTERM); };
  const auto run = RunProgram(how);
  EXPECT_EQ(run.code, 9) << run.err;
  EXPECT_TRUE(Contains(run.err, "Asked to end: stopping at the next block boundary...")) << run.err;
  EXPECT_FALSE(Contains(run.err, "Ctrl-C")) << run.err;
  EXPECT_TRUE(Contains(run.err, "update-cli: interrupted after block ")) << run.err;
  EXPECT_TRUE(Contains(run.err, " of 500; the controller stays in boot mode"));
}

TEST_F(Emulator, TheEnvironmentVariableChoosesItAndAMissingOneIsNamed) {
  Start({"--boot"});
  CCliHarness cli;
  cli.ownPlatforms = true;
  cli.environment["UPDATE_EMULATOR"] = socket;
  const auto listed = cli.Run({"devices"});
  EXPECT_EQ(listed.code, 0) << listed.err;
  EXPECT_EQ(listed.out, "emulator:" + socket + "  boot mode  type 0x600A\n");

  const std::string missing = (dir.Path() / "nobody.sock").string();
  const auto absent = cli.Run({"devices", "--emulator", missing});
  EXPECT_EQ(absent.code, 3);
  EXPECT_EQ(absent.err.rfind("update-cli: cannot reach the emulator: ", 0), 0u) << absent.err;
  EXPECT_NE(absent.err.find(missing), std::string::npos);
}

// update-sim-emulator: its help; one program after another, a second one told that it
// is busy; a socket another one serves left alone.
TEST_F(Emulator, TheEmulatorServesOneProgramAtATimeAndKeepsItsSocket) {
  Invocation helpAsked = With({"--help"});
  helpAsked.program = UPDATE_SIM_EMULATOR;
  const ProgramRun help = RunProgram(helpAsked);
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: update-sim-emulator --socket PATH", 0), 0u) << help.out;

  Start({"--latency-us", "2000"});
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 300));
  // While a flash holds the emulator, devices is told that it is busy.
  ProgramRun second;
  Invocation flash = With({"flash", image, "--yes", "--emulator", socket});
  flash.at = "Writing: 10%";
  flash.then = [&](pid_t, int) { second = RunProgram(With({"devices", "--emulator", socket})); };
  const ProgramRun first = RunProgram(flash);
  EXPECT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(second.code, 3) << second.err;
  EXPECT_TRUE(Contains(second.err, "the emulator is serving another program (one at a time)"))
      << second.err;
  // Served again now that the flash has ended.
  EXPECT_EQ(RunProgram(With({"devices", "--emulator", socket})).code, 0);

  Invocation rival = With({"--socket", socket});
  rival.program = UPDATE_SIM_EMULATOR;
  const ProgramRun refused = RunProgram(rival);
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(Contains(refused.err, socket + ": another emulator is serving it")) << refused.err;
  EXPECT_TRUE(std::filesystem::exists(socket));
}

}  // namespace
