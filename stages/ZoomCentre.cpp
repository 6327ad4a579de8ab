#include "ZoomCentre.h"

#include <algorithm>
#include <cmath>

namespace ombrix {

TPoint ZoomCentre(const TPoint (&points)[3], int w, int h, TPoint cursor) {
  const TPoint middle{w / 2, h / 2};
  if (w <= 0 || h <= 0) return middle;
  const TPoint& p0 = points[0];
  const TPoint& p1 = points[1];
  const TPoint& p2 = points[2];
  // The operations only copy, mirror and turn: each capture axis follows one zone axis.
  const bool xFromU = p1.X != p0.X;
  const bool yFromU = p1.Y != p0.Y;
  if (xFromU == yFromU) return middle;
  const bool uShifted = cursor.X != w / 2;
  const bool vShifted = cursor.Y != h / 2;

  // The zone point (u, v) lands at P0 + (u / w) (P1 - P0) + (v / h) (P2 - P0).
  const double u = (cursor.X + 0.5) / w;
  const double v = (cursor.Y + 0.5) / h;
  const double x = p0.X + u * (p1.X - p0.X) + v * (p2.X - p0.X);
  const double y = p0.Y + u * (p1.Y - p0.Y) + v * (p2.Y - p0.Y);
  TPoint centre = middle;
  if (xFromU ? uShifted : vShifted)
    centre.X = std::clamp(static_cast<int>(std::floor(x)), 0, w - 1);
  if (yFromU ? uShifted : vShifted)
    centre.Y = std::clamp(static_cast<int>(std::floor(y)), 0, h - 1);
  return centre;
}

}  // namespace ombrix
