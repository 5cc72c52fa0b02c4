// PaintBox1, the position bar of the transport panel: a marker that follows
// what plays and can be dragged to seek.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>

namespace sonarvex {

class PositionBar : public QWidget {
  Q_OBJECT
 public:
  explicit PositionBar(QWidget* parent = nullptr);

  // The length of what plays (sectors for a track).
  void SetScale(double scale) { scale_ = scale > 0 ? scale : 1000; }
  double Scale() const { return scale_; }
  // Moves the marker to position p (0..scale).
  void SetPosition(double p);
  double Position() const;
  double MarkerPixels() const { return marker_; }
  bool Dragging() const { return dragging_; }
  void SetBarColor(unsigned colorref);

  // Whether a press may start dragging (the window decides from its state).
  std::function<bool()> CanDrag;
  // While dragging: the marker's position; after release: the seek target.
  std::function<void(double)> Dragged;
  std::function<void(double)> Released;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  double scale_ = 1000;
  double marker_ = 0;
  bool dragging_ = false;
  int lastX_ = 0;
  QColor bar_;
  QPixmap up_, down_;
};

}  // namespace sonarvex
