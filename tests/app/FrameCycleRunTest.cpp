// The frame cycle on its own: an in-memory desktop, no window, no toolkit, no display. The
// window's part (showing what the cycle returns) is tested in FrameCycleTest.cpp.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CrossLine.h"
#include "FrameCycle.h"
#include "MemoryDesktop.h"
#include "PictureTestSupport.h"

namespace ombrix::test {
namespace {

// A desktop that tells whether a zone changed since it was last copied, as a screen that
// tracks every change does.
class TrackingDesktop : public MemoryDesktop {
 public:
  using MemoryDesktop::MemoryDesktop;
  bool changed = false;
  bool ZoneMayHaveChanged(const TRect&) override { return changed; }
};

// A window at (30, 10) with a frame, its 361 x 432 client at (40, 40): a cursor at x 600 and
// beyond is away from it.
FrameSettings Settings() {
  FrameSettings settings;
  settings.window.rect = {30, 10, 30 + 381, 10 + 472};
  settings.window.clientOrigin = {40, 40};
  settings.window.clientWidth = 361;
  settings.window.clientHeight = 432;
  return settings;
}

class FrameCycleRun : public ::testing::Test {
 protected:
  FrameCycleRun() { Paint(desktop.Picture(), Where); }

  // Two runs with the cursor resting at `cursor`: the first records the position, the second
  // draws (the still-cursor rule).
  FrameResult Rest(TPoint cursor, const FrameSettings& settings = Settings()) {
    desktop.SetCursor(cursor);
    cycle.Run(settings);
    return cycle.Run(settings);
  }

  TrackingDesktop desktop{1600, 1000};
  FrameCycle cycle{desktop};
};

TEST_F(FrameCycleRun, OddClientGivesAnEvenZoneCentredOnTheCursorAndACaptionWithTheClientSize) {
  const FrameResult result = Rest({1000, 600});
  EXPECT_EQ(result.shows, FrameResult::Shows::View);
  EXPECT_TRUE(result.viewDrawn);
  EXPECT_TRUE(result.pumpEvents);
  EXPECT_TRUE(result.writeCaption);
  EXPECT_EQ(cycle.Caption(361, 432), "Ombrix [361 x 432] - [X=1000 Y=600]");
  ASSERT_EQ(cycle.Capture().Width(), 360);
  ASSERT_EQ(cycle.Capture().Height(), 432);
  ASSERT_EQ(cycle.View().Width(), 360);
  ASSERT_EQ(cycle.View().Height(), 432);
  // 820..1179 x 384..815; at zoom 1 and gamma 0 the view is the capture.
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), 820, 384), 0);
  EXPECT_EQ(DifferencesFromDesktop(cycle.View(), desktop.Picture(), 820, 384), 0);
  EXPECT_EQ(SizeCaption(361, 432), "Ombrix 361 x 432");
}

// Where the 360 x 432 zone lands for a cursor near the desktop's edges.
struct PlacementCase {
  const char* name;
  int desktopWidth, desktopHeight;
  TPoint origin;
  TPoint cursor;
  // The zone's top-left corner in desktop coordinates.
  TPoint zone;
};

class ZonePlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(ZonePlacement, ShiftsTheZoneOntoTheDesktopWithoutMovingTheZonePoint) {
  const PlacementCase& c = GetParam();
  MemoryDesktop desktop(c.desktopWidth, c.desktopHeight, c.origin);
  Paint(desktop.Picture(), Where);
  FrameCycle cycle(desktop);
  desktop.SetCursor(c.cursor);
  cycle.Run(Settings());
  cycle.Run(Settings());
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), c.zone.X - c.origin.X,
                                   c.zone.Y - c.origin.Y),
            0);
  EXPECT_EQ(cycle.ZonePoint(), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(
    NearTheEdges, ZonePlacement,
    ::testing::Values(
        PlacementCase{"Centred", 1600, 1000, {0, 0}, {1000, 600}, {820, 384}},
        PlacementCase{"LeftEdge", 1600, 1000, {0, 0}, {10, 700}, {0, 700 - 216}},
        PlacementCase{"TopEdge", 1600, 1000, {0, 0}, {700, 5}, {520, 0}},
        PlacementCase{"BottomRightCorner", 1600, 1000, {0, 0}, {1590, 990}, {1240, 568}},
        // A monitor left of the primary one: the right edge is shifted back to 1280.
        PlacementCase{
            "MonitorAtNegativeCoordinates", 2560, 1024, {-1280, 0}, {1270, 600}, {920, 384}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FrameCycleOnASmallDesktop, ViewLargerThanTheDesktopIsBlackWhereThereIsNoScreen) {
  MemoryDesktop small(300, 200);
  Paint(small.Picture(), Where);
  FrameCycle cycle(small);
  small.SetCursor({150, 100});
  FrameSettings settings = Settings();
  settings.window.rect = {400, 300, 781, 772};
  cycle.Run(settings);
  cycle.Run(settings);
  // Right and bottom shifts win: the zone is -60..299 x -232..199.
  const TBitmap& capture = cycle.Capture();
  EXPECT_EQ(PixelOf(capture, 0, 0), clBlack);
  EXPECT_EQ(PixelOf(capture, 59, 431), clBlack);
  EXPECT_EQ(PixelOf(capture, 60, 232), Where(0, 0));
  EXPECT_EQ(PixelOf(capture, 359, 431), Where(299, 199));
}

TEST_F(FrameCycleRun, MovingCursorIsNeverDrawnAndTheFirstStillRunDraws) {
  for (int x = 600; x < 610; ++x) {
    desktop.SetCursor({x, 600});
    const FrameResult moved = cycle.Run(Settings());
    EXPECT_EQ(moved.shows, FrameResult::Shows::Unchanged);
    EXPECT_FALSE(moved.writeCaption);
    EXPECT_FALSE(moved.pumpEvents);
  }
  EXPECT_EQ(desktop.CopyCount(), 0);
  EXPECT_EQ(cycle.PrevZonePoint(), (TPoint{609, 600}));
  EXPECT_TRUE(cycle.Run(Settings()).viewDrawn);
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_EQ(cycle.Caption(361, 432), "Ombrix [361 x 432] - [X=609 Y=600]");
}

TEST_F(FrameCycleRun, HeldZoneIgnoresTheCursorEvenOverTheWindow) {
  Rest({1000, 600});
  FrameSettings held = Settings();
  held.zoneFixed = true;
  desktop.SetCursor({100, 100});
  EXPECT_EQ(cycle.Run(held).shows, FrameResult::Shows::View);
  EXPECT_EQ(desktop.CopyCount(), 2);
  EXPECT_EQ(cycle.ZonePoint(), (TPoint{1000, 600}));
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), 820, 384), 0);
}

TEST_F(FrameCycleRun, CursorOverTheWindowOrFrameWorkShowsThePanelWithoutCapturing) {
  FrameResult result = Rest({100, 100});
  EXPECT_EQ(result.shows, FrameResult::Shows::Panel);
  EXPECT_TRUE(result.writeCaption);
  EXPECT_TRUE(result.pumpEvents);
  FrameSettings frameWork = Settings();
  frameWork.window.nonClientActive = true;
  result = Rest({1000, 600}, frameWork);
  EXPECT_EQ(result.shows, FrameResult::Shows::Panel);
  EXPECT_EQ(desktop.CopyCount(), 0);
}

TEST_F(FrameCycleRun, ForceCaptureOverTheWindowTakesTheAreaUnderTheView) {
  Rest({100, 100});
  FrameSettings force = Settings();
  force.forceCapture = true;
  const FrameResult result = cycle.Run(force);
  EXPECT_EQ(result.shows, FrameResult::Shows::View);
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_EQ(cycle.ZonePoint(), (TPoint{40, 40}));
  EXPECT_EQ(cycle.Caption(361, 432), "Ombrix [361 x 432] - [X=40 Y=40]");
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), 40, 40), 0);
}

TEST_F(FrameCycleRun, MinimisedWindowOnlyRewritesItsCaption) {
  Rest({1000, 600});
  FrameSettings minimised = Settings();
  minimised.window.minimized = true;
  desktop.SetCursor({1200, 700});
  const FrameResult result = cycle.Run(minimised);
  EXPECT_EQ(result.shows, FrameResult::Shows::Unchanged);
  EXPECT_TRUE(result.writeCaption);
  EXPECT_FALSE(result.pumpEvents);
  EXPECT_EQ(desktop.CopyCount(), 1);
  EXPECT_EQ(cycle.ZonePoint(), (TPoint{1000, 600}));
}

TEST_F(FrameCycleRun, UnreadableScreenShowsTheViewButEndsTheRunSilently) {
  desktop.SetAvailable(false);
  const FrameResult result = Rest({1000, 600});
  EXPECT_EQ(result.shows, FrameResult::Shows::View);
  EXPECT_FALSE(result.viewDrawn);
  EXPECT_FALSE(result.writeCaption);
  EXPECT_FALSE(result.pumpEvents);
  desktop.SetAvailable(true);
  EXPECT_TRUE(cycle.Run(Settings()).viewDrawn);
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), 820, 384), 0);
}

// Graphic operations on a zone of four coloured quadrants.
constexpr TColor kTopLeft = 0x0000FF;     // red
constexpr TColor kTopRight = 0x00FF00;    // green
constexpr TColor kBottomLeft = 0xFF0000;  // blue
constexpr TColor kBottomRight = 0xFFFFFF;

struct OperationCase {
  const char* name;
  int operation;
  // What the capture's quadrants show: top-left, top-right, bottom-left, bottom-right.
  TColor shown[4];
};

class GraphicOperation : public FrameCycleRun,
                         public ::testing::WithParamInterface<OperationCase> {};

TEST_P(GraphicOperation, MovesTheZoneQuadrants) {
  // A 200 x 400 view around a cursor at (1000, 500): the zone is 900..1099 x 300..699. The
  // quarter turns spread the zone's 200-pixel width over the view's 400-pixel height.
  Paint(desktop.Picture(), [](int x, int y) {
    return x < 1000 ? (y < 500 ? kTopLeft : kBottomLeft) : (y < 500 ? kTopRight : kBottomRight);
  });
  FrameSettings settings = Settings();
  settings.window.clientWidth = 200;
  settings.window.clientHeight = 400;
  settings.picture.operation = GetParam().operation;
  Rest({1000, 500}, settings);
  const TBitmap& capture = cycle.Capture();
  EXPECT_EQ(PixelOf(capture, 50, 100), GetParam().shown[0]);
  EXPECT_EQ(PixelOf(capture, 150, 100), GetParam().shown[1]);
  EXPECT_EQ(PixelOf(capture, 50, 300), GetParam().shown[2]);
  EXPECT_EQ(PixelOf(capture, 150, 300), GetParam().shown[3]);
}

INSTANTIATE_TEST_SUITE_P(
    AllSix, GraphicOperation,
    ::testing::Values(
        OperationCase{"Copy", 0, {kTopLeft, kTopRight, kBottomLeft, kBottomRight}},
        OperationCase{"VerticalMirror", 1, {kBottomLeft, kBottomRight, kTopLeft, kTopRight}},
        OperationCase{"HorizontalMirror", 2, {kTopRight, kTopLeft, kBottomRight, kBottomLeft}},
        OperationCase{"Rotation90", 3, {kBottomLeft, kTopLeft, kBottomRight, kTopRight}},
        OperationCase{"Rotation180", 4, {kBottomRight, kBottomLeft, kTopRight, kTopLeft}},
        OperationCase{"Rotation270", 5, {kTopRight, kBottomRight, kTopLeft, kBottomLeft}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FrameCycleRun, HorizontalMirrorPutsTheZonesLeftColumnAtTheRightEdge) {
  Paint(desktop.Picture(), [](int x, int) { return x == 820 ? clRed : clBlack; });
  FrameSettings settings = Settings();
  settings.picture.operation = 2;
  Rest({1000, 600}, settings);  // zone 820..1179
  EXPECT_EQ(PixelOf(cycle.Capture(), 359, 0), clRed);
  EXPECT_EQ(PixelOf(cycle.Capture(), 359, 431), clRed);
  EXPECT_EQ(PixelOf(cycle.Capture(), 358, 200), clBlack);
  EXPECT_EQ(PixelOf(cycle.Capture(), 0, 200), clBlack);
}

TEST_F(FrameCycleRun, GammaIsTakenAsARealNumber) {
  Paint(desktop.Picture(), [](int, int) { return TColor{0x808080}; });
  FrameSettings settings = Settings();
  settings.picture.gamma = 1.5f;
  Rest({1000, 600}, settings);
  // 255 * (128 / 255) ^ 1.5 = 90.7; a gamma cut to 1 would leave 128.
  EXPECT_NEAR(static_cast<int>(PixelOf(cycle.View(), 180, 216) & 0xFF), 91, 1);
  EXPECT_EQ(PixelOf(cycle.Capture(), 180, 216), TColor{0x808080});
}

// A still zone with unchanged settings keeps the view a timer run drew; anything the view is
// drawn from draws it again.
TEST_F(FrameCycleRun, TimerRunKeepsAStillViewUntilTheScreenOrASettingChanges) {
  std::vector<int> sharpened;
  cycle.OnSharpenStage = [this, &sharpened](int level) {
    sharpened.push_back(level);
    cycle.SharpenView(level);
  };
  FrameSettings settings = Settings();
  settings.fromTimer = true;
  Rest({1000, 600}, settings);
  ASSERT_EQ(desktop.CopyCount(), 1);
  const FrameResult kept = cycle.Run(settings);
  EXPECT_EQ(kept.shows, FrameResult::Shows::View);
  EXPECT_FALSE(kept.viewDrawn);
  EXPECT_FALSE(kept.pumpEvents);  // the tick took no time for events to wait on
  EXPECT_TRUE(kept.writeCaption);
  EXPECT_EQ(desktop.CopyCount(), 1);

  desktop.changed = true;
  const FrameResult redrawn = cycle.Run(settings);
  EXPECT_TRUE(redrawn.viewDrawn);
  EXPECT_TRUE(redrawn.pumpEvents);
  desktop.changed = false;
  settings.picture.sharpenLevel = 2;
  EXPECT_TRUE(cycle.Run(settings).viewDrawn);
  EXPECT_FALSE(cycle.Run(settings).viewDrawn);
  FrameSettings direct = settings;
  direct.fromTimer = false;
  EXPECT_TRUE(cycle.Run(direct).viewDrawn);
  cycle.View().SetSize(0, 0);  // a resize empties the view
  EXPECT_TRUE(cycle.Run(settings).viewDrawn);
  EXPECT_FALSE(cycle.Run(settings).viewDrawn);
  cycle.View().Canvas().SetPixel(5, 5, clRed);  // the window drew on the view (a freeze)
  EXPECT_TRUE(cycle.Run(settings).viewDrawn);
  EXPECT_NE(PixelOf(cycle.View(), 5, 5), clRed);
  EXPECT_EQ(desktop.CopyCount(), 6);
  EXPECT_EQ(sharpened, (std::vector<int>{0, 0, 2, 2, 2, 2}));
}

// The window that has just read the cursor hands it over: the screen is asked once a tick.
TEST_F(FrameCycleRun, CursorReadByTheWindowStandsForTheScreens) {
  desktop.SetCursor({1000, 600});
  FrameSettings settings = Settings();
  settings.cursor = TPoint{900, 500};
  cycle.Run(settings);
  EXPECT_TRUE(cycle.Run(settings).viewDrawn);
  EXPECT_EQ(cycle.ZonePoint(), (TPoint{900, 500}));
  settings.zoneFixed = true;
  settings.cursor = TPoint{950, 550};
  cycle.Run(settings);
  EXPECT_EQ(cycle.ZonePoint(), (TPoint{900, 500}));
}

TEST_F(FrameCycleRun, CrossLineTiltsPastTheLargestComeBackAsZero) {
  FrameSettings settings = Settings();
  settings.picture.crossLine = true;
  settings.picture.crossColor = clRed;
  settings.picture.crossTiltX = kMaxCrossTilt + 1;
  settings.picture.crossTiltY = -7;
  const FrameResult result = Rest({1000, 600}, settings);
  EXPECT_EQ(result.crossTiltX, 0);
  EXPECT_EQ(result.crossTiltY, -7);
  // The cross, centred on the cursor's place in the zone, is drawn with the tilts it returns
  // and on the view only: the capture keeps the screen's pixels.
  EXPECT_EQ(PixelOf(cycle.View(), 180, 216 - 10), clRed);
  EXPECT_EQ(PixelOf(cycle.View(), 180, 216 + 10), clRed);
  EXPECT_EQ(PixelOf(cycle.View(), 180 - 10, 216), clRed);
  EXPECT_EQ(DifferencesFromDesktop(cycle.Capture(), desktop.Picture(), 820, 384), 0);
}

}  // namespace
}  // namespace ombrix::test
