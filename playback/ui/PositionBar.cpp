#include "playback/ui/PositionBar.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/ui/Icons.h"
#include "playback/PositionScale.h"
#include "records/SettingsRecord.h"

namespace sonarvex {

namespace {
QColor FromColorRef(unsigned c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
}  // namespace

PositionBar::PositionBar(QWidget* parent)
    : QWidget(parent), up_(MarkerImage(false)), down_(MarkerImage(true)) {
  bar_ = FromColorRef(kDefaultEditColor);
  setMinimumHeight(18);
  setToolTip(QString::fromUtf8("Позиция"));
}

void PositionBar::SetBarColor(unsigned colorref) {
  bar_ = FromColorRef(colorref);
  update();
}

void PositionBar::SetPosition(double p) {
  marker_ = MarkerX(p, scale_, width());
  update();
}

double PositionBar::Position() const { return MarkerPosition(marker_, scale_, width()); }

void PositionBar::paintEvent(QPaintEvent*) {
  QPixmap off(size());
  {
    QPainter p(&off);
    p.fillRect(rect(), bar_);
    p.drawPixmap(static_cast<int>(marker_), 1, dragging_ ? down_ : up_);
    p.setPen(palette().color(QPalette::Button).darker(160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  QPainter(this).drawPixmap(0, 0, off);
}

void PositionBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) return;
  if (CanDrag && !CanDrag()) return;
  dragging_ = true;
  lastX_ = static_cast<int>(e->position().x());
  update();
}

void PositionBar::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  int x = static_cast<int>(e->position().x());
  double moved = marker_ + (x - lastX_);
  if (moved >= 0 && moved <= width() - 30) {
    marker_ = moved;
    lastX_ = x;
    if (Dragged) Dragged(Position());
    update();
  }
}

void PositionBar::mouseReleaseEvent(QMouseEvent*) {
  if (!dragging_) return;
  dragging_ = false;
  update();
  if (Released) Released(Position());
}

}  // namespace sonarvex
