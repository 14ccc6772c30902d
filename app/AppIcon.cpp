#include "app/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

void PaintApplicationIcon(QPainter& painter) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);

  // The controller: a body with two grips, dark slate, lit from above.
  QPainterPath body;
  body.addRoundedRect(QRectF(2.5, 12.5, 27, 12), 5, 5);
  body.addEllipse(QRectF(2.5, 17.5, 10, 12));
  body.addEllipse(QRectF(19.5, 17.5, 10, 12));
  body.setFillRule(Qt::WindingFill);
  QLinearGradient shade(0, 12, 0, 30);
  shade.setColorAt(0, QColor(0x4A, 0x5D, 0x80));
  shade.setColorAt(1, QColor(0x23, 0x2E, 0x45));
  painter.setPen(QPen(QColor(0x17, 0x1E, 0x2D), 1));
  painter.setBrush(shade);
  painter.drawPath(body.simplified());

  // A direction pad on the left, four buttons on the right.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xE8, 0xEC, 0xF2));
  painter.drawRect(QRectF(7, 15, 2, 6));
  painter.drawRect(QRectF(5, 17, 6, 2));
  const QColor buttons[] = {QColor(0x5C, 0xC8, 0x6A), QColor(0xE8, 0x5A, 0x4F),
                            QColor(0x4F, 0x9B, 0xE8), QColor(0xF2, 0xC1, 0x4E)};
  const QPointF centres[] = {{24, 20}, {26.5, 17.5}, {21.5, 17.5}, {24, 15}};
  for (int i = 0; i < 4; ++i) {
    painter.setBrush(buttons[i]);
    painter.drawEllipse(centres[i], 1.3, 1.3);
  }

  // The arrow above the controller: new firmware going in.
  QPainterPath arrow;
  arrow.moveTo(16, 1);
  arrow.lineTo(23, 8);
  arrow.lineTo(19, 8);
  arrow.lineTo(19, 13);
  arrow.lineTo(13, 13);
  arrow.lineTo(13, 8);
  arrow.lineTo(9, 8);
  arrow.closeSubpath();
  painter.setPen(QPen(QColor(0x1B, 0x6E, 0x2E), 1));
  painter.setBrush(QColor(0x3D, 0xB8, 0x56));
  painter.drawPath(arrow);
  painter.restore();
}

QImage DrawApplicationIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.scale(static_cast<qreal>(size) / kIconSize, static_cast<qreal>(size) / kIconSize);
  PaintApplicationIcon(painter);
  painter.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

QIcon ApplicationIcon() {
  return QIcon(QPixmap::fromImage(DrawApplicationIcon()));
}

}  // namespace app
