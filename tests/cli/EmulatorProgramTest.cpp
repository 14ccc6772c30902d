// update-cli as a user runs it, in a process of its own, against update-sim-emulator
// over the emulator socket (--emulator, UPDATE_EMULATOR). POSIX only, as the socket is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/cli/CliHarness.h"
#include "tests/support/ChildProcess.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using cli_test::CCliHarness;

struct Emulator : ::testing::Test {
  testing_support::CTempDir dir;
  std::string socket = (dir.Path() / "emu.sock").string();
  std::unique_ptr<testing_support::CChildProcess> emulator;

  void Start(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--socket", socket});
    emulator = std::make_unique<testing_support::CChildProcess>(UPDATE_SIM_EMULATOR, arguments);
    ASSERT_TRUE(emulator->Started());
    ASSERT_EQ(emulator->ReadLine(20s), "listening " + socket);
  }
};

// Runs update-cli with its output on a pipe; the exit code and everything it printed.
// With interruptAt, presses Ctrl-C (SIGINT) once that text has been printed.
cli_test::CliRun RunProgram(const std::vector<std::string>& arguments,
                            const std::string& interruptAt = {}) {
  cli_test::CliRun run;
  int out[2];
  if (pipe(out) != 0) {
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv = {const_cast<char*>(UPDATE_CLI)};
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, UPDATE_CLI, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  bool interrupted = interruptAt.empty();  // once only: a second Ctrl-C quits at once
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      kill(pid, SIGKILL);  // a hang fails the test instead of the suite
      break;
    }
    char chunk[512];
    const ssize_t got = read(out[0], chunk, sizeof chunk);
    if (got <= 0) {
      break;
    }
    run.out.append(chunk, static_cast<std::size_t>(got));
    if (!interrupted && run.out.find(interruptAt) != std::string::npos) {
      kill(pid, SIGINT);
      interrupted = true;
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(Emulator, FlashExactlyAsWrittenInTheReadme) {
  Start({"--reenumerate-ms", "300"});
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 40 + 1));
  const auto run = RunProgram({"flash", image, "--yes", "--emulator", socket});
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("Found emulator:" + socket + ": type 0x600A, firmware 2.14"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Writing: 100% (1841 of 1841 bytes)\n"), std::string::npos);
  EXPECT_NE(run.out.find("back in application mode with firmware 2.15."), std::string::npos);
}

TEST_F(Emulator, CtrlCStopsTheProgramAtABlockBoundary) {
  Start({"--latency-us", "2000"});
  const std::string image = cli_test::WriteImage(dir, "fw.dat", cli_test::Pattern(46 * 500));
  const auto run = RunProgram({"flash", image, "--yes", "--emulator", socket}, "Writing: 10%");
  EXPECT_EQ(run.code, 9) << run.out;
  EXPECT_NE(run.out.find("Stopping at the next block boundary"), std::string::npos);
  EXPECT_NE(run.out.find("update-cli: interrupted after block "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" of 500; the controller stays in boot mode"), std::string::npos);
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

}  // namespace
