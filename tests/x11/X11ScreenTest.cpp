// The X11 screen's pointer and monitors.

#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include "FrameCycle.h"
#include "X11Desktop.h"
#include "X11TestSupport.h"

namespace ombrix {
namespace {

using test::TestClient;
using test::WaitUntil;

class X11Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestDisplayName() == nullptr) GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
  }
};

TEST_F(X11Screen, CursorPositionFollowsThePointer) {
  TestClient client(test::TestDisplayName());
  ASSERT_TRUE(client.Ok());
  auto desktop = X11Desktop::Open(test::TestDisplayName());
  ASSERT_TRUE(desktop);
  for (const TPoint target : {TPoint{123, 456}, TPoint{1, 0}, TPoint{1500, 900}}) {
    xcb_warp_pointer(client.Connection(), XCB_NONE, client.Root(), 0, 0, 0, 0,
                     static_cast<int16_t>(target.X), static_cast<int16_t>(target.Y));
    client.Sync();
    TPoint position;
    EXPECT_TRUE(WaitUntil([&] { return desktop->CursorPos(position) && position == target; }))
        << "wanted " << target.X << "," << target.Y << " got " << position.X << "," << position.Y;
  }
}

// A timer's poll knows the pointer from the raw events of its moves between the server's
// answers: after a long rest a device's move is seen at the very next poll, and a warp, which
// sends no raw event, within kPollsPerAsk polls. The poll never reports a position the pointer
// has left.
TEST_F(X11Screen, APolledPointerFollowsEveryMoveAfterARest) {
  TestClient client(test::TestDisplayName());
  ASSERT_TRUE(client.Ok());
  auto desktop = X11Desktop::Open(test::TestDisplayName());
  ASSERT_TRUE(desktop);
  xcb_warp_pointer(client.Connection(), XCB_NONE, client.Root(), 0, 0, 0, 0, 300, 200);
  client.Sync();
  TPoint position;
  const auto rest = [&](TPoint at) {
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(desktop->PolledCursorPos(position));
      ASSERT_EQ(position, at) << "poll " << i;
    }
  };
  rest({300, 200});
  // A move through XTest, as a mouse makes it: the device sends raw events.
  for (const TPoint target : {TPoint{310, 205}, TPoint{309, 205}, TPoint{1200, 0}}) {
    xcb_test_fake_input(client.Connection(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, client.Root(),
                        static_cast<int16_t>(target.X), static_cast<int16_t>(target.Y), 0);
    client.Sync();
    ASSERT_TRUE(desktop->PolledCursorPos(position));
    EXPECT_EQ(position, target);
    rest(target);
  }
  // A warp by another program.
  const TPoint warped{500, 600};
  xcb_warp_pointer(client.Connection(), XCB_NONE, client.Root(), 0, 0, 0, 0, 500, 600);
  client.Sync();
  int polls = 0;
  do {
    ASSERT_TRUE(desktop->PolledCursorPos(position));
    ++polls;
  } while (!(position == warped) && polls < 2 * X11Desktop::kPollsPerAsk);
  EXPECT_EQ(position, warped);
  EXPECT_LE(polls, X11Desktop::kPollsPerAsk);
  rest(warped);
  // The exact question still asks.
  xcb_warp_pointer(client.Connection(), XCB_NONE, client.Root(), 0, 0, 0, 0, 7, 8);
  client.Sync();
  ASSERT_TRUE(desktop->CursorPos(position));
  EXPECT_EQ(position, (TPoint{7, 8}));
}

TEST_F(X11Screen, OneMonitorIsTheWholeRoot) {
  TestClient client(test::TestDisplayName());
  ASSERT_TRUE(client.Ok());
  auto desktop = X11Desktop::Open(test::TestDisplayName());
  ASSERT_TRUE(desktop);
  const TRect root = client.RootRect();
  EXPECT_EQ(desktop->VirtualScreen(), root);
  EXPECT_EQ(desktop->MonitorCount(), 1);
  EXPECT_EQ(desktop->NearestMonitor({-500, -500, -400, -400}), root);
}

// Two RandR monitors side by side on one screen, on a server of the test's own: the left one
// carries the server's output (replacing the monitor that the output made by itself).
TEST_F(X11Screen, RandrMonitorsAreTheMonitors) {
  test::PrivateXServer server({"-screen", "0", "1600x1000x24"});
  if (server.Name().empty()) GTEST_SKIP() << "no Xvfb to start";
  TestClient client(server.Name().c_str());
  ASSERT_TRUE(client.Ok());
  ASSERT_TRUE(client.SetMonitor("OMBRIX-LEFT", {0, 0, 800, 1000}, true));
  ASSERT_TRUE(client.SetMonitor("OMBRIX-RIGHT", {800, 0, 1600, 1000}, false));
  auto desktop = X11Desktop::Open(server.Name().c_str());
  ASSERT_TRUE(desktop);
  EXPECT_EQ(desktop->VirtualScreen(), (TRect{0, 0, 1600, 1000}));
  EXPECT_EQ(desktop->MonitorCount(), 2);
  const TRect left{0, 0, 800, 1000};
  const TRect right{800, 0, 1600, 1000};
  // Straddling the seam: the monitor with the larger part.
  EXPECT_EQ(desktop->NearestMonitor({700, 100, 1000, 400}), right);
  EXPECT_EQ(desktop->NearestMonitor({500, 100, 900, 400}), left);
  // Off every monitor: the closest one.
  EXPECT_EQ(desktop->NearestMonitor({1700, -300, 1800, -200}), right);
  // A zone across the seam is still one grab, and without our windows.
  TBitmap capture(200, 100, pf32bit);
  const TPoint copy[3] = {{0, 0}, {200, 0}, {0, 100}};
  EXPECT_TRUE(desktop->CopyZone({700, 500, 900, 600}, copy, capture));
  EXPECT_TRUE(desktop->LeavesOutOwnWindows());
}

// The root's size is asked once and then followed through the server's notices: a resolution
// changed by the user reaches the frame cycle, whose zone keeps to the new edges.
TEST_F(X11Screen, ARootResizeIsFollowedAndTheZoneKeepsToTheNewEdges) {
  test::PrivateXServer server({"-screen", "0", "1600x1000x24"});
  if (server.Name().empty()) GTEST_SKIP() << "no Xvfb to start";
  TestClient client(server.Name().c_str());
  ASSERT_TRUE(client.Ok());
  const TRect whole{0, 0, 1600, 1000};
  const xcb_window_t pattern = client.CreateWindow(whole, 0, false);
  client.SetPatternBackground(pattern, {0, 0}, whole.Width(), whole.Height());
  client.Map(pattern);
  client.Sync();
  auto desktop = X11Desktop::Open(server.Name().c_str());
  ASSERT_TRUE(desktop);
  ASSERT_EQ(desktop->VirtualScreen(), whole);

  FrameCycle cycle(*desktop);
  FrameSettings settings;
  settings.window.rect = {0, 0, 100, 100};
  settings.window.clientWidth = 360;
  settings.window.clientHeight = 432;
  settings.fromTimer = true;
  settings.cursor = TPoint{1200, 700};
  // The zone's top-left corner that the capture must show, for each size of the screen.
  struct Step {
    TRect root;
    TPoint zone;
  };
  const Step steps[] = {{whole, {1020, 484}},
                        // Shifted left and up onto the smaller screen.
                        {{0, 0, 1280, 800}, {920, 368}},
                        {whole, {1020, 484}}};
  cycle.Run(settings);  // the first position only starts the still-cursor rule
  for (const Step& step : steps) {
    if (!(step.root == desktop->VirtualScreen())) {
      ASSERT_TRUE(client.ResizeRoot(step.root.Width(), step.root.Height()));
      EXPECT_TRUE(WaitUntil([&] { return desktop->VirtualScreen() == step.root; }))
          << "the screen's new size " << step.root.Width() << "x" << step.root.Height()
          << " was not noticed";
    }
    const FrameResult result = cycle.Run(settings);
    EXPECT_EQ(result.shows, FrameResult::Shows::View);
    EXPECT_EQ(test::Differences(
                  cycle.Capture(),
                  [&](int x, int y) { return test::Pattern(step.zone.X + x, step.zone.Y + y); }),
              0)
        << "zone from " << step.zone.X << "," << step.zone.Y << " on a screen of "
        << step.root.Width() << "x" << step.root.Height();
  }
}

}  // namespace
}  // namespace ombrix
