#include "PixelStatistics.h"

#include <algorithm>
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

double Linear(uint32_t channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

std::string HexColour(TColor color) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", color & 0xFFu, color >> 8 & 0xFFu,
                color >> 16 & 0xFFu);
  return text;
}

double RelativeLuminance(TColor color) {
  return 0.2126 * Linear(color & 0xFFu) + 0.7152 * Linear(color >> 8 & 0xFFu) +
         0.0722 * Linear(color >> 16 & 0xFFu);
}

int ContrastRatioHundredths(TColor a, TColor b) {
  const double la = RelativeLuminance(a);
  const double lb = RelativeLuminance(b);
  const double ratio = (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
  // The small allowance keeps 21 from showing as 20.99 through the weights' binary rounding.
  return static_cast<int>(std::floor(ratio * 100 + 1e-6));
}

std::string ContrastLine(TColor color, TColor previous) {
  const int ratio = ContrastRatioHundredths(color, previous);
  const char* level = ratio >= 700 ? " AAA" : ratio >= 450 ? " AA" : "";
  char text[64];
  std::snprintf(text, sizeof text, "%d.%02d:1%s against %s", ratio / 100, ratio % 100, level,
                HexColour(previous).c_str());
  return text;
}

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
