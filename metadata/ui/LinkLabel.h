// A label that works as a link: a hand cursor, an underlined font in one
// colour, another colour while the mouse button is down, clicked() on release.
#pragma once

#include <QLabel>
#include <cstdint>

namespace sonarvex {

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  // Colours are COLORREF values (255 red, 16711680 blue).
  LinkLabel(const QString& text, std::uint32_t normal, std::uint32_t pressed,
            QWidget* parent = nullptr);
  // The current font colour as a COLORREF value.
  std::uint32_t FontColor() const { return current_; }

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetColor(std::uint32_t color);
  std::uint32_t normal_, pressed_, current_;
};

}  // namespace sonarvex
