#include "iwRGB32.h"

#include <gtest/gtest.h>

#include <array>

namespace ombrix {
namespace {

// Red, white, blue, and blue 10 green 20 red 30: (900 + 1180 + 110) div 100 = 21.
TEST(PixelHelpers, LuminanceGoesIntoByteThreeOrIntoTheColourBytes) {
  std::array<uint8_t, 16> px = {0, 0, 255, 9, 255, 255, 255, 9, 255, 0, 0, 9, 10, 20, 30, 9};
  StoreLuminance(px.data(), 2, 2);
  EXPECT_EQ((std::array{px[3], px[7], px[11], px[15]}), (std::array<uint8_t, 4>{76, 255, 28, 21}));
  EXPECT_EQ((std::array{px[0], px[1], px[2]}), (std::array<uint8_t, 3>{0, 0, 255}));
  px[15] = 9;
  MakeGrey(px.data(), 2, 2);
  EXPECT_EQ((std::array{px[12], px[13], px[14], px[15]}), (std::array<uint8_t, 4>{21, 21, 21, 9}));
  EXPECT_EQ(ClampByte(-1), 0);
  EXPECT_EQ(ClampByte(256), 255);
}

}  // namespace
}  // namespace ombrix
