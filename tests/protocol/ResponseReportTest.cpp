#include <gtest/gtest.h>

#include <algorithm>

#include "base/LittleEndian.h"
#include "protocol/ResponseReport.h"

namespace {

using protocol::ResponseReport;

// Bytes 6..17 hold junk: they play no part in the checks.
ResponseReport Record(std::uint8_t lead, std::uint8_t type, std::uint16_t tag, std::uint16_t code) {
  ResponseReport record{};
  std::fill(record.begin() + 6, record.begin() + 18, 0xA5);
  record[0] = lead;
  record[1] = type;
  base::StoreU16(&record[2], tag);
  base::StoreU16(&record[4], code);
  return record;
}

TEST(ReplyCheck, EachHeaderFieldMustHoldItsValue) {
  struct Case {
    ResponseReport record;
    bool app;
    bool boot;
  };
  const Case cases[] = {
      {Record(2, 4, 4, 0x0101), true, false},
      {Record(1, 4, 4, 0x0101), false, false},  // input report ID 1, not 2
      {Record(2, 5, 4, 0x0101), false, false},
      {Record(2, 4, 0, 0x0101), false, false},
      {Record(2, 4, 4, 0x0102), false, false},
      {Record(0, 5, 0, 0x0101), false, true},
      {Record(0, 5, 4, 0x0101), false, false},  // boot reply with Tag 4
      {Record(0, 5, 0, 0x0201), false, false},  // the high byte of the code counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(protocol::PassesAppCheck(c.record, 0x0101), c.app);
    EXPECT_EQ(protocol::PassesBootCheck(c.record, 0x0101), c.boot);
  }
}

}  // namespace
