// The dialog's font: 9-point "宋体" (SimSun) where the system has it, else a Song-style
// CJK font that shows both the Chinese and the English texts; and the base units of a
// font, which turn the template's dialog units into pixels.
#pragma once

#include <QFont>
#include <QStringList>

#include "app/DialogGeometry.h"

namespace app {

// The families tried in order; the first the system has wins.
QStringList DialogFontFamilies();

// The dialog font at the template's point size.
QFont ChooseDialogFont();

// Base units as Windows measures them: y the font's height (ascent + descent), x from
// the advance of the alphabet in both cases (not the average character width).
DialogBaseUnits BaseUnitsOf(const QFont& font);

}  // namespace app
