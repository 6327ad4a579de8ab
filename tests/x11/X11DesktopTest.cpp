// The X11 screen's copy of a zone, on the virtual display that test.sh starts.

#include "X11Desktop.h"

#include <gtest/gtest.h>
#include <xcb/shape.h>

#include <cstring>
#include <functional>
#include <string>

#include "X11TestSupport.h"

namespace ombrix {
namespace {

using test::Differences;
using test::Pattern;
using test::PixelAt;
using test::TestClient;
using test::WaitUntil;

constexpr uint32_t kMagenta = 0xFF00FF;
constexpr uint32_t kGreen = 0x00C000;
constexpr uint32_t kYellow = 0xFFFF00;

struct Mode {
  const char* name;
  X11Options options;
};

const Mode kModes[] = {
    {"ComposedShm", {true, true}},
    {"ComposedGetImage", {false, true}},
    {"RootShm", {true, false}},
    {"RootGetImage", {false, false}},
};

class X11Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestDisplayName() == nullptr) GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
    client_ = std::make_unique<TestClient>(test::TestDisplayName());
    ASSERT_TRUE(client_->Ok());
  }

  std::unique_ptr<X11Desktop> OpenDesktop(X11Options options) {
    auto desktop = X11Desktop::Open(test::TestDisplayName(), options);
    if (desktop) {
      // Each mode must really run its own path on this server.
      EXPECT_EQ(desktop->UsesShm(), options.useShm);
      EXPECT_EQ(desktop->LeavesOutOwnWindows(), options.leaveOutOwnWindows);
    }
    return desktop;
  }

  // An unmanaged window at `outer` whose inside shows the pattern of the screen it covers;
  // on top, or just below `below`.
  xcb_window_t ShowPattern(const TRect& outer, xcb_window_t below = XCB_NONE) {
    const xcb_window_t window = client_->CreateWindow(outer, 0, false);
    client_->SetPatternBackground(window, {outer.Left, outer.Top}, outer.Width(), outer.Height());
    if (below != XCB_NONE) {
      const uint32_t stacking[] = {below, XCB_STACK_MODE_BELOW};
      xcb_configure_window(client_->Connection(), window,
                           XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, stacking);
    }
    client_->Map(window);
    return window;
  }

  // Makes the pattern the desktop's wallpaper: the root's background, published as
  // _XROOTPMAP_ID as wallpaper setters do. Undone when the test ends.
  void ShowPatternWallpaper() {
    xcb_connection_t* c = client_->Connection();
    wallpaperAtom_ = client_->Atom("_XROOTPMAP_ID");
    const xcb_pixmap_t wallpaper = client_->PatternPixmap(client_->RootRect());
    xcb_change_window_attributes(c, client_->Root(), XCB_CW_BACK_PIXMAP, &wallpaper);
    xcb_clear_area(c, 0, client_->Root(), 0, 0, 0, 0);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, client_->Root(), wallpaperAtom_, XCB_ATOM_PIXMAP,
                        32, 1, &wallpaper);
    client_->Sync();
  }

  void TearDown() override {
    if (wallpaperAtom_ == XCB_ATOM_NONE) return;
    xcb_connection_t* c = client_->Connection();
    const uint32_t none = XCB_BACK_PIXMAP_NONE;
    xcb_delete_property(c, client_->Root(), wallpaperAtom_);
    xcb_change_window_attributes(c, client_->Root(), XCB_CW_BACK_PIXMAP, &none);
    xcb_clear_area(c, 0, client_->Root(), 0, 0, 0, 0);
    client_->Sync();
  }

  // Copies `zone` unchanged; false when the screen could not be read.
  static bool Copy(Desktop& desktop, const TRect& zone, TBitmap& capture) {
    capture.SetSize(zone.Width(), zone.Height());
    const TPoint copy[3] = {{0, 0}, {zone.Width(), 0}, {0, zone.Height()}};
    return desktop.CopyZone(zone, copy, capture);
  }

  // Polls until the copy of `zone` satisfies `done`.
  static bool CopyUntil(Desktop& desktop, const TRect& zone, TBitmap& capture,
                        const std::function<bool()>& done) {
    return WaitUntil([&] { return Copy(desktop, zone, capture) && done(); });
  }

  static auto PatternOf(const TRect& zone) {
    return [zone](int x, int y) { return Pattern(zone.Left + x, zone.Top + y); };
  }

  std::unique_ptr<TestClient> client_;
  xcb_atom_t wallpaperAtom_ = XCB_ATOM_NONE;
};

class X11CaptureModes : public X11Capture, public ::testing::WithParamInterface<Mode> {};

// The pattern goes up with 0xFF in every fourth byte: a grab that passed it on would differ.
TEST_P(X11CaptureModes, CopiesTheZonePixelForPixelWithAZeroFourthByte) {
  auto desktop = OpenDesktop(GetParam().options);
  ASSERT_TRUE(desktop);
  ShowPattern({200, 150, 1000, 750});
  const TRect zone{333, 222, 633, 422};
  TBitmap capture;
  EXPECT_TRUE(CopyUntil(*desktop, zone, capture,
                        [&] { return Differences(capture, PatternOf(zone)) == 0; }));
  EXPECT_EQ(Differences(capture, PatternOf(zone)), 0);
}

TEST_P(X11CaptureModes, ZonePastTheScreenFailsAndLeavesTheCaptureAlone) {
  auto desktop = OpenDesktop(GetParam().options);
  ASSERT_TRUE(desktop);
  const TRect root = client_->RootRect();
  const TRect zone{root.Right - 100, root.Bottom - 50, root.Right + 100, root.Bottom + 50};
  TBitmap capture(zone.Width(), zone.Height(), pf32bit);
  std::memset(capture.Bits(), 0x5A, capture.RowBytes() * static_cast<std::size_t>(zone.Height()));
  const TPoint copy[3] = {{0, 0}, {zone.Width(), 0}, {0, zone.Height()}};
  EXPECT_FALSE(desktop->CopyZone(zone, copy, capture));
  EXPECT_EQ(Differences(capture, [](int, int) { return 0x5A5A5A5Au; }), 0);
  // The desktop still works afterwards.
  TBitmap small;
  EXPECT_TRUE(Copy(*desktop, {0, 0, 16, 16}, small));
}

INSTANTIATE_TEST_SUITE_P(X11, X11CaptureModes, ::testing::ValuesIn(kModes),
                         [](const auto& p) { return std::string(p.param.name); });

class X11OwnWindows : public X11Capture, public ::testing::WithParamInterface<bool> {
 protected:
  X11Options Composed() const { return {GetParam(), true}; }
  X11Options Root() const { return {GetParam(), false}; }
};

TEST_P(X11OwnWindows, OurWindowAndItsBorderAreLeftOutWhileOthersStay) {
  auto composed = OpenDesktop(Composed());
  auto root = OpenDesktop(Root());
  ASSERT_TRUE(composed && root);
  ShowPattern({100, 100, 900, 700});
  const TRect zone{200, 200, 712, 584};
  // Ours, with a border, fully inside the zone; another client's window half inside it.
  const xcb_window_t ours = client_->CreateWindow({300, 260, 520, 420}, 5, false);
  client_->SetColours(ours, kMagenta, kYellow);
  const xcb_window_t theirs = client_->CreateWindow({600, 500, 800, 650}, 0, false);
  client_->SetColours(theirs, kGreen, 0);
  client_->Map(ours);
  client_->Map(theirs);

  // The screen shows both (border included) before we look.
  TBitmap onScreen;
  ASSERT_TRUE(CopyUntil(*root, zone, onScreen, [&] {
    return PixelAt(onScreen, 200, 150) == kMagenta && PixelAt(onScreen, 102, 62) == kYellow &&
           PixelAt(onScreen, 450, 350) == kGreen;
  }));

  // Until it is told which windows are ours, the composed zone is the screen.
  TBitmap capture;
  ASSERT_TRUE(Copy(*composed, zone, capture));
  EXPECT_EQ(Differences(capture, [&](int x, int y) { return PixelAt(onScreen, x, y); }), 0);

  composed->SetOwnWindowsProvider([&] { return std::vector<uint32_t>{ours}; });
  ASSERT_TRUE(Copy(*composed, zone, capture));
  const auto expected = [&](int x, int y) {
    const TPoint p{zone.Left + x, zone.Top + y};
    return TRect{600, 500, 800, 650}.Contains(p) ? kGreen : Pattern(p.X, p.Y);
  };
  EXPECT_EQ(Differences(capture, expected), 0);
}

TEST_P(X11OwnWindows, TheWindowManagerFrameAroundOurWindowIsLeftOut) {
  auto composed = OpenDesktop(Composed());
  auto root = OpenDesktop(Root());
  ASSERT_TRUE(composed && root);
  // A managed window's frame goes below unmanaged windows: the pattern is the wallpaper.
  ShowPatternWallpaper();
  const xcb_window_t ours = client_->CreateWindow({400, 300, 700, 500}, 0, true);
  client_->SetColours(ours, kMagenta, 0);
  client_->Map(ours);

  // Wait for the window manager to frame it and the frame to be drawn.
  xcb_window_t frame = XCB_NONE;
  ASSERT_TRUE(WaitUntil([&] {
    return client_->Parent(ours, frame) && frame != client_->Root() && frame != XCB_NONE;
  })) << "no window manager framed the window";
  xcb_window_t above = frame;
  while (above != client_->Root()) {
    frame = above;
    ASSERT_TRUE(client_->Parent(frame, above));
  }
  // Wait until the frame has settled and is drawn, its title bar above the window. The
  // window manager may still move or resize it: everything is read afresh on each try.
  const TRect screen = client_->RootRect();
  TRect zone;
  TBitmap onScreen;
  ASSERT_TRUE(WaitUntil([&] {
    TRect outer, inner, again;
    if (!client_->OuterRect(frame, outer) || !client_->OuterRect(ours, inner) ||
        inner.Top - outer.Top < 4 || inner.Width() < 20 || inner.Height() < 20)
      return false;
    zone = {std::max(0, outer.Left - 20), std::max(0, outer.Top - 20),
            std::min(screen.Right, outer.Right + 20), std::min(screen.Bottom, outer.Bottom + 20)};
    const TPoint client{inner.Left + 10, inner.Top + 10};
    const TPoint title{inner.Left + 10, outer.Top + 2};
    if (!zone.Contains(client) || !zone.Contains(title) || !Copy(*root, zone, onScreen) ||
        !client_->OuterRect(frame, again) || !(again == outer))
      return false;
    return PixelAt(onScreen, client.X - zone.Left, client.Y - zone.Top) == kMagenta &&
           PixelAt(onScreen, title.X - zone.Left, title.Y - zone.Top) != Pattern(title.X, title.Y);
  }));

  composed->SetOwnWindowsProvider([&] { return std::vector<uint32_t>{ours}; });
  TBitmap capture;
  ASSERT_TRUE(Copy(*composed, zone, capture));
  EXPECT_EQ(Differences(capture, PatternOf(zone)), 0);
}

// A window with a border and a bounding shape of two rectangles, partly outside the zone: the
// composed zone must match the screen, where the server clips the shape itself, everywhere
// but under our own small window in a corner. The pattern appears below the shaped window
// only after it is up, so that window's own pixmap holds something else outside its shape,
// which a copy that ignored the shape would show.
TEST_P(X11OwnWindows, ShapedWindowsOfOthersAreComposedAsTheScreenShowsThem) {
  auto composed = OpenDesktop(Composed());
  auto root = OpenDesktop(Root());
  ASSERT_TRUE(composed && root);
  const TRect zone{100, 100, 400, 300};
  const xcb_window_t shaped = client_->CreateWindow({50, 150, 250, 350}, 6, false);
  client_->SetColours(shaped, kGreen, kYellow);
  // Relative to the inside's origin; the second rectangle takes in part of the border.
  const xcb_rectangle_t parts[] = {{0, 0, 60, 188}, {-6, 40, 200, 30}};
  xcb_shape_rectangles(client_->Connection(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                       XCB_CLIP_ORDERING_UNSORTED, shaped, 0, 0, 2, parts);
  client_->Map(shaped);
  TBitmap onScreen;
  ASSERT_TRUE(
      CopyUntil(*root, zone, onScreen, [&] { return PixelAt(onScreen, 10, 100) == kGreen; }));
  const TRect ourRect{320, 110, 390, 170};
  const xcb_window_t ours = client_->CreateWindow(ourRect, 0, false);
  client_->SetColours(ours, kMagenta, 0);
  client_->Map(ours);
  ShowPattern({0, 0, 640, 480}, shaped);

  ASSERT_TRUE(CopyUntil(*root, zone, onScreen, [&] {
    // Inside the first part, inside the second's border piece, outside both, and ours.
    return PixelAt(onScreen, 10, 100) == kGreen && PixelAt(onScreen, 147, 110) == kYellow &&
           PixelAt(onScreen, 100, 110) == kGreen &&
           PixelAt(onScreen, 100, 150) == Pattern(200, 250) &&
           PixelAt(onScreen, 250, 30) == kMagenta;
  }));
  composed->SetOwnWindowsProvider([&] { return std::vector<uint32_t>{ours}; });
  TBitmap capture;
  ASSERT_TRUE(Copy(*composed, zone, capture));
  EXPECT_EQ(Differences(capture,
                        [&](int x, int y) {
                          const TPoint p{zone.Left + x, zone.Top + y};
                          return ourRect.Contains(p) ? Pattern(p.X, p.Y) : PixelAt(onScreen, x, y);
                        }),
            0);
}

// Where nothing but the desktop lies below our window, the published wallpaper shows.
TEST_P(X11OwnWindows, WallpaperShowsBelowOurWindowOnTheBareDesktop) {
  auto composed = OpenDesktop(Composed());
  auto root = OpenDesktop(Root());
  ASSERT_TRUE(composed && root);
  ShowPatternWallpaper();
  const xcb_window_t ours = client_->CreateWindow({1000, 600, 1200, 750}, 0, false);
  client_->SetColours(ours, kMagenta, 0);
  client_->Map(ours);
  const TRect zone{950, 550, 1250, 800};
  TBitmap onScreen;
  ASSERT_TRUE(CopyUntil(*root, zone, onScreen, [&] {
    return PixelAt(onScreen, 150, 125) == kMagenta &&
           PixelAt(onScreen, 10, 10) == Pattern(960, 560);
  }));
  composed->SetOwnWindowsProvider([&] { return std::vector<uint32_t>{ours}; });
  TBitmap capture;
  ASSERT_TRUE(Copy(*composed, zone, capture));
  EXPECT_EQ(Differences(capture, PatternOf(zone)), 0);
}

TEST_P(X11OwnWindows, WithoutWallpaperTheBareDesktopBelowOurWindowIsBlackNotOurWindow) {
  auto composed = OpenDesktop(Composed());
  auto root = OpenDesktop(Root());
  ASSERT_TRUE(composed && root);
  // Another client's window half below ours: it must still show where it lies.
  const xcb_window_t theirs = client_->CreateWindow({1040, 620, 1140, 700}, 0, false);
  client_->SetColours(theirs, kGreen, 0);
  client_->Map(theirs);
  const xcb_window_t ours = client_->CreateWindow({1000, 600, 1200, 750}, 0, false);
  client_->SetColours(ours, kMagenta, 0);
  client_->Map(ours);
  const TRect zone{1000, 600, 1200, 750};
  TBitmap onScreen;
  ASSERT_TRUE(
      CopyUntil(*root, zone, onScreen, [&] { return PixelAt(onScreen, 5, 5) == kMagenta; }));
  composed->SetOwnWindowsProvider([&] { return std::vector<uint32_t>{ours}; });
  TBitmap capture;
  ASSERT_TRUE(Copy(*composed, zone, capture));
  EXPECT_EQ(Differences(capture,
                        [&](int x, int y) {
                          return TRect{1040, 620, 1140, 700}.Contains({zone.Left + x, zone.Top + y})
                                     ? kGreen
                                     : 0u;
                        }),
            0);
}

INSTANTIATE_TEST_SUITE_P(X11, X11OwnWindows, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Shm" : "GetImage"; });

// The six graphic operations as destination points, and where each capture pixel of a square
// zone of side n comes from.
struct Operation {
  const char* name;
  TPoint points[3];
  TPoint (*source)(int x, int y, int n);
};

constexpr int kSide = 64;
constexpr int n_ = kSide;
const Operation kOperations[] = {
    {"Copy",
     {{0, 0}, {n_, 0}, {0, n_}},
     [](int x, int y, int) {
       return TPoint{x, y};
     }},
    {"UpsideDown",
     {{0, n_}, {n_, n_}, {0, 0}},
     [](int x, int y, int n) {
       return TPoint{x, n - 1 - y};
     }},
    {"LeftRight",
     {{n_, 0}, {0, 0}, {n_, n_}},
     [](int x, int y, int n) {
       return TPoint{n - 1 - x, y};
     }},
    {"QuarterClockwise",
     {{n_, 0}, {n_, n_}, {0, 0}},
     [](int x, int y, int n) {
       return TPoint{y, n - 1 - x};
     }},
    {"HalfTurn",
     {{n_, n_}, {0, n_}, {n_, 0}},
     [](int x, int y, int n) {
       return TPoint{n - 1 - x, n - 1 - y};
     }},
    {"QuarterCounterClockwise",
     {{0, n_}, {0, 0}, {n_, n_}},
     [](int x, int y, int n) {
       return TPoint{n - 1 - y, x};
     }},
};

class X11Operations : public X11Capture, public ::testing::WithParamInterface<Operation> {};

TEST_P(X11Operations, TurnAndMirrorARealGrabOfASquareZone) {
  auto desktop = OpenDesktop({true, true});
  ASSERT_TRUE(desktop);
  ShowPattern({500, 400, 700, 600});
  const TRect zone{555, 444, 555 + kSide, 444 + kSide};
  const Operation& op = GetParam();
  TBitmap capture(kSide, kSide, pf32bit);
  const auto expected = [&](int x, int y) {
    const TPoint s = op.source(x, y, kSide);
    return Pattern(zone.Left + s.X, zone.Top + s.Y);
  };
  EXPECT_TRUE(WaitUntil([&] {
    return desktop->CopyZone(zone, op.points, capture) && Differences(capture, expected) == 0;
  }));
  EXPECT_EQ(Differences(capture, expected), 0);
}

INSTANTIATE_TEST_SUITE_P(X11, X11Operations, ::testing::ValuesIn(kOperations),
                         [](const auto& p) { return std::string(p.param.name); });

// Operation 3 on a 400 x 200 view: the zone's 400-pixel width runs down the view's 200-pixel
// right column, every second pixel of the zone's top row.
TEST_F(X11Capture, QuarterTurnOfAWideZoneSqueezesItsWidthIntoTheHeight) {
  auto desktop = OpenDesktop({true, true});
  ASSERT_TRUE(desktop);
  ShowPattern({100, 100, 700, 500});
  const TRect zone{150, 150, 550, 350};
  const TPoint turn[3] = {{400, 0}, {400, 200}, {0, 0}};
  TBitmap capture(400, 200, pf32bit);
  const auto column = [&] {
    for (int y = 0; y < 200; ++y)
      if (PixelAt(capture, 399, y) != Pattern(zone.Left + 2 * y + 1, zone.Top)) return false;
    return true;
  };
  EXPECT_TRUE(WaitUntil([&] { return desktop->CopyZone(zone, turn, capture) && column(); }));
}

// On a connection that the caller keeps: it reads like its own, and stays open afterwards.
TEST_F(X11Capture, AnAttachedDesktopLeavesItsConnectionOpen) {
  TestClient lender(test::TestDisplayName());
  ASSERT_TRUE(lender.Ok());
  ShowPattern({0, 0, 300, 300});
  const TRect zone{20, 30, 220, 130};
  {
    auto desktop = X11Desktop::Attach(lender.Connection(), 0);
    ASSERT_TRUE(desktop);
    TBitmap capture;
    EXPECT_TRUE(CopyUntil(*desktop, zone, capture,
                          [&] { return Differences(capture, PatternOf(zone)) == 0; }));
  }
  EXPECT_TRUE(lender.Ok());
  xcb_window_t parent;
  EXPECT_TRUE(lender.Parent(lender.Root(), parent));
}

TEST_F(X11Capture, AStoppedDesktopReadsNothingAndStopsTwice) {
  auto desktop = OpenDesktop({true, true});
  ASSERT_TRUE(desktop);
  desktop->Stop();
  desktop->Stop();
  TBitmap capture;
  TPoint cursor;
  EXPECT_FALSE(Copy(*desktop, {0, 0, 8, 8}, capture));
  EXPECT_FALSE(desktop->CursorPos(cursor));
  EXPECT_FALSE(desktop->LeavesOutOwnWindows());
}

}  // namespace
}  // namespace ombrix
