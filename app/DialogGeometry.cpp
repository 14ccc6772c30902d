#include "app/DialogGeometry.h"

#include <cstdint>
#include <cstdlib>

namespace app {

int MulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) {
    return -1;
  }
  const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
  const bool negative = (product < 0) != (denominator < 0);
  const std::int64_t magnitude = std::llabs(product);
  const std::int64_t divisor = std::llabs(static_cast<std::int64_t>(denominator));
  const std::int64_t rounded = (magnitude + divisor / 2) / divisor;
  return static_cast<int>(negative ? -rounded : rounded);
}

DialogRect MapDialogRect(const DialogRect& units, DialogBaseUnits base) {
  const int left = MulDiv(units.x, base.x, 4);
  const int right = MulDiv(units.x + units.width, base.x, 4);
  const int top = MulDiv(units.y, base.y, 8);
  const int bottom = MulDiv(units.y + units.height, base.y, 8);
  return DialogRect{left, top, right - left, bottom - top};
}

int BaseUnitXFromAlphabetAdvance(int alphabetAdvance) {
  return (alphabetAdvance / 26 + 1) / 2;
}

IconOrigin CenteredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return IconOrigin{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

}  // namespace app
