#include "CastScreen.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <array>

namespace ombrix {
namespace {

// ---- Mapping between a monitor's stream and the virtual desktop --------------------------

struct StreamPoint {
  const char* name;
  TRect logical;  // the monitor on the virtual desktop
  int physicalWidth, physicalHeight;
  TPoint stream;
  TPoint desktop;
};

class StreamToDesktopRows : public testing::TestWithParam<StreamPoint> {};

TEST_P(StreamToDesktopRows, MapsExactly) {
  const StreamPoint& row = GetParam();
  EXPECT_EQ(StreamToDesktop({row.logical}, row.physicalWidth, row.physicalHeight, row.stream),
            row.desktop);
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, StreamToDesktopRows,
    testing::Values(
        StreamPoint{"Unscaled_Origin", {0, 0, 1280, 800}, 1280, 800, {0, 0}, {0, 0}},
        StreamPoint{"Unscaled_LastPixel", {0, 0, 1280, 800}, 1280, 800, {1279, 799}, {1279, 799}},
        StreamPoint{"Scale125_Middle", {0, 0, 1024, 640}, 1280, 800, {640, 400}, {512, 320}},
        StreamPoint{"Scale125_LastPixel", {0, 0, 1024, 640}, 1280, 800, {1279, 799}, {1023, 639}},
        StreamPoint{
            "Scale125_RightOfAnother", {1280, 0, 2304, 640}, 1280, 800, {640, 400}, {1792, 320}},
        StreamPoint{"Scale2_LeftOfOrigin", {-640, 100, 0, 500}, 1280, 800, {3, 5}, {-639, 102}},
        StreamPoint{"OutsideIsClamped", {0, 0, 1280, 800}, 1280, 800, {-5, 900}, {0, 799}}),
    [](const testing::TestParamInfo<StreamPoint>& row) { return std::string(row.param.name); });

TEST(DesktopToStream, SamplesAStreamPixelThatMapsBackToTheSameLogicalPixel) {
  EXPECT_EQ(DesktopToStream(512, 1024, 1280), 640);
  EXPECT_EQ(DesktopToStream(0, 1024, 1280), 0);
  EXPECT_EQ(DesktopToStream(1023, 1024, 1280), 1279);
  EXPECT_EQ(DesktopToStream(1, 1024, 1280), 2);
  EXPECT_EQ(DesktopToStream(7, 640, 1280), 14);  // scale 2: the top-left of each 2 x 2
  // Every logical pixel of a monitor at 1.25 comes back to itself through the cursor mapping.
  for (int x = 0; x < 1024; ++x) {
    const int p = DesktopToStream(x, 1024, 1280);
    ASSERT_EQ(StreamToDesktop({{0, 0, 1024, 640}}, 1280, 800, {p, 0}).X, x) << x;
  }
}

// ---- The screen -------------------------------------------------------------------------

// A frame whose pixel (x, y) is blue x % 256, green y % 256, red `tag`.
std::vector<uint8_t> Numbered(int width, int height, uint8_t tag) {
  std::vector<uint8_t> p(static_cast<std::size_t>(width * height) * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* q = &p[static_cast<std::size_t>(y * width + x) * 4];
      q[0] = static_cast<uint8_t>(x);
      q[1] = static_cast<uint8_t>(y);
      q[2] = tag;
      q[3] = 0;
    }
  return p;
}

std::vector<uint8_t> Flat(int width, int height, uint8_t tag) {
  std::vector<uint8_t> p(static_cast<std::size_t>(width * height) * 4, 0);
  for (std::size_t i = 2; i < p.size(); i += 4) p[i] = tag;
  return p;
}

void Put(CastScreen& screen, std::size_t stream, const std::vector<uint8_t>& pixels, int width,
         int height) {
  screen.Frames().PutImage(stream, pixels.data(), width, height, width * 4, false);
}

// Copies `zone` one to one and returns the copy's pixel (x, y) as 0xRRGGBB.
struct Copy {
  bool ok = false;
  std::unique_ptr<TBitmap> bitmap;
  uint32_t At(int x, int y) const {
    const uint8_t* p = bitmap->ScanLine(y) + x * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
};
Copy CopyOf(CastScreen& screen, const TRect& zone) {
  Copy c;
  c.bitmap = std::make_unique<TBitmap>(zone.Width(), zone.Height());
  const TPoint points[3] = {{0, 0}, {zone.Width(), 0}, {0, zone.Height()}};
  c.ok = screen.CopyZone(zone, points, *c.bitmap);
  return c;
}

// Two monitors side by side: an unscaled 1280 x 800 one, and right of it one at 1.25 whose
// 1280 x 800 stream shows 1024 x 640 logical pixels.
std::vector<CastMonitor> TwoMonitors() {
  return {{{0, 0, 1280, 800}}, {{1280, 0, 2304, 640}}};
}

TEST(CastScreen, DescribesTheVirtualDesktopFromTheMonitors) {
  CastScreen screen(TwoMonitors());
  EXPECT_EQ(screen.VirtualScreen(), (TRect{0, 0, 2304, 800}));
  EXPECT_EQ(screen.MonitorCount(), 2);
  EXPECT_EQ(screen.NearestMonitor({2000, 700, 2100, 760}), (TRect{1280, 0, 2304, 640}));
  EXPECT_EQ(screen.NearestMonitor({1200, 10, 1300, 20}), (TRect{0, 0, 1280, 800}));
}

TEST(CastScreen, CursorComesFromTheNewestReportThatPlacesItOnAMonitor) {
  CastScreen screen(TwoMonitors());
  TPoint cursor{-1, -1};
  EXPECT_FALSE(screen.CursorPos(cursor));
  screen.Frames().PutCursor(0, false, {0, 0}, 1280, 800);
  EXPECT_FALSE(screen.CursorPos(cursor));

  screen.Frames().PutCursor(1, true, {640, 400}, 1280, 800);
  ASSERT_TRUE(screen.CursorPos(cursor));
  EXPECT_EQ(cursor, (TPoint{1792, 320}));
  // The other monitor's stream still says the cursor is not on it: nothing changes.
  screen.Frames().PutCursor(0, false, {0, 0}, 1280, 800);
  ASSERT_TRUE(screen.CursorPos(cursor));
  EXPECT_EQ(cursor, (TPoint{1792, 320}));
  // Over to the first monitor; the second one then reports it gone.
  screen.Frames().PutCursor(0, true, {10, 20}, 1280, 800);
  screen.Frames().PutCursor(1, false, {0, 0}, 1280, 800);
  ASSERT_TRUE(screen.CursorPos(cursor));
  EXPECT_EQ(cursor, (TPoint{10, 20}));
}

TEST(CastScreen, CopiesNothingUntilEveryMonitorHasAFrame) {
  CastScreen screen(TwoMonitors());
  Put(screen, 0, Numbered(1280, 800, 1), 1280, 800);
  EXPECT_FALSE(CopyOf(screen, {0, 0, 4, 4}).ok);
  Put(screen, 1, Numbered(1280, 800, 2), 1280, 800);
  EXPECT_TRUE(CopyOf(screen, {0, 0, 4, 4}).ok);
}

TEST(CastScreen, ZoneAcrossMonitorsTakesEachMonitorsPixelsAndBlackBelowTheShorterOne) {
  CastScreen screen(TwoMonitors());
  Put(screen, 0, Numbered(1280, 800, 1), 1280, 800);
  Put(screen, 1, Numbered(1280, 800, 2), 1280, 800);
  const Copy c = CopyOf(screen, {1278, 318, 1284, 322});
  ASSERT_TRUE(c.ok);
  // Unscaled: the stream's own pixel.
  EXPECT_EQ(c.At(0, 0), 0x013EFEu);  // x 1278 -> 254, y 318 -> 62
  EXPECT_EQ(c.At(1, 3), 0x0141FFu);  // (1279, 321)
  // Scaled: logical (1280 + 0, 318) samples stream (0, 398); (1280 + 2, 320) is (3, 400).
  EXPECT_EQ(c.At(2, 0), 0x028E00u);
  EXPECT_EQ(c.At(4, 2), 0x029003u);
  // The scaled monitor's last row (stream row 799), then no monitor at all.
  const Copy below = CopyOf(screen, {1280, 639, 1281, 641});
  ASSERT_TRUE(below.ok);
  EXPECT_EQ(below.At(0, 0), 0x021F00u);
  EXPECT_EQ(below.At(0, 1), 0x000000u);
}

// A clock that a test moves by hand, for the trail of places our windows left.
struct HandClock {
  std::chrono::steady_clock::time_point now{};
};

class CoveredArea : public testing::Test {
 protected:
  CoveredArea()
      : screen({{{0, 0, 64, 32}}}, {std::chrono::milliseconds(150), [this] { return clock.now; }}) {
    screen.SetOwnRectsProvider([this] { return own; });
  }
  // What the zone of the whole screen shows at (x, y): the tag of the frame it came from.
  uint32_t TagAt(int x, int y) {
    const Copy c = CopyOf(screen, {0, 0, 64, 32});
    EXPECT_TRUE(c.ok);
    return c.At(x, y) >> 16;
  }
  // A frame made at `made` (default: now) arrives and a copy takes it in.
  void Frame(uint8_t tag, std::chrono::milliseconds made = std::chrono::milliseconds(-1)) {
    const std::vector<uint8_t> pixels = Flat(64, 32, tag);
    const auto at = made.count() < 0 ? clock.now : std::chrono::steady_clock::time_point{} + made;
    screen.Frames().PutImage(0, pixels.data(), 64, 32, 64 * 4, false, at);
    EXPECT_TRUE(CopyOf(screen, {0, 0, 1, 1}).ok);
  }

  HandClock clock;
  std::vector<TRect> own;
  CastScreen screen;
};

TEST_F(CoveredArea, BelowOurWindowShowsWhatWasLastSeenThereUncovered) {
  Frame(1);
  EXPECT_EQ(TagAt(20, 10), 1u);
  own = {{10, 5, 30, 15}};
  Frame(2);  // shows our window at 10,5 - 30,15
  EXPECT_EQ(TagAt(20, 10), 1u);
  EXPECT_EQ(TagAt(9, 10), 2u);
  EXPECT_EQ(TagAt(30, 10), 2u);
  EXPECT_EQ(TagAt(20, 15), 2u);
}

TEST_F(CoveredArea, APlaceOurWindowLeftFollowsTheScreenInFramesMadeAfterTheTrail) {
  using std::chrono::milliseconds;
  Frame(1);
  own = {{10, 5, 30, 15}};
  Frame(2);
  EXPECT_EQ(TagAt(20, 10), 1u);
  // The window moves at 10 ms: frames made before the compositor saw it may still show it at
  // the old place, and no frame shows it at the new place yet.
  own = {{40, 5, 60, 15}};
  clock.now += milliseconds(10);
  Frame(3);
  EXPECT_EQ(TagAt(20, 10), 1u);
  EXPECT_EQ(TagAt(50, 10), 2u);
  EXPECT_EQ(TagAt(35, 10), 3u);
  // What counts is when a frame was made, not when it arrived.
  clock.now += milliseconds(490);
  Frame(4, milliseconds(159));
  EXPECT_EQ(TagAt(20, 10), 1u);
  Frame(5, milliseconds(160));
  EXPECT_EQ(TagAt(20, 10), 5u);
  EXPECT_EQ(TagAt(50, 10), 2u);
}

TEST_F(CoveredArea, TwoWindowsAndOneReachingPastTheMonitorAreLeftOut) {
  Frame(1);
  own = {{-10, -10, 5, 5}, {60, 20, 80, 40}, {20, 0, 22, 32}};
  Frame(2);
  EXPECT_EQ(TagAt(0, 0), 1u);
  EXPECT_EQ(TagAt(4, 4), 1u);
  EXPECT_EQ(TagAt(5, 4), 2u);
  EXPECT_EQ(TagAt(63, 31), 1u);
  EXPECT_EQ(TagAt(59, 31), 2u);
  EXPECT_EQ(TagAt(21, 16), 1u);
  EXPECT_EQ(TagAt(22, 16), 2u);
}

TEST_F(CoveredArea, AStillScreenNeitherChangesTheZoneNorAsksForOurWindows) {
  int asked = 0;
  screen.SetOwnRectsProvider([&] {
    ++asked;
    return own;
  });
  const TRect zone{0, 0, 16, 16};
  EXPECT_TRUE(screen.ZoneMayHaveChanged(zone));  // never copied
  Put(screen, 0, Flat(64, 32, 1), 64, 32);
  EXPECT_TRUE(screen.ZoneMayHaveChanged(zone));
  EXPECT_TRUE(CopyOf(screen, zone).ok);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(screen.ZoneMayHaveChanged(zone));
  EXPECT_TRUE(screen.ZoneMayHaveChanged({1, 0, 17, 16}));
  // The cursor alone moving sends buffers without a picture: still nothing to copy.
  screen.Frames().PutCursor(0, true, {3, 3}, 64, 32);
  EXPECT_FALSE(screen.ZoneMayHaveChanged(zone));
  EXPECT_TRUE(CopyOf(screen, zone).ok);
  EXPECT_EQ(asked, 1);
  Put(screen, 0, Flat(64, 32, 2), 64, 32);
  EXPECT_TRUE(screen.ZoneMayHaveChanged(zone));
  // A lost cast is a change: the next copy fails and says so.
  EXPECT_TRUE(CopyOf(screen, zone).ok);
  screen.Frames().PutFailure("gone");
  EXPECT_TRUE(screen.ZoneMayHaveChanged(zone));
  EXPECT_FALSE(CopyOf(screen, zone).ok);
  EXPECT_EQ(screen.Frames().Failure(), "gone");
}

// Every repaint of our own view sends a frame: unless frames that leave the zone as it was
// count as no change, the view would be drawn again for ever on a still screen.
TEST_F(CoveredArea, AFrameThatLeavesTheZoneAsItWasIsNoChange) {
  const TRect zone{0, 0, 16, 16};
  Frame(1);
  own = {{8, 8, 30, 20}};
  EXPECT_TRUE(CopyOf(screen, zone).ok);
  std::vector<uint8_t> pixels = Flat(64, 32, 1);
  const auto paint = [&pixels](int x, int y) {
    pixels[static_cast<std::size_t>(y * 64 + x) * 4 + 2] = 9;
  };
  // Outside the zone, and inside it below our window.
  paint(40, 20);
  paint(10, 10);
  Put(screen, 0, pixels, 64, 32);
  EXPECT_FALSE(screen.ZoneMayHaveChanged(zone));
  EXPECT_FALSE(screen.ZoneMayHaveChanged(zone));
  EXPECT_TRUE(screen.ZoneMayHaveChanged({1, 0, 17, 16}));
  // One pixel of the zone that our window leaves free; the copy shows it.
  paint(15, 7);
  Put(screen, 0, pixels, 64, 32);
  EXPECT_TRUE(screen.ZoneMayHaveChanged(zone));
  const Copy c = CopyOf(screen, zone);
  EXPECT_EQ(c.At(15, 7) >> 16, 9u);
  EXPECT_EQ(c.At(10, 10) >> 16, 1u);
  EXPECT_FALSE(screen.ZoneMayHaveChanged(zone));
}

TEST(CastFrames, ReadsRowsThroughTheStrideAndSwapsRedFirstPixels) {
  CastFrames frames(1);
  // Two rows of two pixels, each row padded to 12 bytes; red first.
  const std::array<uint8_t, 24> rows = {1, 2, 3,  9, 4,  5,  6,  9, 0, 0, 0, 0,
                                        7, 8, 10, 9, 11, 12, 13, 9, 0, 0, 0, 0};
  frames.PutImage(0, rows.data(), 2, 2, 12, true);
  EXPECT_TRUE(frames.HasNewImage(0));
  CastFrame frame;
  ASSERT_TRUE(frames.TakeImage(0, frame));
  EXPECT_FALSE(frames.HasNewImage(0));
  EXPECT_FALSE(frames.TakeImage(0, frame));
  EXPECT_EQ(frame.width, 2);
  EXPECT_EQ(frame.pixels,
            (std::vector<uint8_t>{3, 2, 1, 9, 6, 5, 4, 9, 10, 8, 7, 9, 13, 12, 11, 9}));
}

TEST(CastFrames, WaitingForEveryStreamEndsOnTheLastFirstFrameOrOnFailureWhichIsSignalled) {
  CastFrames frames(2);
  const uint8_t pixel[4] = {};
  frames.PutImage(0, pixel, 1, 1, 4, false);
  EXPECT_FALSE(frames.WaitForEveryStream(std::chrono::milliseconds(0)));
  EXPECT_TRUE(frames.Delivered(0));
  EXPECT_FALSE(frames.Delivered(1));
  frames.PutImage(1, pixel, 1, 1, 4, false);
  EXPECT_TRUE(frames.WaitForEveryStream(std::chrono::milliseconds(0)));
  pollfd watch{frames.FailureDescriptor(), POLLIN, 0};
  ASSERT_GE(watch.fd, 0);
  EXPECT_EQ(poll(&watch, 1, 0), 0);
  frames.PutFailure("");
  frames.PutFailure("a later reason");
  EXPECT_FALSE(frames.WaitForEveryStream(std::chrono::hours(1)));
  EXPECT_EQ(frames.Failure(), "the screen cast ended");
  EXPECT_EQ(poll(&watch, 1, 0), 1);
}

}  // namespace
}  // namespace ombrix
