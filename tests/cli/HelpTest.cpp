// The help of every command, compared with the text kept beside this test. A change to
// an option or its help shows up here and in review; regenerate the files with
// UPDATE_REGENERATE_GOLDEN=1 after a deliberate change.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/cli/CliHarness.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Help, EveryCommandMatchesItsGoldenText) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
      {"update-cli", {"--help"}},
      {"devices", {"devices", "--help"}},
      {"flash", {"flash", "--help"}},
      {"doctor", {"doctor", "--help"}},
      {"image", {"image", "--help"}},
      {"image-inspect", {"image", "inspect", "--help"}},
      {"image-pack", {"image", "pack", "--help"}},
  };
  const bool regenerate = std::getenv("UPDATE_REGENERATE_GOLDEN") != nullptr;
  for (const auto& [name, arguments] : commands) {
    SCOPED_TRACE(name);
    cli_test::CCliHarness cli;
    const auto run = cli.Run(arguments);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    const std::string golden = std::string(UPDATE_CLI_GOLDEN_DIR) + "/" + name + ".txt";
    if (regenerate) {
      std::ofstream(golden, std::ios::binary) << run.out;
    }
    EXPECT_EQ(run.out, ReadFile(golden));
  }
}

// Each usage error names what was wrong, starts with "update-cli:" and points to the
// help of the command it was in.
TEST(Help, UsageErrorsNameWhatWasWrong) {
  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{},
       "no command given: the commands are devices, flash, doctor, image (see update-cli --help)"},
      {{"--frob", "devices"}, "unknown option --frob (see update-cli devices --help)"},
      {{"flash"}, "flash needs IMAGE (see update-cli flash --help)"},
      {{"image", "frob"},
       "unknown command \"frob\": the commands of image are inspect, pack (see update-cli image "
       "--help)"},
      {{"devices", "extra"}, "unexpected argument \"extra\" (see update-cli devices --help)"},
      {{"devices", "--trace"}, "--trace needs a value (see update-cli devices --help)"},
      {{"--simulate", "--emulator", "/tmp/x", "devices"},
       "--simulate and --emulator exclude each other: give one of them (see update-cli devices "
       "--help)"},
      {{"--lang", "xx", "devices"},
       "--lang xx: give en or zh, or a locale name such as zh_CN.UTF-8 (see update-cli --help)"},
      // Relative paths: on Windows a leading / marks an option.
      {{"image", "pack", "--type", "0x600A", "--version", "2.15", "nonexistent.bin", "-o", "x"},
       "the payload nonexistent.bin: " + std::string(std::strerror(ENOENT))},
      {{"image", "pack", "--type", "0x600A", "--version", "2.15", "--beta", "70000", "-o", "x",
        "payload.bin"},
       "--beta 70000: give a number from 0 to 65535"},
  };
  for (const auto& [arguments, message] : wrong) {
    cli_test::CCliHarness cli;
    const auto run = cli.Run(arguments);
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_EQ(run.err, "update-cli: " + message + "\n");
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
