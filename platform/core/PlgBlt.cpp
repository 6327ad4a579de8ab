#include "PlgBlt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ombrix {

TPixelView ViewOf(const TBitmap& bitmap) {
  TPixelView view;
  view.width = bitmap.Width();
  view.height = bitmap.Height();
  if (bitmap.Empty()) return view;
  view.top = bitmap.ScanLine(0);
  view.stride = -static_cast<std::ptrdiff_t>(bitmap.RowBytes());
  return view;
}

void PlgBlt(TBitmap& dest, const TPoint (&points)[3], const TPixelView& source, int sx, int sy,
            int w, int h) {
  if (w <= 0 || h <= 0 || dest.Empty() || source.top == nullptr) return;
  // Forward map of zone point (u, v): P0 + u * a + v * b with a = (P1 - P0) / w and
  // b = (P2 - P0) / h. Inverting it gives the source point under each destination centre.
  const double ax = (points[1].X - points[0].X) / static_cast<double>(w);
  const double ay = (points[1].Y - points[0].Y) / static_cast<double>(w);
  const double bx = (points[2].X - points[0].X) / static_cast<double>(h);
  const double by = (points[2].Y - points[0].Y) / static_cast<double>(h);
  const double det = ax * by - ay * bx;
  if (det == 0.0) return;
  const double iax = by / det, iay = -bx / det;  // u = iax * dx + iay * dy
  const double ibx = -ay / det, iby = ax / det;  // v = ibx * dx + iby * dy

  // Bounding box of the parallelogram, clipped to the destination.
  const int xs[4] = {points[0].X, points[1].X, points[2].X, points[1].X + points[2].X - points[0].X};
  const int ys[4] = {points[0].Y, points[1].Y, points[2].Y, points[1].Y + points[2].Y - points[0].Y};
  const int x0 = std::max(0, *std::min_element(xs, xs + 4));
  const int x1 = std::min(dest.Width(), *std::max_element(xs, xs + 4));
  const int y0 = std::max(0, *std::min_element(ys, ys + 4));
  const int y1 = std::min(dest.Height(), *std::max_element(ys, ys + 4));

  // The common operations are axis-aligned and exact in whole pixels; a whole-row copy serves
  // the plain one.
  const bool identity = points[0].X == 0 && points[0].Y == 0 && points[1].X == w &&
                        points[1].Y == 0 && points[2].X == 0 && points[2].Y == h;
  if (identity) {
    const int rows = std::min(h, dest.Height());
    const int cols = std::min(w, dest.Width());
    for (int y = 0; y < rows; ++y) {
      std::memcpy(dest.ScanLine(y), source.top + (sy + y) * source.stride + sx * 4,
                  static_cast<std::size_t>(cols) * 4);
    }
    return;
  }

  for (int y = y0; y < y1; ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(dest.ScanLine(y));
    const double dy = y + 0.5 - points[0].Y;
    for (int x = x0; x < x1; ++x) {
      const double dx = x + 0.5 - points[0].X;
      const double u = iax * dx + iay * dy;
      const double v = ibx * dx + iby * dy;
      if (u < 0.0 || v < 0.0 || u >= w || v >= h) continue;
      const int ui = static_cast<int>(u);
      const int vi = static_cast<int>(v);
      uint32_t pixel;
      std::memcpy(&pixel, source.top + (sy + vi) * source.stride + (sx + ui) * 4, 4);
      out[x] = pixel;
    }
  }
}

}  // namespace ombrix
