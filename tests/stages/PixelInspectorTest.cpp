// The pixel inspector's view: nearest-neighbour zoom, the grid between its squares, inverted
// colours.

#include <gtest/gtest.h>

#include <string>

#include "../imaging/TestPictures.h"
#include "Invert.h"
#include "PixelGrid.h"
#include "Zoom.h"

namespace ombrix {
namespace {

// A colour per capture pixel that says which pixel it is.
TColor Numbered(int x, int y) {
  return static_cast<TColor>(x * 7 + 1) | static_cast<TColor>(y * 9 + 2) << 8 | 0x330000u;
}

void Number(TBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.Canvas().SetPixel(x, y, Numbered(x, y));
}

constexpr TColor kGrey = 0x808080;

// A 16 x 12 capture zoomed about its middle (8, 6): view pixel i shows capture pixel
// (i + (f - 1) * 8) div f, so each capture pixel is an f x f square whose top-left pixel sits
// where the bicubic zoom puts the pixel's top-left corner. With the grid, the last column and
// the last row of every square are grey.
struct InspectorCase {
  const char* name;
  int slider;
  bool halveWidth;
  bool grid;
  // Expected capture column of view column i: (i + offsetX) / scaleX; rows likewise.
  int scaleX, offsetX, scaleY, offsetY;
  bool gridColumns, gridRows;
};

class NearestZoom : public testing::TestWithParam<InspectorCase> {};

TEST_P(NearestZoom, EveryViewPixelIsOneCapturePixelOrTheGrid) {
  const InspectorCase& c = GetParam();
  constexpr int w = 16, h = 12;
  TBitmap capture(w, h);
  Number(capture);
  TBitmap view(w, h);
  test::Fill(view, clBlack);
  TZoomSettings settings;
  settings.SliderPosition = c.slider;
  settings.HalveWidth = c.halveWidth;
  settings.Nearest = true;
  ZoomStage(capture, view, w, h, settings);
  if (c.grid) {
    TZoomAxis x, y;
    ZoomAxes(w, h, settings, x, y);
    DrawPixelGrid(view, w, h, x, y);
  }
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const int column = (i + c.offsetX) / c.scaleX, row = (j + c.offsetY) / c.scaleY;
      const bool onGrid = (c.gridColumns && (i + c.offsetX) % c.scaleX == c.scaleX - 1) ||
                          (c.gridRows && (j + c.offsetY) % c.scaleY == c.scaleY - 1);
      // Past the capture the zoom draws nothing, and neither does the grid.
      const TColor expected = column >= w || row >= h ? clBlack
                              : onGrid                ? kGrey
                                                      : Numbered(column, row);
      ASSERT_EQ(view.Canvas().Pixel(i, j), expected) << "(" << i << ", " << j << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(
    PixelInspector, NearestZoom,
    testing::Values(
        // Offsets (f - 1) * 8 and (f - 1) * 6.
        InspectorCase{"Factor2", 1, false, false, 2, 8, 2, 6, false, false},
        InspectorCase{"Factor4", 2, false, false, 4, 24, 4, 18, false, false},
        InspectorCase{"Factor8", 4, false, false, 8, 56, 8, 42, false, false},
        InspectorCase{"Factor4Grid", 2, false, true, 4, 24, 4, 18, true, true},
        InspectorCase{"Factor8Grid", 4, false, true, 8, 56, 8, 42, true, true},
        // Below factor 4 the squares get no grid.
        InspectorCase{"Factor2NoGrid", 1, false, true, 2, 8, 2, 6, false, false},
        // Halved width at factor 4: squares 2 wide and 4 high, lines between the rows only,
        // and the right half of the view not drawn (x' = 2x - 24).
        InspectorCase{"Factor4HalfWidthGridRowsOnly", 2, true, true, 2, 24, 4, 18, false, true}),
    [](const testing::TestParamInfo<InspectorCase>& p) { return std::string(p.param.name); });

// Zoomed about another pixel than the middle, the squares and the grid move with it.
TEST(PixelGrid, FollowsTheZoomCentre) {
  constexpr int w = 16, h = 12;
  TBitmap capture(w, h);
  Number(capture);
  TBitmap view(w, h);
  TZoomSettings settings;
  settings.SliderPosition = 2;  // 4
  settings.Nearest = true;
  settings.Centre = TPoint{1, 2};  // pixel (1, 2) becomes the square (1, 2) .. (4, 5)
  ZoomStage(capture, view, w, h, settings);
  TZoomAxis x, y;
  ZoomAxes(w, h, settings, x, y);
  DrawPixelGrid(view, w, h, x, y);
  EXPECT_EQ(view.Canvas().Pixel(1, 2), Numbered(1, 2));
  EXPECT_EQ(view.Canvas().Pixel(3, 4), Numbered(1, 2));
  EXPECT_EQ(view.Canvas().Pixel(4, 3), kGrey);
  EXPECT_EQ(view.Canvas().Pixel(2, 5), kGrey);
  EXPECT_EQ(view.Canvas().Pixel(5, 6), Numbered(2, 3));
  // View column 0 is the last of capture column 0's square, which starts left of the view.
  EXPECT_EQ(view.Canvas().Pixel(0, 3), kGrey);
}

TEST(Invert, EveryColourByteBecomes255MinusItAndTheFourthStays) {
  TBitmap view(3, 2);
  test::Fill(view, 0x00FFC80A);  // red 10, green 200, blue 255
  view.ScanLine(1)[2 * 4 + 3] = 0x7F;
  InvertColours(view);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(view.Canvas().Pixel(x, y), 0x000037F5u);
  EXPECT_EQ(view.ScanLine(1)[2 * 4 + 3], 0x7F);

  TBitmap packed(3, 1, pf24bit);
  test::Fill(packed, clBlack);
  InvertColours(packed);
  EXPECT_EQ(packed.Canvas().Pixel(2, 0), clWhite);
}

}  // namespace
}  // namespace ombrix
