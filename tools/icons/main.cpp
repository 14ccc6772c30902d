// Writes the application icon as the desktop wants it, in the layout of the hicolor
// icon theme: PNGs of the drawing the window uses (32 x 32 is the window's own size;
// menus and software centres want larger ones) and the same drawing as SVG.
//   update-icons OUTPUT_DIR ICON_NAME SIZE...
// writes OUTPUT_DIR/NxN/apps/ICON_NAME.png for each size N and
// OUTPUT_DIR/scalable/apps/ICON_NAME.svg.
#include <QDir>
#include <QFont>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "app/AppIcon.h"

namespace {

bool WriteSvg(const QString& file) {
  QSvgGenerator svg;
  svg.setFileName(file);
  svg.setSize(QSize(app::kIconSize, app::kIconSize));
  svg.setViewBox(QRect(0, 0, app::kIconSize, app::kIconSize));
  svg.setTitle(QStringLiteral("update"));
  QPainter painter;
  if (!painter.begin(&svg)) {
    return false;
  }
  // The drawing has no text, but every group the generator writes names the painter's
  // font; without an application object that font has no size and the file would say
  // font-size="-1", which SVG readers complain about.
  QFont font = painter.font();
  font.setPixelSize(12);
  painter.setFont(font);
  app::PaintApplicationIcon(painter);
  return painter.end();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: update-icons OUTPUT_DIR ICON_NAME SIZE...\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 1 || size > 1024) {
      std::fprintf(stderr, "update-icons: not a size: %s\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1x%1/apps").arg(size);
    const QString file = out.filePath(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    if (!out.mkpath(dir) || !app::DrawApplicationIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "update-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  const QString svg =
      out.filePath(QStringLiteral("scalable/apps/") + name + QStringLiteral(".svg"));
  if (!out.mkpath(QStringLiteral("scalable/apps")) || !WriteSvg(svg)) {
    std::fprintf(stderr, "update-icons: cannot write %s\n", qPrintable(svg));
    return 1;
  }
  return 0;
}
