#include "playback/PositionScale.h"

namespace sonarvex {

double MarkerX(double p, double scale, int width) {
  double span = width - 30;
  if (scale <= 0 || span <= 0) return 0;
  if (p > scale) p = scale;
  double x = p * span / scale;
  if (scale < width && p > 0) x += span / scale;
  return x;
}

double MarkerPosition(double x, double scale, int width) {
  double span = width - 30;
  if (scale <= 0 || span <= 0) return 0;
  if (scale < width && x > 0) x -= span / scale;
  if (x < 0) x = 0;
  return x * scale / span;
}

}  // namespace sonarvex
