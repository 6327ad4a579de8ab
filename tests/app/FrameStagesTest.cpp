// The frame cycle's later stages on an in-memory desktop, without a window: zoom about the
// cursor near the desktop's edges, the stereo positions, brightness and contrast, the pixel
// inspector's view and inverted colours, and that at their start values the new settings leave
// every pixel of the frame as it was.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CrossLine.h"
#include "FrameCycle.h"
#include "MemoryDesktop.h"
#include "PictureTestSupport.h"
#include "Sharpen.h"
#include "Zoom.h"
#include "iwProcess.h"

namespace ombrix::test {
namespace {

constexpr int kDesktopWidth = 1000;
constexpr int kDesktopHeight = 740;
constexpr int kBlock = 20;
// Not a colour of any block.
constexpr TColor kCross = 0x00FE01FD;

// Blocks of 20 x 20 pixels, each of its own colour: wider than any zoom factor, so the bicubic
// shows a block's own colour a pixel or two inside it.
TColor BlockColour(int x, int y) {
  const int bx = x / kBlock, by = y / kBlock;
  return static_cast<TColor>((bx * 5 + 3) & 0xFF) | static_cast<TColor>((by * 7 + 1) & 0xFF) << 8 |
         static_cast<TColor>((bx * 3 + by * 11) & 0x7F) << 16;
}

void PaintBlocks(MemoryDesktop& desktop) {
  Paint(desktop.Picture(), BlockColour);
}

// Settings of a 300 x 400 view whose window lies far from the cursor.
FrameSettings Settings(int w = 300, int h = 400) {
  FrameSettings s;
  s.window.rect = {-5000, -5000, -5000 + w + 10, -5000 + h + 30};
  s.window.clientOrigin = {-4995, -4975};
  s.window.clientWidth = w;
  s.window.clientHeight = h;
  return s;
}

// Two runs with the cursor at rest: the first records where it is, the second draws.
void Draw(FrameCycle& cycle, MemoryDesktop& desktop, TPoint cursor, const FrameSettings& s) {
  desktop.SetCursor(cursor);
  cycle.Run(s);
  const FrameResult result = cycle.Run(s);
  ASSERT_TRUE(result.viewDrawn);
}

// The centre of the cross-line: the column and the row with the most cross pixels.
TPoint CrossCentre(const TBitmap& view) {
  std::vector<int> columns(static_cast<std::size_t>(view.Width())),
      rows(static_cast<std::size_t>(view.Height()));
  for (int y = 0; y < view.Height(); ++y)
    for (int x = 0; x < view.Width(); ++x)
      if (PixelOf(view, x, y) == kCross) {
        ++columns[static_cast<std::size_t>(x)];
        ++rows[static_cast<std::size_t>(y)];
      }
  const auto most = [](const std::vector<int>& v) {
    return static_cast<int>(std::max_element(v.begin(), v.end()) - v.begin());
  };
  return {most(columns), most(rows)};
}

// Near every edge and in every corner, at every factor and through the graphic operations, the
// view pixel under the cross shows the screen pixel under the cursor.
struct EdgeCase {
  const char* name;
  TPoint cursor;
};

class ZoomNearTheEdge : public testing::TestWithParam<EdgeCase> {};

TEST_P(ZoomNearTheEdge, CrossMarksTheCursorsPixelAtEveryFactor) {
  const EdgeCase& c = GetParam();
  MemoryDesktop desktop(kDesktopWidth, kDesktopHeight);
  PaintBlocks(desktop);
  FrameCycle cycle(desktop);
  for (const int operation : {0, 1, 2, 4})
    for (const int zoom : {1, 2, 3, 4}) {
      FrameSettings s = Settings();
      s.picture.operation = operation;
      s.picture.zoom = zoom;
      s.picture.crossLine = true;
      s.picture.crossColor = kCross;
      Draw(cycle, desktop, c.cursor, s);
      const TPoint centre = CrossCentre(cycle.View());
      EXPECT_EQ(PixelOf(cycle.View(), centre.X, centre.Y), BlockColour(c.cursor.X, c.cursor.Y))
          << "operation " << operation << " factor " << ZoomFactor(zoom) << ": cross at "
          << centre.X << "," << centre.Y;
    }
}

// A square view turns exactly: the quarter turns too.
TEST_P(ZoomNearTheEdge, CrossMarksTheCursorsPixelThroughQuarterTurns) {
  const EdgeCase& c = GetParam();
  MemoryDesktop desktop(kDesktopWidth, kDesktopHeight);
  PaintBlocks(desktop);
  FrameCycle cycle(desktop);
  for (const int operation : {3, 5})
    for (const int zoom : {1, 2, 3, 4}) {
      FrameSettings s = Settings(300, 300);
      s.picture.operation = operation;
      s.picture.zoom = zoom;
      s.picture.crossLine = true;
      s.picture.crossColor = kCross;
      Draw(cycle, desktop, c.cursor, s);
      const TPoint centre = CrossCentre(cycle.View());
      EXPECT_EQ(PixelOf(cycle.View(), centre.X, centre.Y), BlockColour(c.cursor.X, c.cursor.Y))
          << "operation " << operation << " factor " << ZoomFactor(zoom);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FrameStages, ZoomNearTheEdge,
    testing::Values(EdgeCase{"Left", {10, 370}}, EdgeCase{"Right", {989, 370}},
                    EdgeCase{"Top", {510, 10}}, EdgeCase{"Bottom", {510, 729}},
                    EdgeCase{"TopLeft", {10, 10}}, EdgeCase{"TopRight", {989, 10}},
                    EdgeCase{"BottomLeft", {10, 729}}, EdgeCase{"BottomRight", {989, 729}},
                    // Inside: no shift, the cross in the middle as always.
                    EdgeCase{"Middle", {510, 370}}),
    [](const testing::TestParamInfo<EdgeCase>& p) { return std::string(p.param.name); });

// The frame as the stages drew it before brightness, contrast, the stereo positions, the
// pixel inspector and the zoom about the cursor: the same capture, the zoom about the view's
// centre, the sharpen stage and the cross-line at the zone point.
void FrameAsBefore(MemoryDesktop& desktop, TPoint cursor, const FrameSettings& s, TBitmap& view) {
  const int w = s.window.clientWidth & ~1, h = s.window.clientHeight & ~1;
  TRect zone =
      KeepOnDesktop({cursor.X - w / 2, cursor.Y - h / 2, cursor.X + w / 2, cursor.Y + h / 2},
                    desktop.VirtualScreen());
  TBitmap capture(w, h);
  const TPoint copy[3] = {{0, 0}, {w, 0}, {0, h}};
  desktop.CopyZone(zone, copy, capture);
  view.SetSize(w, h);
  ZoomStage(capture, view, w, h, s.picture.zoom, false, false, s.picture.gamma);
  TImageWork work;
  SetUpSharpen(work);
  Sharpen(work, view, s.picture.sharpenLevel);
  int tiltX = 0, tiltY = 0;
  if (s.picture.crossLine)
    DrawCrossLine(view.Canvas(), cursor, zone.Left, zone.Top, w, h, s.picture.crossColor, tiltX,
                  tiltY);
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.RowBytes() != b.RowBytes())
    return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes()) != 0) return false;
  return true;
}

// Unshifted at every factor, and shifted at factor 1, the start values of the new settings
// give the frame exactly as before, sharpened and with the cross-line.
TEST(FrameStages, StartValuesLeaveTheWholeFrameBitForBit) {
  MemoryDesktop desktop(kDesktopWidth, kDesktopHeight);
  // A picture with no flat areas: any misplaced or blended pixel shows.
  Paint(desktop.Picture(), [](int x, int y) {
    return static_cast<TColor>(static_cast<unsigned>(x * 7 + y * 13) * 2654435761u >> 8);
  });
  FrameCycle cycle(desktop);
  struct Case {
    TPoint cursor;
    int zoom;
  };
  for (const Case c :
       {Case{{500, 370}, 0}, Case{{500, 370}, 1}, Case{{500, 370}, 2}, Case{{500, 370}, 3},
        Case{{500, 370}, 4}, Case{{10, 10}, 0}, Case{{989, 729}, 0}}) {
    FrameSettings s = Settings(302, 246);
    s.picture.zoom = c.zoom;
    s.picture.gamma = 1.5f;
    s.picture.sharpenLevel = 1;
    s.picture.crossLine = true;
    Draw(cycle, desktop, c.cursor, s);
    TBitmap before;
    FrameAsBefore(desktop, c.cursor, s, before);
    EXPECT_TRUE(SamePixels(cycle.View(), before))
        << "cursor " << c.cursor.X << "," << c.cursor.Y << " zoom " << c.zoom;
  }
}

// The order of the later stages: brightness and contrast before the sharpening (a flat
// picture stays flat through it), the grid after it, the inversion after all but the
// cross-line, which keeps its own colour.
TEST(FrameStages, InvertComesLastButForTheCrossLine) {
  MemoryDesktop desktop(kDesktopWidth, kDesktopHeight);
  Paint(desktop.Picture(), [](int, int) { return TColor{0x00646464}; });  // grey 100
  FrameCycle cycle(desktop);
  FrameSettings s = Settings();
  s.picture.zoom = 2;        // 4 x
  s.picture.contrast = 100;  // 100 -> 17.5 -> 18
  s.picture.sharpenLevel = 2;
  s.picture.grid = true;
  s.picture.invert = true;
  s.picture.crossLine = true;
  s.picture.crossColor = kCross;
  Draw(cycle, desktop, {510, 370}, s);
  int grey = 0, grid = 0, cross = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 300; ++x) {
      const TColor c = PixelOf(cycle.View(), x, y);
      grey += c == 0x00EDEDEDu;  // 255 - 18
      grid += c == 0x007F7F7Fu;  // 255 - 128
      cross += c == kCross;
    }
  // Lines every fourth column and row; the cross's two arms less their gaps.
  EXPECT_EQ(grid + cross + grey, 300 * 400);
  EXPECT_EQ(cross, 300 - 6 + 400 - 6);
  EXPECT_GT(grid, 300 * 400 * 7 / 16 - 300 - 400);
}

}  // namespace
}  // namespace ombrix::test
