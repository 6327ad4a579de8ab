#include "PixelStatistics.h"

#include <cmath>
#include <cstdio>

namespace ombrix {
namespace {

struct TRgb {
  int64_t Red;
  int64_t Green;
  int64_t Blue;
};

// A point outside the picture reads as the invalid colour's three low bytes: white.
TRgb ReadPixel(const TBitmap& view, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= view.Width() || y >= view.Height()) return {255, 255, 255};
  const uint8_t* p = view.ScanLine(static_cast<int>(y)) +
                     x * static_cast<int64_t>(BytesPerPixel(view.PixelFormat()));
  return {p[2], p[1], p[0]};
}

std::string ColourLine(int64_t l, int64_t r, int64_t g, int64_t b) {
  char text[96];
  std::snprintf(text, sizeof text, "L%3.3lld R%3.3lld G%3.3lld B%3.3lld", static_cast<long long>(l),
                static_cast<long long>(r), static_cast<long long>(g), static_cast<long long>(b));
  return text;
}

std::string RangeLine(const TBitmap& view) {
  const int w = view.Width();
  const int h = view.Height();
  if (w <= 0 || h <= 0) return "Lmin--- LMax--- Lavr---";
  int32_t lMin = 2147483647;
  int32_t lMax = -2147483647;
  int64_t sum = 0;
  const int step = BytesPerPixel(view.PixelFormat());
  // Row by row for the memory's sake: the order of the visits changes neither bound nor sum.
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = view.ScanLine(y);
    for (int x = 0; x < w; ++x, p += step) {
      const auto l = static_cast<int32_t>(Luminance(p[2], p[1], p[0]));
      if (l <= lMin) lMin = l;
      if (l >= lMax) lMax = l;
      sum += l;
    }
  }
  const int64_t mean = sum / w / h;
  char text[96];
  std::snprintf(text, sizeof text, "Lmin%3.3d LMax%3.3d Lavr%3.3lld", lMin, lMax,
                static_cast<long long>(mean));
  return text;
}

}  // namespace

int64_t Luminance(int64_t red, int64_t green, int64_t blue) {
  const long double l = 0.29L * static_cast<long double>(red) +
                        0.58L * static_cast<long double>(green) +
                        0.11L * static_cast<long double>(blue);
  // Halves go to even whatever rounding mode the thread happens to run in.
  long double whole = std::floor(l);
  const long double rest = l - whole;
  if (rest > 0.5L || (rest == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
  return static_cast<int64_t>(whole);
}

TPixelStatistics PixelStatistics(const TBitmap& view, int x, int y) {
  TPixelStatistics result;
  const TRgb pixel = ReadPixel(view, x, y);
  result.Color = static_cast<TColor>(pixel.Red | pixel.Green << 8 | pixel.Blue << 16);
  result.Lines[0] =
      ColourLine(Luminance(pixel.Red, pixel.Green, pixel.Blue), pixel.Red, pixel.Green, pixel.Blue);

  TRgb sum{0, 0, 0};
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      const TRgb p = ReadPixel(view, int64_t{x} + dx, int64_t{y} + dy);
      sum.Red += p.Red;
      sum.Green += p.Green;
      sum.Blue += p.Blue;
    }
  }
  // The luminance of the summed colours, not the sum of the pixels' own luminances.
  result.Lines[1] = ColourLine(Luminance(sum.Red, sum.Green, sum.Blue) / 25, sum.Red / 25,
                               sum.Green / 25, sum.Blue / 25);
  result.Lines[2] = RangeLine(view);
  return result;
}

}  // namespace ombrix
