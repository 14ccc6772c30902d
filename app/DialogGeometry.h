// Geometry of the main dialog that does not depend on the window system: dialog units
// to pixels, and where the icon of a minimised window goes.
#pragma once

namespace app {

// The dialog font's base units: horizontally the average width of a character as
// Windows measures it, vertically the font's height, both in pixels.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// A rectangle: in dialog units in the template, in pixels once mapped.
struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const DialogRect&) const = default;
};

// value * numerator / denominator, rounded to the nearest integer with halves away
// from zero, computed without overflow, as Windows' MulDiv; -1 when denominator is 0.
int MulDiv(int value, int numerator, int denominator);

// Maps a template rectangle to pixels as Windows does: every edge on its own, x by
// baseX / 4 and y by baseY / 8, so a width is map(x + width) - map(x), which can be a
// pixel off from mapping the width alone.
DialogRect MapDialogRect(const DialogRect& units, DialogBaseUnits base);

// The base width from the advance of "A..Za..z" in pixels: (advance / 26 + 1) / 2.
int BaseUnitXFromAlphabetAdvance(int alphabetAdvance);

struct IconOrigin {
  int x = 0;
  int y = 0;

  bool operator==(const IconOrigin&) const = default;
};

// Where the icon of a minimised window is drawn so that it sits in the middle of the
// client area: ((client - icon + 1) / 2) on each axis, in signed arithmetic that
// truncates toward zero. A client smaller than the icon gives a negative origin.
IconOrigin CenteredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

}  // namespace app
