#include "CrossLine.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace ombrix {
namespace {

using PixelSet = std::set<std::pair<int, int>>;

// The pixels of `b` that have colour `c`.
PixelSet PixelsOf(TBitmap& b, TColor c) {
  PixelSet found;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Canvas().Pixel(x, y) == c) found.insert({x, y});
  return found;
}

void AddRow(PixelSet& s, int y, int x0, int x1) {
  for (int x = x0; x <= x1; ++x) s.insert({x, y});
}

void AddColumn(PixelSet& s, int x, int y0, int y1) {
  for (int y = y0; y <= y1; ++y) s.insert({x, y});
}

// A 40 x 30 view of the zone (100, 50) - (140, 80) with the cursor in its middle.
constexpr int kW = 40, kH = 30, kZoneLeft = 100, kZoneTop = 50;
constexpr TPoint kCentredCursor{kZoneLeft + kW / 2, kZoneTop + kH / 2};

PixelSet DefaultCross() {
  // Centre (20, 15); the gap is 17..22 across and 12..17 down.
  PixelSet s;
  AddRow(s, 15, 0, 16);
  AddRow(s, 15, 23, 39);
  AddColumn(s, 20, 0, 11);
  AddColumn(s, 20, 18, 29);
  return s;
}

TEST(CrossLine, DefaultCrossIsRedCentredWithSixFreePixelsAcrossTheCentre) {
  TBitmap view(kW, kH);
  int tiltX = 0, tiltY = 0;
  DrawCrossLine(view.Canvas(), kCentredCursor, kZoneLeft, kZoneTop, kW, kH, clRed, tiltX, tiltY);

  EXPECT_EQ(PixelsOf(view, clRed), DefaultCross());
  EXPECT_EQ(PixelsOf(view, clBlack).size(), static_cast<std::size_t>(kW * kH) - 58);
}

TEST(CrossLine, TiltsAboveTheLimitAreResetBeforeDrawingOthersKept) {
  TBitmap view(kW, kH);
  int tiltX = 1001, tiltY = 1001;
  DrawCrossLine(view.Canvas(), kCentredCursor, kZoneLeft, kZoneTop, kW, kH, clRed, tiltX, tiltY);
  EXPECT_EQ(tiltX, 0);
  EXPECT_EQ(tiltY, 0);
  EXPECT_EQ(PixelsOf(view, clRed), DefaultCross());

  int keptX = kMaxCrossTilt, keptY = -5000;
  DrawCrossLine(view.Canvas(), kCentredCursor, kZoneLeft, kZoneTop, kW, kH, clRed, keptX, keptY);
  EXPECT_EQ(keptX, 1000);
  EXPECT_EQ(keptY, -5000);
}

TEST(CrossLine, TiltYRunsFromBelowTheCentreAtTheLeftToAboveItAtTheRight) {
  // A 26-pixel width makes each half of the horizontal arm a 10-by-10 diagonal, so the
  // expected pixels do not depend on how a line is rasterised.
  const int w = 26, h = 30, cx = 13, cy = 15;
  TBitmap view(w, h);
  int tiltX = 0, tiltY = 10;
  DrawCrossLine(view.Canvas(), {kZoneLeft + cx, kZoneTop + cy}, kZoneLeft, kZoneTop, w, h, clRed,
                tiltX, tiltY);

  PixelSet expected;
  for (int i = 0; i < 10; ++i) {
    expected.insert({i, cy + 10 - i});      // (0, 25) .. (9, 16)
    expected.insert({cx + 3 + i, cy - i});  // (16, 15) .. (25, 6)
  }
  AddColumn(expected, cx, 0, cy - 4);
  AddColumn(expected, cx, cy + 3, h - 1);
  EXPECT_EQ(PixelsOf(view, clRed), expected);
  EXPECT_EQ(tiltY, 10);
}

TEST(CrossLine, TiltXLeansTheVerticalArmTopRightBottomLeft) {
  const int w = 30, h = 26, cx = 15, cy = 13;
  TBitmap view(w, h);
  int tiltX = 10, tiltY = 0;
  DrawCrossLine(view.Canvas(), {cx, cy}, 0, 0, w, h, clRed, tiltX, tiltY);

  PixelSet expected;
  for (int i = 0; i < 10; ++i) {
    expected.insert({cx + 10 - i, i});      // (25, 0) .. (16, 9)
    expected.insert({cx - i, cy + 3 + i});  // (15, 16) .. (6, 25)
  }
  AddRow(expected, cy, 0, cx - 4);
  AddRow(expected, cy, cx + 3, w - 1);
  EXPECT_EQ(PixelsOf(view, clRed), expected);
}

TEST(CrossLine, ZoneShiftedAtTheDesktopEdgeMarksTheCursorNotTheMiddle) {
  // Desktop from x = -1280; the cursor rests 10 pixels from its left edge, so the zone was
  // shifted to start at the desktop's left.
  const int w = 60, h = 40;
  const TColor green = 0x00FF00;
  const TPoint cursor{-1270, 500};
  const int zoneLeft = -1280, zoneTop = 500 - h / 2;
  TBitmap view(w, h);
  int tiltX = 0, tiltY = 0;
  DrawCrossLine(view.Canvas(), cursor, zoneLeft, zoneTop, w, h, green, tiltX, tiltY);

  // Each arm still reaches only half the view from the centre: 10 - 30 is off the view on the
  // left, 10 + 30 stops short of the right edge.
  PixelSet expected;
  AddRow(expected, 20, 0, 6);
  AddRow(expected, 20, 13, 39);
  AddColumn(expected, 10, 0, 16);
  AddColumn(expected, 10, 23, 39);
  EXPECT_EQ(PixelsOf(view, green), expected);
}

}  // namespace
}  // namespace ombrix
