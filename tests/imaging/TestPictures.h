#pragma once
// Small pictures and listeners built inside the imaging tests.

#include <cstdint>
#include <random>

#include "Graphics.h"
#include "iwMisc.h"

namespace ombrix::test {

// A grey of level v (0x00BBGGRR).
inline TColor Grey(uint8_t v) { return v * 0x010101u; }

// Fills the whole bitmap with one colour (0x00BBGGRR).
inline void Fill(TBitmap& bitmap, TColor color) {
  bitmap.Canvas().Brush.Color = color;
  bitmap.Canvas().FillRect({0, 0, bitmap.Width(), bitmap.Height()});
}

// Every byte of every row, padding excluded, from a seeded generator.
inline void FillRandom(TBitmap& bitmap, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  const int bytesPerRow = bitmap.Width() * BytesPerPixel(bitmap.PixelFormat());
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int i = 0; i < bytesPerRow; ++i) row[i] = static_cast<uint8_t>(byte(random));
  }
}

// The 4 bytes of pixel (x, y) of a 32-bit bitmap, y counted from the top.
inline uint8_t* PixelAt(TBitmap& bitmap, int x, int y) {
  return bitmap.ScanLine(y) + 4 * x;
}

// Counts the change notifications of a stage.
struct ChangeCounter {
  explicit ChangeCounter(TImageBaseProcess& stage) {
    stage.OnChange = [this, &stage](TImageBaseProcess* sender) {
      ++count;
      if (sender != &stage) ++wrongSender;
    };
  }
  int count = 0;
  int wrongSender = 0;
};

}  // namespace ombrix::test
