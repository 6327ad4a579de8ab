#include "Zoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "../imaging/TestPictures.h"

namespace ombrix {
namespace {

using test::Fill;
using test::FillRandom;

constexpr TColor kUntouched = 0x00FF00FF;

TColor At(TBitmap& b, int x, int y) {
  return b.Canvas().Pixel(x, y);
}

// A different colour for every block x block square, so a misplaced source pixel shows.
TColor BlockColor(int x, int y, int block) {
  const int bx = x / block, by = y / block;
  return static_cast<TColor>(((bx * 37) & 0xFF) | (((by * 53) & 0xFF) << 8) |
                             (((bx * 11 + by * 7) & 0xFF) << 16));
}

void Blocks(TBitmap& b, int block) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.Canvas().SetPixel(x, y, BlockColor(x, y, block));
}

// Expected view of one axis: target pixel i shows source coordinate (i + 0.5 - d) / s; it is
// drawn when that lies inside the source, and its value is exact when every source pixel the
// (widened) cubic reaches lies in the same block.
struct AxisExpectation {
  bool drawn;
  bool exact;
  int source;
};

AxisExpectation Expect(int i, double s, double d, int length, int block) {
  const double u = (i + 0.5 - d) / s;
  const double reach = 2 * std::max(1.0, 1 / s);
  AxisExpectation e{u >= 0 && u < length, false, static_cast<int>(std::floor(u))};
  const double t = u - 0.5;
  const int lo = std::max(0, static_cast<int>(std::floor(t - reach)));
  const int hi = std::min(length - 1, static_cast<int>(std::ceil(t + reach)));
  e.exact = e.drawn && lo / block == hi / block;
  return e;
}

struct ZoomCase {
  const char* name;
  int w, h, slider;
  bool halveWidth, halveHeight;
  // The stage's documented transform for this case.
  double sx, sy, dx, dy;
};

void PrintTo(const ZoomCase& c, std::ostream* os) {
  *os << c.name << " " << c.w << "x" << c.h << " slider " << c.slider;
}

class ZoomTransform : public testing::TestWithParam<ZoomCase> {};

// Every view pixel is either untouched (outside the drawn area), or shows the block of the
// source pixel the transform puts under it; near block edges the cubic blends and is skipped.
TEST_P(ZoomTransform, ShowsTheSourceWhereTheTransformPutsIt) {
  const ZoomCase& c = GetParam();
  constexpr int kBlock = 16;
  TBitmap capture(c.w, c.h);
  Blocks(capture, kBlock);
  TBitmap view(c.w, c.h);
  Fill(view, kUntouched);
  ZoomStage(capture, view, c.w, c.h, c.slider, c.halveWidth, c.halveHeight, 0.0f);

  int drawn = 0, exact = 0;
  for (int y = 0; y < c.h; ++y) {
    const AxisExpectation ey = Expect(y, c.sy, c.dy, c.h, kBlock);
    for (int x = 0; x < c.w; ++x) {
      const AxisExpectation ex = Expect(x, c.sx, c.dx, c.w, kBlock);
      const TColor got = At(view, x, y);
      if (!ex.drawn || !ey.drawn) {
        ASSERT_EQ(got, kUntouched) << "(" << x << "," << y << ") should keep its pixel";
        continue;
      }
      ASSERT_NE(got, kUntouched) << "(" << x << "," << y << ") should be drawn";
      ++drawn;
      if (ex.exact && ey.exact) {
        ASSERT_EQ(got, BlockColor(ex.source, ey.source, kBlock)) << "(" << x << "," << y << ")";
        ++exact;
      }
    }
  }
  EXPECT_GT(drawn, 0);
  EXPECT_GT(exact, drawn / 8);
}

INSTANTIATE_TEST_SUITE_P(
    Zoom, ZoomTransform,
    testing::Values(
        // The middle 180 x 216 of the zone fills the view.
        ZoomCase{"Factor2", 360, 432, 1, false, false, 2, 2, -180, -216},
        ZoomCase{"Factor4", 360, 432, 2, false, false, 4, 4, -540, -648},
        ZoomCase{"Factor6", 240, 200, 3, false, false, 6, 6, -600, -500},
        ZoomCase{"Factor8", 360, 432, 4, false, false, 8, 8, -7 * 180, -7 * 216},
        // The whole zone squeezed into the left (top) half.
        ZoomCase{"HalfWidthFactor1", 360, 432, 0, true, false, 0.5, 1, 0, 0},
        ZoomCase{"HalfHeightFactor1", 360, 432, 0, false, true, 1, 0.5, 0, 0},
        ZoomCase{"HalfBothFactor1", 200, 120, 0, true, true, 0.5, 0.5, 0, 0},
        // x' = x - W/2: the zone's right half, unscaled in width, doubled in height.
        ZoomCase{"HalfWidthFactor2", 360, 432, 1, true, false, 1, 2, -180, -216},
        // x' = 2x - 3W/2: only the zone's rightmost quarter, doubled in width.
        ZoomCase{"HalfWidthFactor4", 360, 432, 2, true, false, 2, 4, -540, -648},
        ZoomCase{"HalfHeightFactor8", 360, 432, 4, false, true, 8, 4, -1260, -1512}),
    [](const testing::TestParamInfo<ZoomCase>& p) { return std::string(p.param.name); });

TEST(Zoom, FactorsOfTheSliderPositions) {
  EXPECT_EQ(ZoomFactor(0), 1);
  EXPECT_EQ(ZoomFactor(1), 2);
  EXPECT_EQ(ZoomFactor(2), 4);
  EXPECT_EQ(ZoomFactor(3), 6);
  EXPECT_EQ(ZoomFactor(4), 8);
}

TEST(Zoom, FactorOneCopiesExactlyWithGammaZeroOrOne) {
  TBitmap capture(62, 38);
  FillRandom(capture, 7);
  for (float gamma : {0.0f, 1.0f}) {
    TBitmap view(62, 38);
    ZoomStage(capture, view, 62, 38, 0, false, false, gamma);
    for (int y = 0; y < 38; ++y)
      for (int x = 0; x < 62; ++x)
        ASSERT_EQ(view.Canvas().Pixel(x, y), capture.Canvas().Pixel(x, y))
            << "gamma " << gamma << " at " << x << "," << y;
  }
}

TEST(Zoom, HalfWidthAtFactorOneFillsTheLeftHalfAndKeepsTheRight) {
  TBitmap capture(80, 40);
  Fill(capture, 0x336699);
  TBitmap view(80, 40);
  Fill(view, clBlack);
  ZoomStage(capture, view, 80, 40, 0, true, false, 0.0f);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x)
      ASSERT_EQ(At(view, x, y), x < 40 ? 0x336699u : clBlack) << x << "," << y;
}

TEST(Zoom, GammaDarkensMidGreyByTheCurve) {
  // round(255 * (128 / 255)^2) = 64 and round(255 * (128 / 255)^0.5) = 181; a flat field stays
  // flat at every factor.
  TBitmap capture(48, 32);
  Fill(capture, 0x808080);
  for (int slider : {0, 1, 4}) {
    TBitmap view(48, 32);
    ZoomStage(capture, view, 48, 32, slider, false, false, 2.0f);
    EXPECT_EQ(At(view, 0, 0), 0x404040u) << slider;
    EXPECT_EQ(At(view, 24, 16), 0x404040u) << slider;
    EXPECT_EQ(At(view, 47, 31), 0x404040u) << slider;
    ZoomStage(capture, view, 48, 32, slider, false, false, 0.5f);
    EXPECT_EQ(At(view, 13, 29), 0xB5B5B5u) << slider;
  }
}

TEST(Zoom, WrongSizedCaptureDrawsNothing) {
  // A capture smaller than the size asked for is not read past its end.
  TBitmap capture(20, 10);
  FillRandom(capture, 3);
  TBitmap view(40, 20);
  Fill(view, kUntouched);
  ZoomStage(capture, view, 40, 20, 0, false, false, 0.0f);
  EXPECT_EQ(At(view, 0, 0), kUntouched);
  EXPECT_EQ(At(view, 39, 19), kUntouched);
}

TEST(RenderScaled, SizesTheViewAndDrawsWithFactorAndGamma) {
  TBitmap source(30, 20);
  Fill(source, 0x808080);
  source.Canvas().SetPixel(3, 4, clRed);
  TBitmap view;
  // A factor of 0 or less counts as 1: an exact copy.
  RenderScaled(source, view, TRect{0, 0, 30, 20}, -3, 0.0f, 30, 20);
  ASSERT_EQ(view.Width(), 30);
  ASSERT_EQ(view.Height(), 20);
  EXPECT_EQ(At(view, 3, 4), clRed);
  EXPECT_EQ(At(view, 29, 19), 0x808080u);
  RenderScaled(source, view, TRect{0, 0, 30, 20}, 1, 2.0f, 30, 20);
  EXPECT_EQ(At(view, 29, 19), 0x404040u);
  EXPECT_EQ(At(view, 3, 4), clRed);
}

TEST(RenderScaled, FactorTwoShowsTheMiddle) {
  TBitmap source(64, 48);
  Blocks(source, 16);
  TBitmap view;
  RenderScaled(source, view, TRect{0, 0, 64, 48}, 2, 0.0f, 64, 48);
  // View (8, 4) shows source (20.25, 14.25), whose cubic reaches only block (1, 0);
  // view (40, 30) shows source (36.25, 27.25), inside block (2, 1).
  EXPECT_EQ(At(view, 8, 4), BlockColor(20, 14, 16));
  EXPECT_EQ(At(view, 40, 30), BlockColor(36, 27, 16));
}

TEST(RenderScaled, LargerBitmapShowsItsTopLeftPart) {
  // Rows are read with the bitmap's own stride, so a bitmap wider than `width` is not sheared.
  TBitmap source(10, 8);
  FillRandom(source, 4);
  TBitmap view;
  RenderScaled(source, view, TRect{0, 0, 6, 4}, 1, 0.0f, 6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(At(view, x, y), source.Canvas().Pixel(x, y));
}

TEST(RenderScaled, NonPositiveSizeLeavesTheViewAlone) {
  TBitmap source(8, 8);
  FillRandom(source, 1);
  TBitmap view(5, 5);
  Fill(view, kUntouched);
  RenderScaled(source, view, TRect{0, 0, 8, 8}, 1, 0.0f, 0, 8);
  RenderScaled(source, view, TRect{0, 0, 8, 8}, 1, 0.0f, 8, -1);
  EXPECT_EQ(view.Width(), 5);
  EXPECT_EQ(view.Height(), 5);
  EXPECT_EQ(At(view, 2, 2), kUntouched);
}

}  // namespace
}  // namespace ombrix
