#pragma once
// Pictures for the tests of the main window and its frame cycle: a desktop picture in which
// every pixel tells where it is, and the pixel comparisons the tests make. No toolkit.

#include <cstdint>
#include <functional>

#include "Graphics.h"

namespace ombrix::test {

// Paints every pixel of `bitmap` with colour(x, y), x and y in picture coordinates.
inline void Paint(TBitmap& bitmap, const std::function<TColor(int, int)>& colour) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, row += 4) {
      const TColor c = colour(x, y);
      row[0] = static_cast<uint8_t>(c >> 16);
      row[1] = static_cast<uint8_t>(c >> 8);
      row[2] = static_cast<uint8_t>(c);
      row[3] = 0;
    }
  }
}

// A colour that differs for every pixel of a picture up to 4096 x 4096.
inline TColor Where(int x, int y) {
  return static_cast<TColor>((x & 0xFF) | (y & 0xFF) << 8 | ((x >> 8) & 0xF) << 16 |
                             ((y >> 8) & 0xF) << 20);
}

// 0x00BBGGRR as Qt's 0x00RRGGBB.
inline unsigned ToRgb(TColor c) {
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

inline TColor PixelOf(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return static_cast<TColor>(p[2] | p[1] << 8 | p[0] << 16);
}

// Counts the pixels of `capture` that differ from the desktop picture's pixel at
// (x + dx, y + dy).
inline int DifferencesFromDesktop(const TBitmap& capture, const TBitmap& desktop, int dx, int dy) {
  int differences = 0;
  for (int y = 0; y < capture.Height(); ++y) {
    for (int x = 0; x < capture.Width(); ++x) {
      if (PixelOf(capture, x, y) != PixelOf(desktop, x + dx, y + dy)) ++differences;
    }
  }
  return differences;
}

}  // namespace ombrix::test
