#include "platform/ui/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace sonarvex {

QIcon ToolIcon(const QString& themeName, const QString& label, unsigned rgb) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = QColor::fromRgb(static_cast<QRgb>(rgb));
    p.setPen(QPen(c.darker(150), 1.5));
    p.setBrush(c);
    p.drawRoundedRect(QRectF(2.5, 5.5, 27, 21), 5, 5);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(label.size() > 3 ? 8 : label.size() > 2 ? 10 : 13);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 5, 28, 22), Qt::AlignCenter, label);
  }
  QIcon fallback(pm);
  if (themeName.isEmpty()) return fallback;
  return QIcon::fromTheme(themeName, fallback);
}

namespace {
void DrawDisc(QPainter& p, QColor ring) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(90, 90, 110), 1));
  p.setBrush(ring);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(6, 6, 4, 4));
}
}  // namespace

QPixmap ListImage(int index) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  switch (index) {
    case 0: {  // a note: compressed size
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(QColor(30, 60, 140), 2));
      p.drawLine(QPointF(11, 2), QPointF(11, 12));
      p.drawLine(QPointF(11, 2), QPointF(15, 5));
      p.setBrush(QColor(30, 60, 140));
      p.drawEllipse(QRectF(5, 9.5, 6, 5));
      break;
    }
    case 1:
      DrawDisc(p, QColor(200, 210, 240));
      break;
    case 2: {
      DrawDisc(p, QColor(190, 230, 190));
      p.setPen(QPen(QColor(0, 130, 0), 2.2));
      p.drawLine(QPointF(3, 9), QPointF(6.5, 13));
      p.drawLine(QPointF(6.5, 13), QPointF(14, 3));
      break;
    }
    case 3: {  // a data sheet
      p.setPen(QColor(90, 90, 90));
      p.setBrush(QColor(250, 250, 235));
      p.drawRect(3, 1, 10, 14);
      for (int y = 4; y <= 12; y += 3) p.drawLine(5, y, 11, y);
      break;
    }
    default:
      break;
  }
  return pm;
}

QPixmap MarkerImage(bool down) {
  QPixmap pm(28, 14);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(0.5, 0.5, 27, 13), 4, 4);
  p.setPen(QColor(60, 60, 90));
  p.setBrush(down ? QColor(230, 120, 60) : QColor(90, 120, 200));
  p.drawPath(path);
  p.setPen(QColor(255, 255, 255, 200));
  for (int x = 10; x <= 18; x += 4) p.drawLine(x, 3, x, 11);
  return pm;
}

}  // namespace sonarvex
