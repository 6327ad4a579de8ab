#include "iwRGB32.h"

#include <cstddef>

namespace ombrix {

namespace {

std::size_t PixelCount(const uint8_t* pixels, int32_t width, int32_t height) {
  if (pixels == nullptr || width <= 0 || height <= 0) return 0;
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

void StoreLuminance(uint8_t* pixels, int32_t width, int32_t height) {
  const std::size_t n = PixelCount(pixels, width, height);
  for (std::size_t i = 0; i < n; ++i, pixels += 4) pixels[3] = Luminance(pixels[2], pixels[1], pixels[0]);
}

void MakeGrey(uint8_t* pixels, int32_t width, int32_t height) {
  const std::size_t n = PixelCount(pixels, width, height);
  for (std::size_t i = 0; i < n; ++i, pixels += 4) {
    const uint8_t l = Luminance(pixels[2], pixels[1], pixels[0]);
    pixels[0] = l;
    pixels[1] = l;
    pixels[2] = l;
  }
}

}  // namespace ombrix
