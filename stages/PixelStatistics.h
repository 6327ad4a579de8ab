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

// The colour `color` (0x00BBGGRR) as "#RRGGBB", upper-case hexadecimal digits.
std::string HexColour(TColor color);

// Relative luminance of an sRGB colour, 0 (black) to 1 (white): each of red, green and blue
// c / 255 made linear (c / 12.92 up to 0.04045, else ((c + 0.055) / 1.055)^2.4), weighted
// 0.2126, 0.7152 and 0.0722.
double RelativeLuminance(TColor color);

// The contrast ratio (L1 + 0.05) / (L2 + 0.05) of two colours, L1 the lighter one's relative
// luminance, in hundredths, rounded down: the figure never claims more contrast than there is.
// 100 (1.00:1) for equal colours, 2100 (21.00:1) for black and white.
int ContrastRatioHundredths(TColor a, TColor b);

// The statistics window's line for the contrast between the clicked colour and the one
// clicked before: "%d.%02d:1" with ContrastRatioHundredths, then " AAA" at 7.00 and above or
// " AA" at 4.50 and above (nothing below), then " against " and HexColour(previous).
// Example: "4.54:1 AA against #767676" for white after #767676.
std::string ContrastLine(TColor color, TColor previous);

}  // namespace ombrix
