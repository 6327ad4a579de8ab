#include "Stereo3D.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrix {
namespace {

// Pixel (x, y) has red x + 16 y, green 64 more and blue 128 more: every byte tells where it
// came from, and red apart from green and blue.
constexpr int kHeight = 3;

void Number(TBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const unsigned v = static_cast<unsigned>(x + 16 * y);
      b.Canvas().SetPixel(x, y, v | (v + 64) << 8 | (v + 128) << 16);
    }
}

// The expected picture, column by column: on even rows red comes from column redEven[x] and
// green and blue from restEven[x] of the same row; on odd rows from redOdd and restOdd.
struct StereoCase {
  const char* name;
  int position;
  int width;
  std::vector<int> redEven, restEven, redOdd, restOdd;
};

class StereoPosition : public testing::TestWithParam<StereoCase> {};

TEST_P(StereoPosition, TakesEachByteFromItsHalf) {
  const StereoCase& c = GetParam();
  TBitmap capture(c.width, kHeight);
  Number(capture);
  Compose3D(capture, c.position);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < c.width; ++x) {
      const auto at = static_cast<std::size_t>(x);
      const unsigned red = static_cast<unsigned>((y % 2 == 0 ? c.redEven : c.redOdd)[at] + 16 * y);
      const unsigned rest =
          static_cast<unsigned>((y % 2 == 0 ? c.restEven : c.restOdd)[at] + 16 * y);
      EXPECT_EQ(capture.Canvas().Pixel(x, y), red | (rest + 64) << 8 | (rest + 128) << 16)
          << "(" << x << ", " << y << ")";
    }
}

using V = std::vector<int>;

// Left half 0 .. M - 1, right half M .. W - 1 with M = W div 2: for W = 5 the right half has
// three columns and the left half's last column stands in for its missing third.
INSTANTIATE_TEST_SUITE_P(
    Stereo3D, StereoPosition,
    testing::Values(StereoCase{"NoneEven", 0, 4, V{0, 1, 2, 3}, V{0, 1, 2, 3}, V{0, 1, 2, 3},
                               V{0, 1, 2, 3}},
                    StereoCase{"ExchangeEven", 1, 4, V{2, 3, 0, 1}, V{2, 3, 0, 1}, V{2, 3, 0, 1},
                               V{2, 3, 0, 1}},
                    StereoCase{"AnaglyphEven", 2, 4, V{0, 0, 1, 1}, V{2, 2, 3, 3}, V{0, 0, 1, 1},
                               V{2, 2, 3, 3}},
                    StereoCase{"AnaglyphOdd", 2, 5, V{0, 0, 1, 1, 1}, V{2, 2, 3, 3, 4},
                               V{0, 0, 1, 1, 1}, V{2, 2, 3, 3, 4}},
                    StereoCase{"InterlacedEven", 3, 4, V{0, 0, 1, 1}, V{0, 0, 1, 1}, V{2, 2, 3, 3},
                               V{2, 2, 3, 3}},
                    StereoCase{"InterlacedOdd", 3, 5, V{0, 0, 1, 1, 1}, V{0, 0, 1, 1, 1},
                               V{2, 2, 3, 3, 4}, V{2, 2, 3, 3, 4}},
                    StereoCase{"MirrorRightEven", 4, 4, V{0, 1, 3, 2}, V{0, 1, 3, 2}, V{0, 1, 3, 2},
                               V{0, 1, 3, 2}},
                    StereoCase{"MirrorRightOdd", 4, 5, V{0, 1, 4, 3, 2}, V{0, 1, 4, 3, 2},
                               V{0, 1, 4, 3, 2}, V{0, 1, 4, 3, 2}},
                    StereoCase{"MirrorLeftEven", 5, 6, V{2, 1, 0, 3, 4, 5}, V{2, 1, 0, 3, 4, 5},
                               V{2, 1, 0, 3, 4, 5}, V{2, 1, 0, 3, 4, 5}},
                    StereoCase{"MirrorLeftOdd", 5, 5, V{1, 0, 2, 3, 4}, V{1, 0, 2, 3, 4},
                               V{1, 0, 2, 3, 4}, V{1, 0, 2, 3, 4}},
                    StereoCase{"UnknownPositionNothing", 6, 5, V{0, 1, 2, 3, 4}, V{0, 1, 2, 3, 4},
                               V{0, 1, 2, 3, 4}, V{0, 1, 2, 3, 4}}),
    [](const testing::TestParamInfo<StereoCase>& p) { return std::string(p.param.name); });

// The fourth byte: the anaglyph keeps each pixel's own, the others move it with the pixel.
TEST(Stereo3D, FourthByteStaysWithTheAnaglyphAndTravelsOtherwise) {
  TBitmap anaglyph(4, 2);
  TBitmap interlaced(4, 2);
  for (TBitmap* b : {&anaglyph, &interlaced}) {
    Number(*b);
    for (int x = 0; x < 4; ++x) b->ScanLine(1)[x * 4 + 3] = static_cast<uint8_t>(0xA0 + x);
  }
  Anaglyph(anaglyph);
  Interlace(interlaced);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(anaglyph.ScanLine(1)[x * 4 + 3], 0xA0 + x);
    EXPECT_EQ(interlaced.ScanLine(1)[x * 4 + 3], 0xA0 + 2 + x / 2);  // row 1: the right half
  }
}

TEST(Stereo3D, PicturesNarrowerThanTwoPixelsAreLeftAlone) {
  for (int position : {2, 3, 4, 5}) {
    TBitmap column(1, 2);
    Number(column);
    Compose3D(column, position);
    EXPECT_EQ(column.Canvas().Pixel(0, 1), 16u | 80u << 8 | 144u << 16) << position;
    TBitmap empty;
    Compose3D(empty, position);
    EXPECT_TRUE(empty.Empty());
  }
}

}  // namespace
}  // namespace ombrix
