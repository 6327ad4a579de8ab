#include "ZoomCentre.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../imaging/TestPictures.h"
#include "PlgBlt.h"
#include "Zoom.h"

namespace ombrix {
namespace {

// The graphic operations' destination corners of a w x h zone.
void Points(int operation, int w, int h, TPoint (&p)[3]) {
  const TPoint all[6][3] = {{{0, 0}, {w, 0}, {0, h}}, {{0, h}, {w, h}, {0, 0}},
                            {{w, 0}, {0, 0}, {w, h}}, {{w, 0}, {w, h}, {0, 0}},
                            {{w, h}, {0, h}, {w, 0}}, {{0, h}, {0, 0}, {w, h}}};
  for (int i = 0; i < 3; ++i) p[i] = all[operation][i];
}

struct CentreCase {
  const char* name;
  int operation, w, h;
  TPoint cursor;
  TPoint expected;
};

class ZoomCentreOf : public testing::TestWithParam<CentreCase> {};

TEST_P(ZoomCentreOf, IsWhereTheOperationPutsTheCursorsPixel) {
  const CentreCase& c = GetParam();
  TPoint points[3];
  Points(c.operation, c.w, c.h, points);
  const TPoint got = ZoomCentre(points, c.w, c.h, c.cursor);
  EXPECT_EQ(got.X, c.expected.X);
  EXPECT_EQ(got.Y, c.expected.Y);

  // And the copy through the operation really put the cursor's pixel there.
  TBitmap zone(c.w, c.h);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) zone.Canvas().SetPixel(x, y, static_cast<TColor>(x + 1000 * y));
  TBitmap capture(c.w, c.h);
  PlgBlt(capture, points, ViewOf(zone), 0, 0, c.w, c.h);
  // Exact where neither axis keeps the middle and no quarter turn squeezes the picture.
  const bool quarterTurn = c.operation == 3 || c.operation == 5;
  if (c.cursor.X != c.w / 2 && c.cursor.Y != c.h / 2 && (!quarterTurn || c.w == c.h)) {
    EXPECT_EQ(capture.Canvas().Pixel(got.X, got.Y),
              static_cast<TColor>(c.cursor.X + 1000 * c.cursor.Y));
  }
}

// Operations: 0 copy, 1 upside down, 2 left-right, 3 quarter turn clockwise, 4 half turn,
// 5 quarter turn counter-clockwise. An axis on which the cursor is in the middle (no shift)
// keeps the middle, whatever the operation does to it.
INSTANTIATE_TEST_SUITE_P(
    ZoomCentre, ZoomCentreOf,
    testing::Values(CentreCase{"CopyUnshifted", 0, 100, 80, {50, 40}, {50, 40}},
                    CentreCase{"CopyLeftEdge", 0, 100, 80, {10, 40}, {10, 40}},
                    CentreCase{"CopyBottomRightCorner", 0, 100, 80, {90, 70}, {90, 70}},
                    // Unshifted, a mirror still enlarges about the middle, as it always did.
                    CentreCase{"MirrorUnshifted", 2, 100, 80, {50, 40}, {50, 40}},
                    CentreCase{"MirrorLeftEdge", 2, 100, 80, {10, 40}, {89, 40}},
                    CentreCase{"UpsideDownTopEdge", 1, 100, 80, {50, 10}, {50, 69}},
                    CentreCase{"UpsideDownLeftEdge", 1, 100, 80, {10, 40}, {10, 40}},
                    CentreCase{"HalfTurnCorner", 4, 100, 80, {10, 10}, {89, 69}},
                    CentreCase{"HalfTurnCornerSquare", 4, 80, 80, {10, 70}, {69, 9}},
                    CentreCase{"QuarterTurnLeftEdge", 3, 80, 80, {10, 40}, {40, 10}},
                    CentreCase{"QuarterTurnTopEdge", 3, 80, 80, {40, 10}, {69, 40}},
                    CentreCase{"QuarterTurnCorner", 3, 80, 80, {10, 70}, {9, 10}},
                    CentreCase{"ThreeQuarterTurnCorner", 5, 80, 80, {10, 70}, {70, 69}},
                    CentreCase{"ThreeQuarterTurnLeftEdge", 5, 80, 80, {10, 40}, {40, 69}},
                    // 100 wide onto 50 high: zone column 10 lands on capture row 5.
                    CentreCase{"QuarterTurnSqueezed", 3, 100, 50, {10, 25}, {50, 5}}),
    [](const testing::TestParamInfo<CentreCase>& p) { return std::string(p.param.name); });

// Enlarging about the middle of an even view is enlarging about its centre as before, bit
// for bit, at every factor.
TEST(ZoomCentre, MiddleCentreDrawsExactlyAsTheViewsCentre) {
  constexpr int w = 62, h = 38;
  TBitmap capture(w, h);
  test::FillRandom(capture, 11);
  for (int slider = 0; slider <= 4; ++slider) {
    TBitmap before(w, h), after(w, h);
    ZoomStage(capture, before, w, h, slider, false, false, 1.5f);
    TZoomSettings settings;
    settings.SliderPosition = slider;
    settings.Gamma = 1.5f;
    settings.Centre = TPoint{w / 2, h / 2};
    ZoomStage(capture, after, w, h, settings);
    for (int y = 0; y < h; ++y)
      ASSERT_EQ(std::memcmp(before.ScanLine(y), after.ScanLine(y), before.RowBytes()), 0)
          << "slider " << slider << " row " << y;
  }
}

// The centre's pixel becomes the f x f square whose top-left pixel is the centre itself.
TEST(ZoomCentre, BicubicZoomKeepsTheCentrePixelUnderIt) {
  constexpr int w = 120, h = 80;
  TBitmap capture(w, h);
  // Blocks of 20: wider than any zoom, so the cubic cannot blur the answer.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      capture.Canvas().SetPixel(x, y, static_cast<TColor>((x / 20) * 40 | (y / 20) * 40 << 8));
  for (int slider = 1; slider <= 4; ++slider)
    for (const TPoint centre : {TPoint{10, 10}, TPoint{110, 70}, TPoint{10, 70}}) {
      TBitmap view(w, h);
      TZoomSettings settings;
      settings.SliderPosition = slider;
      settings.Centre = centre;
      ZoomStage(capture, view, w, h, settings);
      EXPECT_EQ(view.Canvas().Pixel(centre.X, centre.Y), capture.Canvas().Pixel(centre.X, centre.Y))
          << "slider " << slider << " at " << centre.X << "," << centre.Y;
    }
}

}  // namespace
}  // namespace ombrix
