#include "BrightnessContrast.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ombrix {
namespace {

double RoundHalfToEven(double v) {
  double whole = std::floor(v);
  const double rest = v - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  return whole;
}

}  // namespace

std::array<uint8_t, 256> BrightnessContrastTable(int brightness, int contrast) {
  const int b = std::clamp(brightness, -kBrightnessContrastLimit, kBrightnessContrastLimit);
  const int c = std::clamp(contrast, -kBrightnessContrastLimit, kBrightnessContrastLimit);
  const double slope = (100.0 + c) / 100.0;
  const double k = slope * slope;
  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    const double value = RoundHalfToEven((v - 127.5) * k + 127.5 + 2.55 * b);
    table[static_cast<std::size_t>(v)] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
  }
  return table;
}

bool BrightnessContrastIsIdentity(int brightness, int contrast) {
  return brightness == 0 && contrast == 0;
}

const std::array<uint8_t, 256>* TBrightnessContrast::Table(int brightness, int contrast) {
  if (BrightnessContrastIsIdentity(brightness, contrast)) return nullptr;
  if (!made_ || brightness != brightness_ || contrast != contrast_) {
    table_ = BrightnessContrastTable(brightness, contrast);
    brightness_ = brightness;
    contrast_ = contrast;
    made_ = true;
  }
  return &table_;
}

}  // namespace ombrix
