#include <gtest/gtest.h>

#include <vector>

#include "hid/linux/ReportDescriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReportDescriptor, AReportIdItemAnywhereMakesReportsNumbered) {
  struct Case {
    const char* what;
    Bytes descriptor;
    bool numbered;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"vendor page, no report ID",
       {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0},
       false},
      {"report ID 0x81 inside the collection",
       {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x81, 0x75, 0x08, 0x81, 0x02, 0xC0},
       true},
      {"report ID with a two-byte value", {0x86, 0x01, 0x00}, true},
      // 0x85 as data must not be taken for an item.
      {"0x85 inside a four-byte value", {0x27, 0x85, 0x85, 0x85, 0x85, 0xC0}, false},
      {"0x85 inside a long item", {0xFE, 0x03, 0x10, 0x85, 0x01, 0x85, 0xC0}, false},
      {"report ID after a long item", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x85, 0x02}, true},
      // The walk stops at an item that runs past the end; it counts for nothing.
      {"four-byte item cut short", {0x27, 0xFF, 0xFF}, false},
      {"report ID item cut short", {0x06, 0x00, 0xFF, 0x86, 0x01}, false},
      {"report ID after a cut item's data", {0x27, 0x85, 0x01}, false},
  };
  for (const Case& c : cases) {
    // Exactly sized heap copies, so that a read past the end shows under a sanitizer.
    const Bytes copy = c.descriptor;
    EXPECT_EQ(hid::UsesNumberedReports(copy), c.numbered) << c.what;
  }
}

}  // namespace
