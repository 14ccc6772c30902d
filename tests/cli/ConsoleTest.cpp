// What update-cli does to the console it runs in and the catalog it speaks from,
// through their seams: the code pages put back on every way out, and the messages of
// po/zh_CN.po read from msgfmt's catalog as the Windows build carries it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "base/ConsoleCodePages.h"
#include "text/MessageCatalog.h"

namespace {

// A console's two code pages (0: no console); a set it refuses leaves a page as it is.
struct FakeConsole {
  unsigned pages[2] = {936, 936};
  bool refuse[2] = {false, false};
  int sets = 0;

  base::CodePageCalls Calls() {
    const auto set = [this](int which) {
      return [this, which](unsigned page) {
        ++sets;
        if (refuse[which]) {
          return false;
        }
        pages[which] = page;
        return true;
      };
    };
    return {[this] { return pages[0]; }, [this] { return pages[1]; }, set(0), set(1)};
  }
};

// Without a console nothing is set; a refused page leaves the console as found at once;
// a second Ctrl-C or a closed window put the pages back from the console's handler
// thread, once: the end of main() then finds nothing to do.
TEST(ConsoleCodePages, AreUtf8WhileTheProgramRunsAndAsFoundAfterEveryWayOut) {
  const struct {
    const char* name;
    unsigned found;
    bool refuseInput, refuseOutput, endedByTheConsole;
  } cases[] = {{"accepted", 936, false, false, false},
               {"no console", 0, false, false, false},
               {"input page refused", 936, true, false, false},
               {"output page refused after the input page was set", 936, false, true, false},
               {"ended by the console first", 936, false, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console{{c.found, c.found}, {c.refuseInput, c.refuseOutput}, 0};
    {
      base::CConsoleCodePages pages(console.Calls(), 65001);
      const bool accepted = c.found != 0 && !c.refuseInput && !c.refuseOutput;
      EXPECT_EQ(pages.Set(), accepted);
      EXPECT_EQ(console.pages[1], accepted ? 65001u : c.found);
      if (c.endedByTheConsole) {
        pages.Restore();
        EXPECT_EQ(console.pages[0], c.found);
        console.pages[0] = 437;  // someone else's change afterwards stays
      }
    }
    EXPECT_EQ(console.pages[0], c.endedByTheConsole ? 437u : c.found);
    EXPECT_EQ(console.pages[1], c.found);
    EXPECT_EQ(console.sets == 0, c.found == 0);
  }
}

TEST(MessageCatalog, FindsTheChineseOfPoZhCnInMsgfmtsCatalog) {
  std::ifstream file(UPDATE_CLI_ZH_CN_CATALOG, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  const auto catalog = text::CMessageCatalog::Parse(bytes);
  ASSERT_TRUE(catalog.has_value());
  EXPECT_STREQ(catalog->Find("Switching to boot mode..."), "正在切换到 BOOT 模式...");
  EXPECT_EQ(catalog->Find("a message nobody wrote"), nullptr);
  // Cut anywhere inside its tables or strings, it is no catalog; never read past the end.
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{19}, bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(text::CMessageCatalog::Parse(std::span(bytes).first(size)).has_value()) << size;
  }
}

}  // namespace
