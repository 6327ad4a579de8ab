#pragma once
// Copying a rectangle of pixels through a parallelogram, as the frame cycle copies the screen
// zone into the capture bitmap and the half exchange copies between bitmaps.

#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "Graphics.h"

namespace ombrix {

// Read access to 32-bit pixels (blue, green, red, one unused byte) anywhere in memory:
// `top` is the first byte of picture row 0, `stride` the bytes from one row to the next below
// it (negative for a bottom-up bitmap).
struct TPixelView {
  const uint8_t* top = nullptr;
  std::ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;
};

// The view of a 32-bit bitmap. Precondition: bitmap.PixelFormat() == pf32bit.
TPixelView ViewOf(const TBitmap& bitmap);

// Copies the source rectangle (sx, sy, w x h, inside `source`) into `dest` (32 bits per pixel)
// so that its top-left corner lands on points[0], its top-right on points[1] and its bottom-left
// on points[2]; coordinates are pixel corners. A destination pixel whose centre lies inside the
// parallelogram takes the source pixel under the centre's inverse image (nearest pixel, no
// blending); every other destination pixel keeps its value. The fourth byte is copied too.
// Nothing happens when w or h is not positive or the parallelogram is degenerate.
// Preconditions: dest.PixelFormat() == pf32bit; the source rectangle lies inside `source`.
void PlgBlt(TBitmap& dest, const TPoint (&points)[3], const TPixelView& source, int sx, int sy,
            int w, int h);

}  // namespace ombrix
