#include "PlgBlt.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

// Gives pixel (x, y) the colour x + 16 y.
void Number(TBitmap& b) {
  const int w = b.Width(), h = b.Height();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Canvas().SetPixel(x, y, static_cast<TColor>(x + 16 * y));
}

TColor At(TBitmap& b, int x, int y) { return b.Canvas().Pixel(x, y); }

struct Operation {
  const char* name;
  TPoint p0, p1, p2;
  // Where source pixel (x, y) of a square n x n picture lands.
  TPoint (*land)(int x, int y, int n);
};

class PlgBltSquare : public testing::TestWithParam<Operation> {};

TEST_P(PlgBltSquare, MapsEveryPixelExactly) {
  const int n = 6;
  TBitmap src(n, n);
  Number(src);
  TBitmap dst(n, n);
  const Operation& op = GetParam();
  const TPoint pts[3] = {op.p0, op.p1, op.p2};
  PlgBlt(dst, pts, ViewOf(src), 0, 0, n, n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const TPoint t = op.land(x, y, n);
      EXPECT_EQ(At(dst, t.X, t.Y), static_cast<TColor>(x + 16 * y)) << x << "," << y;
    }
}

constexpr int N = 6;
INSTANTIATE_TEST_SUITE_P(
    Operations, PlgBltSquare,
    testing::Values(
        Operation{"Copy", {0, 0}, {N, 0}, {0, N}, [](int x, int y, int) { return TPoint{x, y}; }},
        Operation{"VerticalMirror", {0, N}, {N, N}, {0, 0},
                  [](int x, int y, int n) { return TPoint{x, n - 1 - y}; }},
        Operation{"HorizontalMirror", {N, 0}, {0, 0}, {N, N},
                  [](int x, int y, int n) { return TPoint{n - 1 - x, y}; }},
        Operation{"Turn90", {N, 0}, {N, N}, {0, 0},
                  [](int x, int y, int n) { return TPoint{n - 1 - y, x}; }},
        Operation{"Turn180", {N, N}, {0, N}, {N, 0},
                  [](int x, int y, int n) { return TPoint{n - 1 - x, n - 1 - y}; }},
        Operation{"Turn270", {0, N}, {0, 0}, {N, N},
                  [](int x, int y, int n) { return TPoint{y, n - 1 - x}; }}),
    [](const testing::TestParamInfo<Operation>& p) { return p.param.name; });

TEST(PlgBlt, CopiesASubRectangleAndKeepsPixelsOutsideTheTarget) {
  TBitmap src(8, 8);
  Number(src);
  TBitmap dst(8, 8);
  dst.Canvas().Brush.Color = 0xABCDEF;
  dst.Canvas().FillRect({0, 0, 8, 8});
  const TPoint pts[3] = {{4, 0}, {8, 0}, {4, 8}};
  PlgBlt(dst, pts, ViewOf(src), 0, 0, 4, 8);
  EXPECT_EQ(At(dst, 4, 0), 0u);
  EXPECT_EQ(At(dst, 7, 7), static_cast<TColor>(3 + 16 * 7));
  EXPECT_EQ(At(dst, 3, 3), 0xABCDEFu);
}

TEST(PlgBlt, QuarterTurnOfAWidePictureStretchesOntoTheHeight) {
  // A 4 x 2 zone turned into a 4 x 2 bitmap: the zone's width spans the bitmap's height.
  TBitmap src(4, 2);
  Number(src);
  TBitmap dst(4, 2);
  const TPoint pts[3] = {{4, 0}, {4, 2}, {0, 0}};
  PlgBlt(dst, pts, ViewOf(src), 0, 0, 4, 2);
  // Each bitmap row covers two zone columns and takes the one under its centre; the zone's
  // top row lands in the right column.
  EXPECT_EQ(At(dst, 3, 0), 1u);
  EXPECT_EQ(At(dst, 0, 0), 17u);
  EXPECT_EQ(At(dst, 3, 1), 3u);
}

}  // namespace
}  // namespace ombrix
