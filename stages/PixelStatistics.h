#pragma once
// The pixel statistics of a left click into the view: the clicked pixel, its 5 x 5 surroundings
// and the whole picture, as the three text lines of the statistics window. Pure computation on
// a bitmap; any thread, on a bitmap nobody changes meanwhile.

#include <array>
#include <cstdint>
#include <string>

#include "Graphics.h"

namespace ombrix {

// Luminance 0.29 R + 0.58 G + 0.11 B, computed in extended precision (long double, 64-bit
// mantissa) and rounded to the nearest integer, halves to even. Pure white gives 250: the
// weights add up to 0.98. Also takes sums of several pixels (up to about 10^16 each).
int64_t Luminance(int64_t red, int64_t green, int64_t blue);

struct TPixelStatistics {
  // "L%3.3d R%3.3d G%3.3d B%3.3d" of the clicked pixel; the same of the 5 x 5 averages;
  // "Lmin%3.3d LMax%3.3d Lavr%3.3d" of the whole picture.
  std::array<std::string, 3> Lines;
  // The clicked pixel, 0x00BBGGRR: the window's background.
  TColor Color = clWhite;
};

// The statistics of `view` for a click at picture coordinates (x, y).
// A point outside the picture reads as white (R255 G255 B255), in line 1 and in the colour as
// among the 5 x 5 points. A picture without pixels has no luminance range: its third line reads
// "Lmin--- LMax--- Lavr---". Never divides by zero; raises nothing.
TPixelStatistics PixelStatistics(const TBitmap& view, int x, int y);

}  // namespace ombrix
