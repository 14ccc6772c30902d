#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include "app/UpdateApp.h"
#include "platform/DeviceAccess.h"

namespace {

using platform::DeviceAccess;

const QString kThisFile = QStringLiteral(UPDATE_APP_TEST_DIR "/CommandLineTest.cpp");
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

// --lang takes what the command line's takes, --language a Windows id; -V is the
// version and -v the diagnostics, as in update-cli; one image may follow.
TEST(CommandLine, TakesTheLanguageAndAnImageOrRefusesThem) {
  const struct {
    QStringList arguments;
    std::optional<std::uint16_t> language;
  } languages[] = {
      {{}, std::nullopt},    {{"--lang", "zh"}, 2052},       {{"--lang", "zh_CN.UTF-8"}, 2052},
      {{"--lang=en"}, 1033}, {{"--language", "2052"}, 2052}, {{"--language", "1028"}, 1028},
  };
  for (const auto& c : languages) {
    const app::CommandLine parsed = app::ParseCommandLine(QStringList{"update"} + c.arguments, {});
    EXPECT_FALSE(parsed.output.has_value()) << parsed.output.value_or("");
    EXPECT_EQ(parsed.options.languageId, c.language) << c.arguments.join(' ').toStdString();
  }
  for (const QStringList& bad : {QStringList{"--lang", "xx"},
                                 {"--language", "zh_CN"},
                                 {"--language", "70000"},
                                 {"/nonexistent.dat"},
                                 {"--bogus"},
                                 {kThisFile, kThisFile}}) {
    const app::CommandLine parsed = app::ParseCommandLine(QStringList{"update"} + bad, {});
    EXPECT_EQ(parsed.exitCode, 2) << bad.join(' ').toStdString();
    EXPECT_EQ(parsed.output.value_or("").rfind("update: ", 0), 0u) << *parsed.output;
  }

  // A file manager may give the image's path relative to the folder it starts us in.
  const app::CommandLine image =
      app::ParseCommandLine({"update", "-v", QDir::current().relativeFilePath(kThisFile)}, {});
  EXPECT_TRUE(image.options.verbose);
  EXPECT_EQ(image.options.imagePath, kThisFile.toStdString());

  const app::CommandLine version = app::ParseCommandLine({"update", "-V"}, {});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.value_or("").rfind("update 2.15.0\nbuild ", 0), 0u);
  for (const char* option : {"--help", "--help-all"}) {
    const app::CommandLine help = app::ParseCommandLine({"/usr/bin/update", option}, {});
    EXPECT_EQ(help.exitCode, 0) << option;
    EXPECT_EQ(help.output.value_or("").rfind("Usage: update [options] [image]\n", 0), 0u) << option;
    EXPECT_NE(help.output.value_or("").find("--simulate"), std::string::npos) << option;
  }
}

}  // namespace
