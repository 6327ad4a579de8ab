#include "iwRGB32.h"

#include <gtest/gtest.h>

#include <array>

namespace ombrix {
namespace {

TEST(PixelHelpers, ClampByteLimitsToTheByteRange) {
  EXPECT_EQ(ClampByte(-1), 0);
  EXPECT_EQ(ClampByte(0), 0);
  EXPECT_EQ(ClampByte(255), 255);
  EXPECT_EQ(ClampByte(256), 255);
  EXPECT_EQ(ClampByte(-2147483647 - 1), 0);
}

// Pixels: red, white, blue, and one whose weighted sum is not a multiple of 100.
TEST(PixelHelpers, StoreLuminanceWritesOnlyByteThree) {
  std::array<uint8_t, 16> pixels = {0, 0, 255, 9, 255, 255, 255, 9, 255, 0, 0, 9, 10, 20, 30, 9};
  StoreLuminance(pixels.data(), 2, 2);
  EXPECT_EQ(pixels[3], 76);
  EXPECT_EQ(pixels[7], 255);
  EXPECT_EQ(pixels[11], 28);
  EXPECT_EQ(pixels[15], 21);  // (900 + 1180 + 110) div 100
  EXPECT_EQ(pixels[0], 0);
  EXPECT_EQ(pixels[2], 255);
  EXPECT_EQ(pixels[12], 10);
}

TEST(PixelHelpers, MakeGreyWritesTheColourBytesAndKeepsByteThree) {
  std::array<uint8_t, 8> pixels = {0, 0, 255, 7, 10, 20, 30, 8};
  MakeGrey(pixels.data(), 2, 1);
  EXPECT_EQ(pixels, (std::array<uint8_t, 8>{76, 76, 76, 7, 21, 21, 21, 8}));
}

TEST(PixelHelpers, NothingHappensWithoutPixels) {
  std::array<uint8_t, 4> pixels = {1, 2, 3, 4};
  StoreLuminance(pixels.data(), 0, 5);
  MakeGrey(pixels.data(), 1, -1);
  StoreLuminance(nullptr, 1, 1);
  EXPECT_EQ(pixels, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace ombrix
