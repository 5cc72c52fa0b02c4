// The position bar's mapping between a playing position and the marker's x
// on a bar of a given width (the marker is 30 pixels wide).
#pragma once

namespace sonarvex {

// Marker x for position p of scale; the position of a marker at x.
double MarkerX(double p, double scale, int width);
double MarkerPosition(double x, double scale, int width);

}  // namespace sonarvex
