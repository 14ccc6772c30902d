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

// Without a console nothing is set; a refused page leaves the console as found at once.
TEST(ConsoleCodePages, AreUtf8WhileTheProgramRunsAndAsFoundAfterEveryWayOut) {
  const struct {
    const char* name;
    unsigned found;
    bool refuseInput;
    bool refuseOutput;
    bool setWhileRunning;
  } cases[] = {{"accepted", 936, false, false, true},
               {"no console", 0, false, false, false},
               {"input page refused", 936, true, false, false},
               {"output page refused after the input page was set", 936, false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console{c.found, c.found, c.refuseInput, c.refuseOutput, 0};
    {
      const cli::CConsoleCodePages pages(console.Calls(), 65001);
      EXPECT_EQ(pages.Set(), c.setWhileRunning);
      EXPECT_EQ(console.output, c.setWhileRunning ? 65001u : c.found);
    }
    EXPECT_EQ(console.input, c.found);
    EXPECT_EQ(console.output, c.found);
    if (c.found == 0) {
      EXPECT_EQ(console.sets, 0);
    }
  }
}

// A second Ctrl-C or a closed window end the process from the console's handler
// thread: the pages go back there, once, and the end of main() finds nothing to do.
TEST(ConsoleCodePages, GoBackOnceWhenTheConsoleEndsTheProgramFirst) {
  FakeConsole console;
  {
    cli::CConsoleCodePages pages(console.Calls(), 65001);
    pages.Restore();
    EXPECT_EQ(console.input, 936u);
    EXPECT_EQ(console.output, 936u);
    console.input = console.output = 437;  // someone else's change afterwards stays
  }
  EXPECT_EQ(console.input, 437u);
}

std::vector<std::uint8_t> ChineseCatalogBytes() {
  std::ifstream file(UPDATE_CLI_ZH_CN_CATALOG, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(MessageCatalog, FindsTheChineseOfPoZhCnInMsgfmtsCatalog) {
  const std::vector<std::uint8_t> bytes = ChineseCatalogBytes();
  const auto catalog = cli::CMessageCatalog::Parse(bytes);
  ASSERT_TRUE(catalog.has_value());
  EXPECT_STREQ(catalog->Find("Switching to boot mode..."), "正在切换到 BOOT 模式...");
  EXPECT_STREQ(catalog->Find("Erasing {0}..."), "正在擦除 {0}...");
  EXPECT_EQ(catalog->Find("a message nobody wrote"), nullptr);

  // Cut anywhere inside its tables or strings, it is no catalog; never read past the end.
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{19}, bytes.size() / 2, bytes.size() - 1}) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(cli::CMessageCatalog::Parse(std::span(bytes).first(size)).has_value());
  }
}

}  // namespace
