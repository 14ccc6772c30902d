// The help of every command, compared with the text kept beside this test. A change to
// an option or its help shows up here and in review; regenerate the files with
// UPDATE_REGENERATE_GOLDEN=1 after a deliberate change.
#include <gtest/gtest.h>

#include <cstdlib>
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

TEST(Help, UsageErrorsExitWithTwoAndPointToHelp) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"flash"},
      {"image"},
      {"--simulate", "--emulator", "/tmp/x", "devices"},
      {"image", "pack", "--type", "0x600A", "--version", "2.15", "/nonexistent", "-o", "x"},
      {"image", "pack", "--type", "0x600A", "--version", "2.15", "--beta", "70000", "-o", "x",
       UPDATE_CLI_GOLDEN_DIR "/flash.txt"},
  };
  for (const auto& arguments : wrong) {
    cli_test::CCliHarness cli;
    const auto run = cli.Run(arguments);
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_NE(run.err.find("Run with --help for more information."), std::string::npos) << run.err;
  }
}

}  // namespace
