#pragma once
// Pictures the benchmarks share, built in memory: 32-bit, rows bottom-up, byte 3 zero.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace ombrix::bench {

// A photograph's kind of content: soft overlapping shapes, gradients and fine noise.
inline std::vector<uint8_t> PhotoLike(int32_t width, int32_t height) {
  std::vector<uint8_t> block(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             4);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 2.5);
  struct TShape {
    double x, y, radius, colour[3];
  };
  std::vector<TShape> shapes(12);
  for (TShape& s : shapes) {
    s = {unit(random) * width, unit(random) * height, 60 + unit(random) * 250, {}};
    for (double& c : s.colour) c = unit(random) * 255;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double sum[3] = {40 + 0.1 * y, 60 + 0.05 * x, 90};
      double weights = 1;
      for (const TShape& s : shapes) {
        const double d = std::hypot(x - s.x, y - s.y);
        const double w = d < s.radius ? 3 * std::exp(-2 * d * d / (s.radius * s.radius)) : 0;
        for (int c = 0; c < 3; ++c) sum[c] += w * s.colour[c];
        weights += w;
      }
      uint8_t* pixel = block.data() + static_cast<std::size_t>((y * width + x) * 4);
      for (int c = 0; c < 3; ++c) {
        const double v =
            sum[c] / weights + noise(random) + (c == 1 ? 10 * std::sin(x * 0.05 + y * 0.03) : 0);
        pixel[c] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
  return block;
}

// A screen's kind of content: flat panels with rows of small dark glyphs.
inline std::vector<uint8_t> ScreenLike(int32_t width, int32_t height) {
  std::vector<uint8_t> block(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             4);
  std::mt19937 random(4);
  std::vector<bool> glyph(8 * 12);
  for (std::size_t i = 0; i < glyph.size(); ++i) glyph[i] = random() % 3 == 0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int panel = (x / 256 + y / 192) % 3;
      const bool ink = y % 24 < 12 && x % 300 < 250 && (x / 8 * 31 + y / 24 * 17) % 5 != 0 &&
                       glyph[static_cast<std::size_t>((y % 12) * 8 + x % 8)];
      uint8_t* pixel = block.data() + static_cast<std::size_t>((y * width + x) * 4);
      pixel[0] = ink ? 20 : 230;
      pixel[1] = static_cast<uint8_t>(ink ? 20 : 210 - panel * 30);
      pixel[2] = static_cast<uint8_t>(ink ? 20 : 200 + panel * 20);
    }
  }
  return block;
}

}  // namespace ombrix::bench
