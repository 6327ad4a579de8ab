#pragma once
// The pixel inspector's grid: a one-pixel line between the squares into which the zoom
// enlarges the capture's pixels, so that single pixels can be told apart and counted.
// Any thread, on a view nobody else uses.

#include "Graphics.h"
#include "Zoom.h"

namespace ombrix {

// The grid's colour: a mid grey, visible on black (5.3:1) and on white (3.9:1).
inline constexpr TColor kPixelGridColor = 0x808080;
// The smallest enlargement, per axis, that gets grid lines: smaller squares would be mostly
// grid.
inline constexpr double kPixelGridMinimumScale = 4;

// Draws the grid over `view` for a zoom that placed a capture of captureWidth x captureHeight
// pixels through `x` and `y` (ZoomAxes): view column i belongs to the capture column
// floor((i + 0.5 - x.Offset) / x.Scale), as the zoom's nearest-neighbour sampling has it, and
// the last column of each capture column's square turns kPixelGridColor (blue, green and red;
// the fourth byte stays); rows likewise. So the top-left (f - 1) x (f - 1) pixels of each
// f x f square keep the picture, and so does the square's top-left pixel, on which the
// cross-line stands. An axis whose scale is below kPixelGridMinimumScale gets no lines; only
// the area the zoom drew (pixel centres inside the enlarged capture) is touched.
void DrawPixelGrid(TBitmap& view, int captureWidth, int captureHeight, const TZoomAxis& x,
                   const TZoomAxis& y);

}  // namespace ombrix
