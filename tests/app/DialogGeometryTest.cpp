#include <gtest/gtest.h>

#include "app/DialogGeometry.h"

namespace {

using app::DialogRect;

TEST(DialogGeometry, MulDivRoundsHalvesAwayFromZeroWithoutOverflow) {
  const struct {
    int value, numerator, denominator, expected;
  } cases[] = {
      {7, 6, 4, 11},                   // 10.5
      {6, 6, 4, 9},                    // 9
      {83, 13, 8, 135},                // 134.875
      {5, 3, 8, 2},                    // 1.875
      {-7, 6, 4, -11},                 // -10.5
      {7, -6, 4, -11},                 //
      {7, 6, -4, -11},                 //
      {-7, -6, 4, 11},                 //
      {1, 1, 3, 0},                    // 0.33
      {2000000000, 3, 4, 1500000000},  // the product does not fit in 32 bits
      {7, 6, 0, -1},                   // no denominator
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::MulDiv(c.value, c.numerator, c.denominator), c.expected)
        << c.value << " * " << c.numerator << " / " << c.denominator;
  }
}

TEST(DialogGeometry, EachEdgeIsMappedOnItsOwn) {
  // 9-point SimSun at 96 dpi: 6 x 12 pixel base units.
  const app::DialogBaseUnits simSun{6, 12};
  EXPECT_EQ(app::MapDialogRect({0, 0, 244, 130}, simSun), (DialogRect{0, 0, 366, 195}));
  EXPECT_EQ(app::MapDialogRect({7, 7, 230, 14}, simSun), (DialogRect{11, 11, 345, 21}));
  // The completion label: mapping its width alone would give 128 (127.5 rounded up);
  // its edges land on 125 and 252.
  EXPECT_EQ(app::MapDialogRect({83, 86, 85, 12}, simSun), (DialogRect{125, 129, 127, 18}));
  EXPECT_EQ(app::MapDialogRect({7, 101, 230, 22}, {8, 17}), (DialogRect{14, 215, 460, 46}));
}

TEST(DialogGeometry, TheBaseWidthComesFromTheAlphabetNotTheAverageWidth) {
  EXPECT_EQ(app::BaseUnitXFromAlphabetAdvance(52 * 6), 6);  // 12 per letter pair: (12 + 1) / 2
  EXPECT_EQ(app::BaseUnitXFromAlphabetAdvance(339), 7);     // 13.04: (13 + 1) / 2
  EXPECT_EQ(app::BaseUnitXFromAlphabetAdvance(337), 6);     // 12.96 truncates to 12
}

TEST(DialogGeometry, TheMinimisedIconSitsInTheMiddleTruncatingTowardZero) {
  const struct {
    int clientWidth, clientHeight, iconWidth, iconHeight;
    app::IconOrigin expected;
  } cases[] = {
      {160, 28, 32, 32, {64, -1}},  // (129 / 2, -3 / 2)
      {32, 32, 32, 32, {0, 0}},
      {33, 34, 32, 32, {1, 1}},
      {0, 0, 32, 32, {-15, -15}},  // -31 / 2 is -15, not -16
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::CenteredIconOrigin(c.clientWidth, c.clientHeight, c.iconWidth, c.iconHeight),
              c.expected)
        << c.clientWidth << " x " << c.clientHeight;
  }
}

}  // namespace
