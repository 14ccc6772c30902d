#include <gtest/gtest.h>

#include "firmware/VersionPrompt.h"

namespace {

TEST(VersionPrompt, OneFormatForEachPairOfBetas) {
  struct Case {
    std::uint16_t version;
    std::uint16_t beta;
    std::uint32_t current;
    const char* line;
  };
  const Case cases[] = {
      {102, 3, 101, "New firmware 1.02 beta3 and current is 1.01\n"},
      {102, 3, 0x00020101, "New firmware 1.02 beta3 and current is 2.57 beta2\n"},
      {215, 0, 0x00010103, "New firmware 2.15 and current is 2.59 beta1\n"},
      {215, 0, 214, "New firmware 2.15 and current is 2.14\n"},
      {0, 0, 0, "New firmware 0.00 and current is 0.00\n"},
      {65535, 65535, 5, "New firmware 655.35 beta65535 and current is 0.05\n"},
      // Never read from the device: said so, not shown as the marker's digits.
      {100, 2, 0x5A5A5A5A, "New firmware 1.00 beta2 and current is unknown\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(firmware::FormatVersionPrompt("New firmware", "and current is", c.version, c.beta,
                                            c.current, "and current is unknown"),
              c.line);
  }
}

}  // namespace
