#include "PixelGrid.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ombrix {
namespace {

// The capture index under view index i, as the renderer's nearest-neighbour sampling takes it.
double Under(const TZoomAxis& axis, int i) {
  return std::floor((i + 0.5 - axis.Offset) / axis.Scale);
}

// For each view index below `limit`: 1 on a grid line, 0 off it, -1 outside the drawn area.
std::vector<int> Lines(const TZoomAxis& axis, int length, int limit) {
  std::vector<int> lines(static_cast<std::size_t>(std::max(0, limit)), -1);
  const bool gridded = std::fabs(axis.Scale) >= kPixelGridMinimumScale;
  for (int i = 0; i < limit; ++i) {
    const double k = Under(axis, i);
    if (k < 0 || k >= length) continue;
    lines[static_cast<std::size_t>(i)] = gridded && Under(axis, i + 1) != k ? 1 : 0;
  }
  return lines;
}

}  // namespace

void DrawPixelGrid(TBitmap& view, int captureWidth, int captureHeight, const TZoomAxis& x,
                   const TZoomAxis& y) {
  if (view.Empty() || x.Scale == 0 || y.Scale == 0) return;
  if (std::fabs(x.Scale) < kPixelGridMinimumScale && std::fabs(y.Scale) < kPixelGridMinimumScale)
    return;
  const std::vector<int> columns = Lines(x, captureWidth, view.Width());
  const std::vector<int> rows = Lines(y, captureHeight, view.Height());
  const int step = BytesPerPixel(view.PixelFormat());
  const auto blue = static_cast<uint8_t>(kPixelGridColor >> 16 & 0xFF);
  const auto green = static_cast<uint8_t>(kPixelGridColor >> 8 & 0xFF);
  const auto red = static_cast<uint8_t>(kPixelGridColor & 0xFF);
  for (int row = 0; row < view.Height(); ++row) {
    const int onRow = rows[static_cast<std::size_t>(row)];
    if (onRow < 0) continue;
    uint8_t* p = view.ScanLine(row);
    for (int column = 0; column < view.Width(); ++column, p += step) {
      const int onColumn = columns[static_cast<std::size_t>(column)];
      if (onColumn < 0 || (onRow == 0 && onColumn == 0)) continue;
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
  }
}

}  // namespace ombrix
