// The application icon: one 32 x 32 image, 32 bits per pixel, drawn in code so that it
// needs no resource file: a controller with an arrow pointing up, for "new firmware".
#pragma once

#include <QIcon>
#include <QImage>

namespace app {

inline constexpr int kIconSize = 32;

// The icon image, ARGB32 with a transparent background.
QImage DrawApplicationIcon();

// The same image as an icon for windows and the task bar.
QIcon ApplicationIcon();

}  // namespace app
