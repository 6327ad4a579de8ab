// ombrix-sample: writes the picture that the README's ombrix-filter examples start from, so
// that they run as written in a fresh build. Colour gradients, hard edges, fine detail and
// single stray pixels: every filter shows on it what it does.
//
//   ombrix-sample OUTPUT.png
//
// Exit status: 0 written, 1 the file could not be written, 2 the command line was wrong.

#include <cstdint>
#include <exception>
#include <iostream>

#include "Codecs.h"
#include "Graphics.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

uint8_t Scale(int value, int range) {
  return static_cast<uint8_t>(value * 255 / range);
}

// Blue, green, red of the pixel at (x, y).
void Colour(int x, int y, uint8_t* pixel) {
  const int dx = x - kWidth / 2;
  const int dy = y - kHeight / 2;
  const int distance2 = dx * dx + dy * dy;
  if (distance2 < 50 * 50) {
    // A checkerboard of 4-pixel squares inside a disc: detail for the blurs and the median.
    const uint8_t value = ((x / 4 + y / 4) % 2 == 0) ? 240 : 16;
    pixel[0] = pixel[1] = pixel[2] = value;
  } else if (distance2 < 70 * 70) {
    pixel[0] = 40;
    pixel[1] = 200;
    pixel[2] = 230;
  } else {
    pixel[0] = 128;
    pixel[1] = Scale(y, kHeight - 1);
    pixel[2] = Scale(x, kWidth - 1);
  }
  // A dark bar with a stray bright pixel now and then: grain for the degrain filters.
  if (y >= 200 && y < 216 && x >= 20 && x < 300) {
    const uint8_t value = (x * 7 + y * 13) % 23 == 0 ? 250 : 20;
    pixel[0] = pixel[1] = pixel[2] = value;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Usage: ombrix-sample OUTPUT.png\n";
    return 2;
  }
  try {
    ombrix::TBitmap picture(kWidth, kHeight, ombrix::pf24bit);
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = picture.ScanLine(y);
      for (int x = 0; x < kWidth; ++x) Colour(x, y, row + 3 * x);
    }
    ombrix::WritePictureFile(picture, argv[1], ombrix::ffPng);
  } catch (const std::exception& e) {
    std::cerr << "ombrix-sample: cannot write '" << argv[1] << "': " << e.what() << "\n";
    return 1;
  }
  return 0;
}
