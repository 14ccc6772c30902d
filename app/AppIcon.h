// The application icon: one 32 x 32 image, 32 bits per pixel, drawn in code so that it
// needs no resource file: a controller with an arrow pointing up, for "new firmware".
// The drawing is made of shapes, not pixels, so the desktop's larger icons and the
// scalable one are the same drawing on a scaled painter.
#pragma once

#include <QIcon>
#include <QImage>

class QPainter;

namespace app {

inline constexpr int kIconSize = 32;

// Paints the icon into the kIconSize square at the painter's origin, in its units.
void PaintApplicationIcon(QPainter& painter);

// The icon image, size x size pixels, ARGB32 with a transparent background.
QImage DrawApplicationIcon(int size = kIconSize);

// The same image as an icon for windows and the task bar.
QIcon ApplicationIcon();

}  // namespace app
