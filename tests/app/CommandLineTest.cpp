#include <gtest/gtest.h>

#include <QStringList>

#include "app/UpdateApp.h"
#include "platform/DeviceAccess.h"

namespace {

using platform::DeviceAccess;
using platform::DeviceAccessKind;

// What the arguments and UPDATE_EMULATOR choose, or the mistake they hold.
TEST(CommandLine, ChoosesTheWayToTheDevice) {
  const struct {
    QStringList arguments;
    std::optional<std::string> variable;
    std::optional<DeviceAccess> expected;  // nullopt: refused with exit code 2
  } cases[] = {
      {{}, std::nullopt, DeviceAccess{}},
      {{}, "", DeviceAccess{}},
      {{}, "/run/emu", DeviceAccess{DeviceAccessKind::kEmulator, "/run/emu"}},
      {{"--simulate"}, "/run/emu", DeviceAccess{DeviceAccessKind::kSimulated, ""}},
      {{"--simulate=4"}, std::nullopt, DeviceAccess{DeviceAccessKind::kSimulated, "", 4}},
      {{"--simulate=0"}, std::nullopt, std::nullopt},
      {{"--simulate=2x"}, std::nullopt, std::nullopt},
      {{"--emulator", "/tmp/a"}, "/run/emu", DeviceAccess{DeviceAccessKind::kEmulator, "/tmp/a"}},
      {{"--emulator=/tmp/b"}, std::nullopt, DeviceAccess{DeviceAccessKind::kEmulator, "/tmp/b"}},
      {{"--simulate", "--emulator", "/tmp/a"}, std::nullopt, std::nullopt},
      {{"--emulator="}, std::nullopt, std::nullopt},
      {{"--emulator"}, std::nullopt, std::nullopt},
      {{"--bogus"}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const app::CommandLine parsed =
        app::ParseCommandLine(QStringList{"update"} + c.arguments, c.variable);
    const std::string args = c.arguments.join(' ').toStdString();
    if (c.expected) {
      EXPECT_FALSE(parsed.output.has_value()) << args << ": " << *parsed.output;
      EXPECT_EQ(parsed.options.access, *c.expected) << args;
    } else {
      EXPECT_EQ(parsed.exitCode, 2) << args;
      EXPECT_TRUE(parsed.output.has_value()) << args;
    }
  }
}

TEST(CommandLine, TakesALanguageIdOrRefusesIt) {
  EXPECT_EQ(app::ParseCommandLine({"update", "--language", "2052"}, {}).options.languageId, 2052);
  EXPECT_FALSE(app::ParseCommandLine({"update"}, {}).options.languageId.has_value());
  for (const char* bad : {"zh_CN", "70000", "-1"}) {
    EXPECT_EQ(app::ParseCommandLine({"update", "--language", bad}, {}).exitCode, 2) << bad;
  }
  for (const char* option : {"--help", "--help-all"}) {
    const app::CommandLine help = app::ParseCommandLine({"/usr/bin/update", option}, {});
    EXPECT_EQ(help.exitCode, 0) << option;
    EXPECT_EQ(help.output.value_or("").rfind("Usage: update [options]\n", 0), 0u) << option;
    EXPECT_NE(help.output.value_or("").find("--simulate"), std::string::npos) << option;
  }
}

}  // namespace
