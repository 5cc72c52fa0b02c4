// Tabs drawn the way the settings dialog wants them: the tab filled with the
// form colour without an outline, the caption 4 pixels in, the active tab's
// caption 2 pixels further and in red.
#pragma once

#include <QProxyStyle>

namespace sonarvex {

class SettingsTabStyle : public QProxyStyle {
  Q_OBJECT
 public:
  explicit SettingsTabStyle(int captionOffset = 4);

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override;

 private:
  int offset_;
};

}  // namespace sonarvex
