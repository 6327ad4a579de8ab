#pragma once
// Pixel helpers on the working-image layout: 4 bytes a pixel (blue, green, red, reserved),
// rows without padding.

#include <cstdint>

namespace ombrix {

// 0 below 0, 255 above 255, v otherwise.
constexpr uint8_t ClampByte(int32_t v) {
  return v < 0 ? uint8_t{0} : v > 255 ? uint8_t{255} : static_cast<uint8_t>(v);
}

// (30 red + 59 green + 11 blue) div 100, truncating.
constexpr uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((30u * red + 59u * green + 11u * blue) / 100u);
}

// Writes the luminance into byte 3 of each of the width x height pixels; colours unchanged.
// Nothing happens for a null block or a size that is not positive.
void StoreLuminance(uint8_t* pixels, int32_t width, int32_t height);

// Writes the luminance into bytes 0, 1 and 2 of each pixel; byte 3 unchanged.
void MakeGrey(uint8_t* pixels, int32_t width, int32_t height);

}  // namespace ombrix
