#include "HalfExchange.h"

#include <gtest/gtest.h>

#include "PlgBlt.h"

namespace ombrix {
namespace {

// Gives pixel (x, y) the colour x + 16 y, so that every pixel says where it came from.
void Number(TBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.Canvas().SetPixel(x, y, static_cast<TColor>(x + 16 * y));
}

TColor Numbered(int x, int y) {
  return static_cast<TColor>(x + 16 * y);
}

TEST(HalfExchange, RedLeftBlueRightBecomesBlueLeftRedRight) {
  const TColor blue = 0xFF0000;
  TBitmap capture(8, 4);
  capture.Canvas().Brush.Color = clRed;
  capture.Canvas().FillRect({0, 0, 4, 4});
  capture.Canvas().Brush.Color = blue;
  capture.Canvas().FillRect({4, 0, 8, 4});

  HalfExchange(capture);

  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(capture.Canvas().Pixel(x, y), x < 4 ? blue : clRed) << x << "," << y;
}

TEST(HalfExchange, EachHalfMovesUnchangedInItself) {
  const int w = 10, h = 3, m = 5;
  TBitmap capture(w, h);
  Number(capture);
  // The byte without colour travels with its pixel.
  capture.ScanLine(1)[3] = 0xAB;

  HalfExchange(capture);

  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int from = x < m ? x + m : x - m;
      EXPECT_EQ(capture.Canvas().Pixel(x, y), Numbered(from, y)) << x << "," << y;
    }
  EXPECT_EQ(capture.ScanLine(1)[m * 4 + 3], 0xAB);
}

TEST(HalfExchange, AfterHorizontalMirrorGivesBackTheHalvesInPlaceEachMirrored) {
  const int w = 8, h = 3, m = 4;
  TBitmap zone(w, h);
  Number(zone);
  // The frame cycle's "HM" operation: the zone's top-left corner lands at (W, 0).
  TBitmap capture(w, h);
  const TPoint mirror[3] = {{w, 0}, {0, 0}, {w, h}};
  PlgBlt(capture, mirror, ViewOf(zone), 0, 0, w, h);

  HalfExchange(capture);

  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int from = x < m ? m - 1 - x : w - 1 - (x - m);
      EXPECT_EQ(capture.Canvas().Pixel(x, y), Numbered(from, y)) << x << "," << y;
    }
}

TEST(HalfExchange, PicturesWithoutTwoColumnsAreLeftAlone) {
  TBitmap empty;
  HalfExchange(empty);
  EXPECT_TRUE(empty.Empty());

  TBitmap column(1, 3);
  Number(column);
  HalfExchange(column);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(column.Canvas().Pixel(0, y), Numbered(0, y));
}

}  // namespace
}  // namespace ombrix
