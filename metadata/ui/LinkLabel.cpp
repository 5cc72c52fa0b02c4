#include "metadata/ui/LinkLabel.h"

#include <QMouseEvent>

#include "metadata/ui/UiHelpers.h"

namespace sonarvex {

LinkLabel::LinkLabel(const QString& text, std::uint32_t normal, std::uint32_t pressed,
                     QWidget* parent)
    : QLabel(text, parent), normal_(normal), pressed_(pressed), current_(normal) {
  setCursor(Qt::PointingHandCursor);
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  SetColor(normal_);
}

void LinkLabel::SetColor(std::uint32_t color) {
  current_ = color;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, ColorRefToQColor(color));
  // A disabled link keeps the palette's disabled colour.
  p.setColor(QPalette::Disabled, QPalette::WindowText,
             QPalette().color(QPalette::Disabled, QPalette::WindowText));
  setPalette(p);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled()) SetColor(pressed_);
  QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled()) {
    SetColor(normal_);
    if (rect().contains(event->position().toPoint())) emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace sonarvex
