// What update-cli does to the console it runs in and the catalog it speaks from,
// through their seams: the code pages put back on every way out, and the messages of
// po/zh_CN.po read from msgfmt's catalog as the Windows build carries it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "cli/ConsoleCodePages.h"
#include "cli/MessageCatalog.h"

namespace {

// A console's two code pages, and which sets it refuses.
struct FakeConsole {
  unsigned input = 936;
  unsigned output = 936;
  bool refuseInput = false;
  bool refuseOutput = false;
  int sets = 0;

  cli::CodePageCalls Calls() {
    return {[this] { return input; }, [this] { return output; },
            [this](unsigned page) { return Set(input, page, refuseInput); },
            [this](unsigned page) { return Set(output, page, refuseOutput); }};
  }
  bool Set(unsigned& page, unsigned wanted, bool refuse) {
    ++sets;
    if (refuse && wanted != 936) {
      return false;
    }
    page = wanted;
    return true;
  }
};

TEST(ConsoleCodePages, AreUtf8WhileTheProgramRunsAndAsFoundAfterEveryWayOut) {
  const struct {
    const char* name;
    bool refuseInput;
    bool refuseOutput;
    bool setWhileRunning;
  } cases[] = {{"accepted", false, false, true},
               {"input page refused", true, false, false},
               {"output page refused after the input page was set", false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    console.refuseInput = c.refuseInput;
    console.refuseOutput = c.refuseOutput;
    {
      cli::CConsoleCodePages pages(console.Calls(), 65001);
      EXPECT_EQ(pages.Set(), c.setWhileRunning);
      EXPECT_EQ(console.input, c.setWhileRunning ? 65001u : 936u);
      EXPECT_EQ(console.output, c.setWhileRunning ? 65001u : 936u);
    }
    EXPECT_EQ(console.input, 936u);
    EXPECT_EQ(console.output, 936u);
  }
}

// A second Ctrl-C or a closed window end the process from the console's handler
// thread: the pages go back there, once, and the end of main() finds nothing to do.
TEST(ConsoleCodePages, GoBackOnceWhenTheConsoleEndsTheProgramFirst) {
  FakeConsole console;
  {
    cli::CConsoleCodePages pages(console.Calls(), 65001);
    const int setsBefore = console.sets;
    pages.Restore();
    EXPECT_EQ(console.input, 936u);
    EXPECT_EQ(console.output, 936u);
    console.input = console.output = 437;  // someone else's change afterwards stays
    pages.Restore();
    EXPECT_EQ(console.sets, setsBefore + 2);
  }
  EXPECT_EQ(console.input, 437u);
}

TEST(ConsoleCodePages, WithoutAConsoleNothingIsSet) {
  FakeConsole console;
  console.input = console.output = 0;  // GetConsoleCP() without a console
  {
    const cli::CConsoleCodePages pages(console.Calls(), 65001);
    EXPECT_FALSE(pages.Set());
  }
  EXPECT_EQ(console.sets, 0);
}

std::vector<std::uint8_t> ChineseCatalogBytes() {
  std::ifstream file(UPDATE_CLI_ZH_CN_CATALOG, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(MessageCatalog, FindsTheChineseOfPoZhCnInMsgfmtsCatalog) {
  const std::vector<std::uint8_t> bytes = ChineseCatalogBytes();
  const auto catalog = cli::CMessageCatalog::Parse(bytes);
  ASSERT_TRUE(catalog.has_value());
  EXPECT_GT(catalog->Size(), 150u);
  EXPECT_STREQ(catalog->Find("Switching to boot mode..."), "正在切换到 BOOT 模式...");
  EXPECT_STREQ(catalog->Find("Erasing {0}..."), "正在擦除 {0}...");
  EXPECT_EQ(catalog->Find(""), nullptr) << "the header is no message";
  EXPECT_EQ(catalog->Find("a message nobody wrote"), nullptr);

  // Cut anywhere inside its tables or strings, it is no catalog; never read past the end.
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{19}, bytes.size() / 2, bytes.size() - 1}) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(cli::CMessageCatalog::Parse(std::span(bytes).first(size)).has_value());
  }
}

}  // namespace
