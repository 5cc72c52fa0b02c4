#include "metadata/ui/UiHelpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPlainTextEdit>
#include <QWidget>
#include <cstring>

namespace sonarvex {

QColor ColorRefToQColor(std::uint32_t c) {
  if (c == 0x8000000Au) return QApplication::palette().color(QPalette::Mid);
  if (c == 0x80000005u) return QApplication::palette().color(QPalette::Base);
  if (c & 0xFF000000u) return QApplication::palette().color(QPalette::Window);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

void ApplyFormColors(QWidget* form, const FormColors& colors) {
  QPalette p = form->palette();
  p.setColor(QPalette::Window, ColorRefToQColor(colors.window));
  form->setPalette(p);
  form->setAutoFillBackground(true);
  const QColor edit = ColorRefToQColor(colors.edit);
  auto paint = [&](QWidget* w) {
    QPalette q = w->palette();
    q.setColor(QPalette::Base, edit);
    q.setColor(QPalette::Button, edit);
    w->setPalette(q);
  };
  for (QLineEdit* w : form->findChildren<QLineEdit*>()) paint(w);
  for (QComboBox* w : form->findChildren<QComboBox*>()) paint(w);
  for (QPlainTextEdit* w : form->findChildren<QPlainTextEdit*>()) paint(w);
  for (QAbstractItemView* w : form->findChildren<QAbstractItemView*>()) paint(w);
}

QIcon Glyph(const char* name) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  if (std::strcmp(name, "OK") == 0) {
    painter.setPen(QPen(QColor(0, 140, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.drawPath(tick);
  } else {
    painter.setPen(QPen(QColor(200, 0, 0), 2.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
  }
  return QIcon(pixmap);
}

QPixmap DefaultImage(int index) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 1:  // a disc
      painter.setPen(QColor(60, 60, 90));
      painter.setBrush(QColor(190, 200, 230));
      painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      painter.setBrush(Qt::white);
      painter.drawEllipse(QRectF(6, 6, 4, 4));
      break;
    case 2:  // a copied disc
      painter.setPen(QColor(40, 90, 40));
      painter.setBrush(QColor(170, 220, 170));
      painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      painter.setPen(QPen(QColor(0, 120, 0), 2));
      painter.drawLine(QPointF(4, 8), QPointF(7, 11));
      painter.drawLine(QPointF(7, 11), QPointF(12, 4));
      break;
    default:  // a person (artist) or a data track
      painter.setPen(QColor(90, 70, 40));
      painter.setBrush(QColor(230, 200, 140));
      painter.drawEllipse(QRectF(5, 1.5, 6, 6));
      painter.drawRoundedRect(QRectF(2.5, 8.5, 11, 6), 3, 3);
      break;
  }
  return pixmap;
}

}  // namespace sonarvex
