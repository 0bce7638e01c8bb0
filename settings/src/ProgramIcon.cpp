#include "ProgramIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace kv::settings {

QPixmap ProgramIcon(int size, qreal devicePixelRatio) {
  int pixels = static_cast<int>(std::lround(size * devicePixelRatio));
  QPixmap pixmap(pixels, pixels);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);

  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // Drawn on a 32 x 32 grid, the same as the SVG file.
  painter.scale(size / 32.0, size / 32.0);

  QRectF frame(1.5, 3.5, 29, 25);
  QLinearGradient sky(0, 4, 0, 28);
  sky.setColorAt(0.0, QColor(0x2b, 0x3a, 0x67));
  sky.setColorAt(0.6, QColor(0xc9, 0x6b, 0x5a));
  sky.setColorAt(1.0, QColor(0xf2, 0xb1, 0x6b));
  painter.setPen(QPen(QColor(0x4a, 0x3a, 0x2a), 1.5));
  painter.setBrush(sky);
  painter.drawRoundedRect(frame, 2.5, 2.5);

  painter.setClipRect(frame.adjusted(0.75, 0.75, -0.75, -0.75));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xfb, 0xe3, 0x9a));
  painter.drawEllipse(QPointF(23, 19), 4, 4);
  QPainterPath hills;
  hills.moveTo(1, 28);
  hills.lineTo(1, 22);
  hills.cubicTo(8, 17, 13, 19, 18, 23);
  hills.cubicTo(22, 21, 27, 20, 31, 22);
  hills.lineTo(31, 28);
  hills.closeSubpath();
  painter.setBrush(QColor(0x2f, 0x4a, 0x3a));
  painter.drawPath(hills);
  painter.setClipping(false);

  // Two commas, one quotation mark.
  painter.setBrush(Qt::white);
  for (double x : {7.0, 13.0}) {
    painter.drawEllipse(QPointF(x, 11), 2.3, 2.3);
    QPainterPath tail;
    tail.moveTo(x - 2.2, 11.4);
    tail.quadTo(x - 2.0, 15.5, x + 1.6, 16.2);
    tail.quadTo(x - 0.2, 14.0, x + 0.6, 12.6);
    tail.closeSubpath();
    painter.drawPath(tail);
  }
  return pixmap;
}

QIcon ProgramWindowIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(ProgramIcon(size));
  return icon;
}

}  // namespace kv::settings
