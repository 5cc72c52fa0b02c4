#include "settings/ui/SettingsTabStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionTab>

namespace sonarvex {

SettingsTabStyle::SettingsTabStyle(int captionOffset)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())), offset_(captionOffset) {}

void SettingsTabStyle::drawControl(ControlElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
  if (element == CE_TabBarTabShape) {
    painter->fillRect(option->rect, option->palette.window());
    return;
  }
  if (element == CE_TabBarTabLabel) {
    const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
    if (!tab) return QProxyStyle::drawControl(element, option, painter, widget);
    const bool active = tab->state & State_Selected;
    const int shift = active ? 2 : 0;
    QRect r = tab->rect.adjusted(offset_ + shift, shift, 0, 0);
    painter->save();
    painter->setPen(active ? QColor(Qt::red) : tab->palette.color(QPalette::WindowText));
    painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, tab->text);
    painter->restore();
    return;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

QSize SettingsTabStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                         const QSize& size, const QWidget* widget) const {
  QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
  if (type == CT_TabBarTab) {
    if (const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option)) {
      int text = tab->fontMetrics.horizontalAdvance(tab->text);
      s.setWidth(std::max(s.width(), text + 2 * offset_ + 8));
    }
  }
  return s;
}

}  // namespace sonarvex
