// The main window on a real X server with a window manager: the display test.sh starts
// (OMBRIX_X11_DISPLAY). Pictures are put on the screen by a client of the test's own, which is
// not one of our windows; input goes through xdotool. Skipped when no display is set.

#include <gtest/gtest.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QProcess>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../TestFiles.h"
#include "Codecs.h"
#include "Controls.h"
#include "Ombrix.h"
#include "Sharpen.h"
#include "Ucmdprocess.h"
#include "Unit2.h"
#include "X11Desktop.h"
#include "X11TestSupport.h"
#include "iwProcess.h"

namespace ombrix {
namespace {

using test::Pattern;
using test::TestClient;

// Long enough that the window's own timer never ticks: the test drives every frame cycle.
constexpr int kRunningButIdle = 3600 * 1000;

bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, 10000);
}

// xdotool on the test display (DISPLAY is set by main); true when it succeeded.
bool XDoTool(const std::string& arguments) {
  return std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Moves the pointer to `at` through xdotool and waits until the server reports it there.
// (xdotool's own --sync waits for a motion event, which never comes when the pointer is
// already in place.)
bool MovePointer(TPoint at) {
  if (!XDoTool("mousemove " + std::to_string(at.X) + " " + std::to_string(at.Y))) return false;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) != 0) {
    xcb_disconnect(c);
    return false;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const bool there = WaitFor([&] {
    xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const bool here = r != nullptr && r->root_x == at.X && r->root_y == at.Y;
    std::free(r);
    return here;
  });
  xcb_disconnect(c);
  return there;
}

// The view's pixel as the pattern writes it, 0x00RRGGBB.
uint32_t ViewPixel(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
}

// Pixels of `bitmap` that differ from the pattern of the screen from `origin` on.
int DifferencesFromPattern(const TBitmap& bitmap, TPoint origin) {
  int count = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      count += ViewPixel(bitmap, x, y) != Pattern(origin.X + x, origin.Y + y);
    }
  }
  return count;
}

// The X11 screen, whose rests last hours: what the window shows during one came from the
// screen's news, not from the rest's end.
class LongRests : public Desktop {
 public:
  explicit LongRests(X11Desktop& screen) : screen_(screen) {}
  int RestTicks() override { return screen_.RestTicks() > 0 ? 400000 : 0; }
  bool CursorPos(TPoint& position) override { return screen_.CursorPos(position); }
  bool PolledCursorPos(TPoint& position) override { return screen_.PolledCursorPos(position); }
  TRect VirtualScreen() override { return screen_.VirtualScreen(); }
  int MonitorCount() override { return screen_.MonitorCount(); }
  TRect NearestMonitor(const TRect& window) override { return screen_.NearestMonitor(window); }
  bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) override {
    return screen_.CopyZone(zone, points, capture);
  }
  bool ZoneMayHaveChanged(const TRect& zone) override { return screen_.ZoneMayHaveChanged(zone); }
  void SetOwnWindowsProvider(OwnWindowsProvider provider) override {
    screen_.SetOwnWindowsProvider(std::move(provider));
  }
  int FileDescriptor() const override { return screen_.FileDescriptor(); }
  bool ConnectionLost() override { return screen_.ConnectionLost(); }

 private:
  X11Desktop& screen_;
};

class MainWindowX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestDisplayName() == nullptr || QGuiApplication::platformName() != "xcb") {
      GTEST_SKIP() << "OMBRIX_X11_DISPLAY is not set";
    }
    client_ = std::make_unique<TestClient>(test::TestDisplayName());
    ASSERT_TRUE(client_->Ok());
    desktop_ = X11Desktop::Open(test::TestDisplayName());
    ASSERT_TRUE(desktop_);
  }

  void TearDown() override {
    windows_ = {};
    if (patternOnRoot_) {
      // Back to the plain root.
      const uint32_t none = XCB_BACK_PIXMAP_NONE;
      xcb_delete_property(client_->Connection(), client_->Root(), client_->Atom("_XROOTPMAP_ID"));
      xcb_change_window_attributes(client_->Connection(), client_->Root(), XCB_CW_BACK_PIXMAP,
                                   &none);
      xcb_clear_area(client_->Connection(), 0, client_->Root(), 0, 0, 0, 0);
      client_->Sync();
    }
  }

  // The pattern as the desktop's wallpaper, below every window, ours included; published as
  // wallpaper setters do, which is where a capture finds what lies below our window.
  void ShowPatternOnTheRoot() {
    const xcb_pixmap_t pattern = client_->PatternPixmap(client_->RootRect());
    xcb_change_window_attributes(client_->Connection(), client_->Root(), XCB_CW_BACK_PIXMAP,
                                 &pattern);
    xcb_change_property(client_->Connection(), XCB_PROP_MODE_REPLACE, client_->Root(),
                        client_->Atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1, &pattern);
    xcb_clear_area(client_->Connection(), 0, client_->Root(), 0, 0, 0, 0);
    client_->Sync();
    patternOnRoot_ = true;
  }

  // The program's windows on the X11 screen, the main one shown with its frame's top-left
  // corner at `at`, its timer idle.
  TForm1& Open(QPoint at, Desktop* screen = nullptr) {
    windows_ = CreateApplicationWindows(screen != nullptr ? *screen : *desktop_);
    TForm1& form = *windows_.Form1;
    form.Timer1->SetInterval(kRunningButIdle);
    form.show();
    EXPECT_TRUE(WaitFor([&] { return form.isVisible() && form.windowHandle()->isExposed(); }));
    form.move(at);
    EXPECT_TRUE(WaitFor([&] { return form.frameGeometry().topLeft() == at; }));
    return form;
  }

  // Runs frame cycles until `done` holds.
  static bool CycleUntil(TForm1& form, const std::function<bool()>& done) {
    return WaitFor([&] {
      form.Timer1Timer();
      return done();
    });
  }

  static xcb_window_t IdOf(const QWidget& widget) {
    return static_cast<xcb_window_t>(widget.windowHandle()->winId());
  }

  // The root's child that holds `window` (the window manager's frame), or XCB_NONE.
  // Whether the window manager frames `window`: any non-zero _NET_FRAME_EXTENTS on it.
  bool HasFrame(xcb_window_t window) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        client_->Connection(),
        xcb_get_property(client_->Connection(), 0, window, client_->Atom("_NET_FRAME_EXTENTS"),
                         XCB_ATOM_CARDINAL, 0, 4),
        nullptr);
    bool framed = false;
    if (reply != nullptr && xcb_get_property_value_length(reply) >= 4 * 4) {
      const auto* extents = static_cast<const uint32_t*>(xcb_get_property_value(reply));
      framed = (extents[0] | extents[1] | extents[2] | extents[3]) != 0;
    }
    std::free(reply);
    return framed;
  }

  // Where the top-left corner of `window`'s inside is on the screen.
  TPoint RootPosition(xcb_window_t window) {
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        client_->Connection(),
        xcb_translate_coordinates(client_->Connection(), window, client_->Root(), 0, 0), nullptr);
    TPoint at{-1, -1};
    if (reply != nullptr) at = {reply->dst_x, reply->dst_y};
    std::free(reply);
    return at;
  }

  xcb_window_t TopLevelOf(xcb_window_t window) {
    xcb_window_t parent = window;
    while (window != XCB_NONE && client_->Parent(window, parent) && parent != client_->Root()) {
      window = parent;
    }
    return parent == client_->Root() ? window : XCB_NONE;
  }

  // Whether the window manager has put `window` into a frame of its own.
  bool Framed(xcb_window_t window) {
    const xcb_window_t top = TopLevelOf(window);
    return top != XCB_NONE && top != window;
  }

  bool Viewable(xcb_window_t window) {
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        client_->Connection(), xcb_get_window_attributes(client_->Connection(), window), nullptr);
    const bool viewable = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    return viewable;
  }

  // The root's child that the pointer is in, as the server finds it for a click.
  xcb_window_t ChildUnderPointer() {
    xcb_query_pointer_reply_t* r = xcb_query_pointer_reply(
        client_->Connection(), xcb_query_pointer(client_->Connection(), client_->Root()), nullptr);
    const xcb_window_t child = r != nullptr ? r->child : XCB_NONE;
    std::free(r);
    return child;
  }

  // A size of the window's WM_NORMAL_HINTS as the server holds them: the minimum (fields 5 and
  // 6) or the maximum (7 and 8); empty if none.
  static constexpr int kMinimumField = 5;
  static constexpr int kMaximumField = 7;
  QSize NormalHintsSize(xcb_window_t window, int field) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        client_->Connection(),
        xcb_get_property(client_->Connection(), 0, window, XCB_ATOM_WM_NORMAL_HINTS,
                         XCB_ATOM_WM_SIZE_HINTS, 0, 18),
        nullptr);
    QSize size;
    if (reply != nullptr && xcb_get_property_value_length(reply) >= (field + 2) * 4) {
      const auto* hints = static_cast<const int32_t*>(xcb_get_property_value(reply));
      size = QSize(hints[field], hints[field + 1]);
    }
    std::free(reply);
    return size;
  }

  // Pixels that the screen shows in `area` other than expected(x, y) (0x00RRGGBB, x and y from
  // the area's corner); -1 when the screen cannot be read.
  template <typename Expected>
  int ScreenDifferences(const TRect& area, Expected expected) {
    const std::vector<uint32_t> screen = Screenshot(area);
    if (screen.empty()) return -1;
    int count = 0;
    for (int y = 0; y < area.Height(); ++y)
      for (int x = 0; x < area.Width(); ++x)
        count += screen[static_cast<std::size_t>(y * area.Width() + x)] != expected(x, y);
    return count;
  }

  // What the screen shows in `area`, as 0x00RRGGBB values row after row; empty on failure.
  std::vector<uint32_t> Screenshot(const TRect& area) {
    xcb_connection_t* c = client_->Connection();
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, client_->Root(),
                      static_cast<int16_t>(area.Left), static_cast<int16_t>(area.Top),
                      static_cast<uint16_t>(area.Width()), static_cast<uint16_t>(area.Height()),
                      ~0u),
        nullptr);
    std::vector<uint32_t> pixels;
    const auto count = static_cast<std::size_t>(area.Width() * area.Height());
    if (reply != nullptr &&
        static_cast<std::size_t>(xcb_get_image_data_length(reply)) >= count * 4) {
      pixels.resize(count);
      std::memcpy(pixels.data(), xcb_get_image_data(reply), count * 4);
      for (uint32_t& p : pixels) p &= 0xFFFFFF;
    }
    std::free(reply);
    return pixels;
  }

  // Moves the pointer to (x, y) of the screen and clicks there.
  static bool ClickAt(TPoint at) { return MovePointer(at) && XDoTool("click 1"); }

  // True when no client holds the pointer grabbed (a window manager does during a drag).
  bool PointerFree() {
    xcb_connection_t* c = client_->Connection();
    xcb_grab_pointer_reply_t* reply = xcb_grab_pointer_reply(
        c,
        xcb_grab_pointer(c, 0, client_->Root(), 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                         XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    const bool free = reply != nullptr && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    if (free) xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    client_->Sync();
    return free;
  }

  // Where the root's child `window` stands among the root's children, bottom first; -1 if not.
  int StackingIndex(xcb_window_t window) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(
        client_->Connection(), xcb_query_tree(client_->Connection(), client_->Root()), nullptr);
    if (tree == nullptr) return -1;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    int index = -1;
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      if (children[i] == window) index = i;
    }
    std::free(tree);
    return index;
  }

  std::unique_ptr<TestClient> client_;
  std::unique_ptr<X11Desktop> desktop_;
  TApplicationWindows windows_;
  bool patternOnRoot_ = false;
};

TEST_F(MainWindowX11, ViewShowsTheZoneAroundTheCursorPixelForPixel) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  ASSERT_TRUE(MovePointer({400, 350}));
  // The zone of the 360 x 432 view around (400, 350).
  const TPoint origin{400 - 180, 350 - 216};
  EXPECT_TRUE(CycleUntil(form, [&] {
    return form.Image1->Picture().Width() == 360 &&
           DifferencesFromPattern(form.Image1->Picture(), origin) == 0;
  }));
  EXPECT_EQ(DifferencesFromPattern(form.Image1->Picture(), origin), 0);
  EXPECT_EQ(form.windowTitle(), QString("Ombrix [361 x 432] - [X=400 Y=350]"));
}

TEST_F(MainWindowX11, RestingTimerWakesForAMoveAndForChangesUnderTheZone) {
  ShowPatternOnTheRoot();
  LongRests screen(*desktop_);
  TForm1& form = Open({900, 200}, &screen);
  const auto watch = WatchScreen(screen, form, [] { ADD_FAILURE() << "screen lost"; });
  ASSERT_TRUE(watch);
  ASSERT_TRUE(MovePointer({400, 350}));
  form.Timer1->SetInterval(kStartTimerPeriod);
  const TBitmap& view = form.Image1->Picture();
  // The 360 x 432 view at zoom 1 shows the zone around the pointer; while it rests, only the
  // screen's news can change what it shows.
  const auto restsOn = [&](TPoint pointer) {
    return WaitFor([&] {
      return form.Timer1->Resting() && view.Width() == 360 &&
             DifferencesFromPattern(view, {pointer.X - 180, pointer.Y - 216}) == 0;
    });
  };
  ASSERT_TRUE(restsOn({400, 350}));
  // A move as a mouse makes it (XTest): the device sends raw events. (A warp sends none; it is
  // seen at the rest's end.)
  xcb_test_fake_input(client_->Connection(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME,
                      client_->Root(), 430, 380, 0);
  client_->Sync();
  EXPECT_TRUE(restsOn({430, 380}));
  EXPECT_EQ(form.windowTitle(), QString("Ombrix [361 x 432] - [X=430 Y=380]"));

  // A window mapped under the zone, then repainted in another colour.
  const xcb_window_t other = client_->CreateWindow({410, 360, 450, 400}, 0, false);
  client_->SetColours(other, 0x00FF00, 0);
  client_->Map(other);
  client_->Sync();
  // (420, 370) on the screen is (170, 206) in the view.
  EXPECT_TRUE(
      WaitFor([&] { return form.Timer1->Resting() && ViewPixel(view, 170, 206) == 0x00FF00; }));
  client_->SetColours(other, 0x0000FF, 0);
  client_->Sync();
  EXPECT_TRUE(
      WaitFor([&] { return form.Timer1->Resting() && ViewPixel(view, 170, 206) == 0x0000FF; }));
}

TEST_F(MainWindowX11, CrossLineSwitchedOnInThePanelShowsOnTheScreen) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  // Over the window the panel comes up; its "+" box is clicked as a user clicks it.
  const TRect client = form.ClientRect();
  ASSERT_TRUE(MovePointer({client.Left + 20, client.Top + 20}));
  ASSERT_TRUE(CycleUntil(form, [&] { return !form.Panel1->isHidden(); }));
  const QPoint box = form.cbSrediste->mapToGlobal(form.cbSrediste->rect().center());
  ASSERT_TRUE(ClickAt({box.x(), box.y()}));
  ASSERT_TRUE(WaitFor([&] { return form.cbSrediste->isChecked(); }));

  // The red cross over the zone around (410, 340), with its six free pixels at the centre.
  ASSERT_TRUE(MovePointer({410, 340}));
  const TPoint origin{410 - 180, 340 - 216};
  auto expected = [&](int x, int y) {
    const bool onRow = y == 216 && (x <= 176 || x >= 183);
    const bool onColumn = x == 180 && (y <= 212 || y >= 219);
    return onRow || onColumn ? 0xFF0000u : Pattern(origin.X + x, origin.Y + y);
  };
  const TRect shown{client.Left, client.Top, client.Left + 360, client.Top + 432};
  int differences = -1;
  EXPECT_TRUE(CycleUntil(form,
                         [&] {
                           differences = ScreenDifferences(shown, expected);
                           return differences == 0;
                         }))
      << differences << " pixels differ";
}

TEST_F(MainWindowX11, SharpenedViewIsTheUnsharpMaskOfTheCapturedZone) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  form.ScrollBarLevel->setValue(5);
  // Each test rests the pointer somewhere of its own: a move onto where it already is would
  // never end.
  ASSERT_TRUE(MovePointer({450, 380}));
  const TPoint origin{450 - 180, 380 - 216};
  ASSERT_TRUE(CycleUntil(form, [&] {
    return form.CaptureBitmap().Width() == 360 &&
           DifferencesFromPattern(form.CaptureBitmap(), origin) == 0;
  }));

  // The filter of radius 5 run by itself over what the frame captured.
  TImageWork reference;
  SetUpSharpen(reference);
  reference.FilterAs<TGaussianBaseFilter>()->SetRadius(5.0f);
  TBitmap capture;
  capture.Assign(&form.CaptureBitmap());
  ASSERT_TRUE(reference.ApplyFilter(&capture));
  const TBitmap& sharpened = *reference.OutputBitmap();
  const TBitmap& view = form.Image1->Picture();
  ASSERT_EQ(view.Width(), sharpened.Width());
  ASSERT_EQ(view.Height(), sharpened.Height());
  ASSERT_EQ(view.RowBytes(), sharpened.RowBytes());
  EXPECT_EQ(std::memcmp(view.Bits(), sharpened.Bits(), view.RowBytes() * 432), 0);
  // The pattern's edges did change.
  EXPECT_GT(DifferencesFromPattern(view, origin), 360 * 432 / 2);
}

TEST_F(MainWindowX11, ForcedCaptureOverThePatternTakesWhatLiesBeneathTheWindow) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({300, 200});
  const TRect client = form.ClientRect();
  ASSERT_TRUE(MovePointer({client.Left + 20, client.Top + 20}));
  // Over the window: the panel, nothing captured.
  ASSERT_TRUE(CycleUntil(form, [&] { return !form.Panel1->isHidden(); }));
  form.SetForceCapture(true);
  EXPECT_TRUE(CycleUntil(form, [&] {
    return form.ZonePoint() == TPoint{client.Left, client.Top} &&
           DifferencesFromPattern(form.CaptureBitmap(), {client.Left, client.Top}) == 0;
  }));
  form.SetForceCapture(false);
  EXPECT_EQ(DifferencesFromPattern(form.CaptureBitmap(), {client.Left, client.Top}), 0);
}

TEST_F(MainWindowX11, ClickOnTheSeeThroughAreaReachesTheWindowBelow) {
  TForm1& form = Open({300, 200});
  const TRect client = form.ClientRect();
  // Another program's window under ours, listening for button presses.
  const xcb_window_t below = client_->CreateWindow(
      {client.Left - 50, client.Top - 50, client.Right + 50, client.Bottom + 50}, 0, true);
  const uint32_t events = XCB_EVENT_MASK_BUTTON_PRESS;
  xcb_change_window_attributes(client_->Connection(), below, XCB_CW_EVENT_MASK, &events);
  client_->Map(below);
  client_->Sync();
  // Ours stays above it; put the cursor over the see-through middle beside the panel.
  const TPoint seeThrough{client.Left + 10, client.Top + 10};
  ASSERT_TRUE(MovePointer({seeThrough.X, seeThrough.Y}));
  ASSERT_TRUE(CycleUntil(form, [&] { return !form.Panel1->isHidden(); }));
  // Until the window manager has framed and shown it, the click would land on the desktop.
  ASSERT_TRUE(WaitFor([&] { return Framed(below) && Viewable(below); }));
  ASSERT_TRUE(WaitFor(
      [&] { return StackingIndex(TopLevelOf(IdOf(form))) > StackingIndex(TopLevelOf(below)); }));
  // The server hands the click to the window that it finds under the pointer.
  ASSERT_TRUE(WaitFor([&] { return ChildUnderPointer() == TopLevelOf(below); }));

  bool pressed = false;
  ASSERT_TRUE(XDoTool("click 1"));
  EXPECT_TRUE(WaitFor([&] {
    while (xcb_generic_event_t* event = xcb_poll_for_event(client_->Connection())) {
      if ((event->response_type & 0x7F) == XCB_BUTTON_PRESS) pressed = true;
      std::free(event);
    }
    return pressed;
  }));
}

TEST_F(MainWindowX11, StaysAboveAnotherWindowThatIsActivated) {
  TForm1& form = Open({300, 200});
  const xcb_window_t other = client_->CreateWindow({250, 150, 850, 750}, 0, true);
  client_->Map(other);
  client_->Sync();
  ASSERT_TRUE(WaitFor([&] { return TopLevelOf(other) != XCB_NONE; }));
  ASSERT_TRUE(XDoTool("windowactivate --sync " + std::to_string(other)));
  const xcb_window_t ours = TopLevelOf(IdOf(form));
  ASSERT_NE(ours, static_cast<xcb_window_t>(XCB_NONE));
  EXPECT_TRUE(WaitFor([&] { return StackingIndex(ours) > StackingIndex(TopLevelOf(other)); }));
}

TEST_F(MainWindowX11, WindowManagerKeepsTheSizeLimits) {
  TForm1& form = Open({100, 100});
  // The window manager's frame may come after every event of the window; the timer's tick
  // picks it up, as it does in a running program.
  form.Timer1->SetInterval(25);
  ASSERT_TRUE(WaitFor([&] { return form.FrameExtraHeight() > 0; }));
  form.Timer1->SetInterval(kRunningButIdle);
  // Once the window manager has framed the window, the limits net of the frame reach it.
  const QSize minimum(form.MinTrackWidth() - form.FrameExtraWidth(),
                      form.MinTrackHeight() - form.FrameExtraHeight());
  ASSERT_TRUE(WaitFor([&] { return NormalHintsSize(IdOf(form), kMinimumField) == minimum; }));
  const std::string id = std::to_string(IdOf(form));

  ASSERT_TRUE(XDoTool("windowsize " + id + " 50 50"));
  EXPECT_TRUE(WaitFor([&] { return form.size() == minimum; }))
      << form.width() << " x " << form.height();

  ASSERT_TRUE(XDoTool("windowsize " + id + " 3000 3000"));
  ASSERT_TRUE(WaitFor([&] { return form.width() > 400; }));
  // However the window manager and the area rule settle it, the outer size ends within the
  // limits that its own client size sets, and so the client area within the largest one.
  EXPECT_TRUE(WaitFor([&] {
    const QSize outer = form.frameGeometry().size();
    return outer.width() <= form.MaxTrackWidth() && outer.height() <= form.MaxTrackHeight();
  })) << form.width()
      << " x " << form.height();
  EXPECT_LE(form.width() * form.height(), MaxClientArea);
}

// Lets go of the left button when it goes, so that a failed check leaves no drag running.
struct HeldButton {
  HeldButton() { held = XDoTool("mousedown 1"); }
  ~HeldButton() { XDoTool("mouseup 1"); }
  bool held;
};

TEST_F(MainWindowX11, StepwiseCornerDragKeepsWindowPictureAndAreaRuleInStep) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({40, 20});
  const xcb_window_t id = IdOf(form);
  TRect client;
  // Every size the window manager gives the window, as the test's own client hears of it.
  const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(client_->Connection(), id, XCB_CW_EVENT_MASK, &structure);
  client_->Sync();
  int widestGranted = 0;
  const auto hearSizes = [&] {
    while (xcb_generic_event_t* event = xcb_poll_for_event(client_->Connection())) {
      if ((event->response_type & 0x7F) == XCB_CONFIGURE_NOTIFY) {
        const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        if (configure->window == id) widestGranted = std::max<int>(widestGranted, configure->width);
      }
      std::free(event);
    }
  };
  // The window as the server has it, and everything of ours that must agree with it: the size
  // the program works with, the caption, the outline and the view, the area and the limits
  // that the rule gives for that size.
  std::string seen;
  const auto settled = [&] {
    hearSizes();
    if (!client_->OuterRect(id, client)) return false;
    const int w = client.Width();
    const int h = client.Height();
    const QSize limit(h <= 768 ? MaxClientArea / h : 1024 - form.FrameExtraWidth(),
                      w <= 1024 ? MaxClientArea / w : 768 - form.FrameExtraHeight());
    const QSize hinted = NormalHintsSize(id, kMaximumField);
    const auto black = [](int, int) { return 0u; };
    const int outlineGaps =
        ScreenDifferences({client.Right - 1, client.Top, client.Right, client.Bottom}, black) +
        ScreenDifferences({client.Left, client.Bottom - 1, client.Right, client.Bottom}, black);
    seen = "server " + std::to_string(w) + " x " + std::to_string(h) + ", program " +
           std::to_string(form.width()) + " x " + std::to_string(form.height()) + ", caption \"" +
           form.windowTitle().toStdString() + "\", limits " + std::to_string(hinted.width()) +
           " x " + std::to_string(hinted.height()) + ", outline gaps " +
           std::to_string(outlineGaps);
    const QRect whole(0, 0, w, h);
    return form.size() == QSize(w, h) &&
           form.windowTitle().contains(QString::asprintf("%d x %d", w, h)) &&
           form.mask().boundingRect() == whole && form.Image1->geometry() == whole &&
           w * h <= MaxClientArea && hinted == limit && outlineGaps == 0;
  };
  // Near the area cap: 1022 x 743 is 759346 pixels, and the rule lets the client reach
  // 786432 div 743 = 1058 wide and 786432 div 1022 = 769 high, though not both at once.
  form.resize(1022, 743);
  ASSERT_TRUE(WaitFor([&] {
    return settled() && client.Width() == 1022 && client.Height() == 743;
  })) << seen;

  // The bottom-right corner of the window manager's frame, dragged in steps of 20 pixels.
  TRect frame;
  ASSERT_TRUE(client_->OuterRect(TopLevelOf(id), frame));
  const TPoint grip{frame.Right - 2, frame.Bottom - 2};
  ASSERT_TRUE(MovePointer(grip));
  {
    const HeldButton button;
    ASSERT_TRUE(button.held);
    for (int step = 1; step <= 6; ++step) {
      ASSERT_TRUE(MovePointer({grip.X + 20 * step, grip.Y + 20 * step}));
      ASSERT_TRUE(client_->SyncWithWindowManager());
      ASSERT_TRUE(WaitFor(settled)) << "step " << step << ": " << seen;
    }
  }
  // The drag is over once the window manager lets go of the pointer.
  EXPECT_TRUE(WaitFor([&] { return PointerFree(); }));
  EXPECT_TRUE(WaitFor(settled)) << "released: " << seen;
  // The drag did reach the window: it was handed sizes wider than where it started.
  EXPECT_GT(widestGranted, 1022);
}

// Gives `window` the keyboard focus through the window manager, as a user's click would.
bool Activate(QWidget& window) {
  const auto id = static_cast<xcb_window_t>(window.windowHandle()->winId());
  return XDoTool("windowactivate --sync " + std::to_string(id)) &&
         WaitFor([&] { return window.isActiveWindow(); });
}

// Runs `program` with `arguments` beside our event loop (a clipboard owner must answer while
// the reader waits) and returns what it wrote; empty when it failed.
QByteArray RunBeside(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForStarted(5000)) return {};
  if (!WaitFor([&] { return process.state() == QProcess::NotRunning; })) {
    process.kill();
    process.waitForFinished(5000);
    return {};
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
  return process.readAllStandardOutput();
}

TEST_F(MainWindowX11, SpaceFreezesTheViewWhileTheCursorMovesAndUnfreezesIt) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  const TBitmap& view = form.Image1->Picture();
  ASSERT_TRUE(MovePointer({400, 350}));
  form.Timer1->SetInterval(form.TimerPeriod());
  const TPoint first{400 - 180, 350 - 216};
  ASSERT_TRUE(WaitFor([&] {
    return view.Width() == 360 && DifferencesFromPattern(view, first) == 0;
  })) << form.width()
      << " x " << form.height();
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key space"));
  ASSERT_TRUE(WaitFor([&] { return form.Frozen(); }));

  // Moved and resting elsewhere, the frozen picture stays, on the screen too.
  ASSERT_TRUE(MovePointer({520, 430}));
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.Frozen());
  EXPECT_EQ(DifferencesFromPattern(view, first), 0);
  const TRect client = form.ClientRect();
  EXPECT_TRUE(WaitFor([&] {
    return ScreenDifferences({client.Left, client.Top, client.Left + 360, client.Top + 432},
                             [&](int x, int y) { return Pattern(first.X + x, first.Y + y); }) == 0;
  }));

  ASSERT_TRUE(XDoTool("key space"));
  const TPoint second{520 - 180, 430 - 216};
  EXPECT_TRUE(WaitFor([&] { return DifferencesFromPattern(view, second) == 0; }));
  EXPECT_EQ(form.Timer1->Interval(), form.TimerPeriod());
}

TEST_F(MainWindowX11, FHoldsTheZoneWhileThePictureRuns) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  const TBitmap& view = form.Image1->Picture();
  ASSERT_TRUE(MovePointer({410, 360}));
  const TPoint held{410 - 180, 360 - 216};
  ASSERT_TRUE(CycleUntil(form, [&] { return DifferencesFromPattern(view, held) == 0; }));
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key f"));
  ASSERT_TRUE(WaitFor([&] { return form.ZoneFixed(); }));
  ASSERT_TRUE(MovePointer({600, 500}));
  form.Timer1Timer();
  form.Timer1Timer();
  EXPECT_FALSE(form.Frozen());
  EXPECT_EQ(DifferencesFromPattern(view, held), 0);
  EXPECT_EQ(form.windowTitle(), QString("Ombrix [361 x 432] - [X=410 Y=360]"));
}

TEST_F(MainWindowX11, CtrlCLeavesTheZoneOnTheClipboardForOtherPrograms) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({900, 200});
  ASSERT_TRUE(MovePointer({430, 380}));
  const TPoint zone{430 - 180, 380 - 216};
  ASSERT_TRUE(
      CycleUntil(form, [&] { return DifferencesFromPattern(form.CaptureBitmap(), zone) == 0; }));
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key ctrl+c"));
  ASSERT_TRUE(WaitFor([&] { return form.Timer1->Interval() == form.TimerPeriod(); }));

  const QByteArray targets = RunBeside("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"});
  EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
  EXPECT_TRUE(targets.contains("image/bmp")) << targets.toStdString();
  const QByteArray png = RunBeside("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
  const QImage copied = QImage::fromData(png, "PNG");
  ASSERT_EQ(copied.size(), QSize(360, 432));
  int differences = 0;
  for (int y = 0; y < 432; ++y)
    for (int x = 0; x < 360; ++x)
      differences += (copied.pixel(x, y) & 0xFFFFFF) != Pattern(zone.X + x, zone.Y + y);
  EXPECT_EQ(differences, 0);
}

TEST_F(MainWindowX11, RightClicksRemoveAndRestoreTheFrameOfTheSameWindow) {
  ShowPatternOnTheRoot();
  TForm1& form = Open({300, 200});
  const xcb_window_t id = IdOf(form);
  // Beside ours, so that what lies under ours stays the pattern.
  const xcb_window_t other = client_->CreateWindow({800, 150, 1400, 750}, 0, true);
  client_->Map(other);
  client_->Sync();
  ASSERT_TRUE(WaitFor([&] { return TopLevelOf(other) != XCB_NONE; }));
  const TPoint place{form.geometry().x(), form.geometry().y()};
  ASSERT_TRUE(WaitFor([&] { return RootPosition(id) == place; }));

  for (const bool frameless : {true, false}) {
    SCOPED_TRACE(frameless ? "frame removed" : "frame restored");
    const QRect before = form.geometry();
    // A right click on the panel's background, between its groups.
    const QPoint panel = form.Panel1->mapToGlobal(QPoint(3, 95));
    ASSERT_TRUE(MovePointer({panel.x(), panel.y()}));
    ASSERT_TRUE(CycleUntil(form, [&] { return !form.Panel1->isHidden(); }));
    ASSERT_TRUE(XDoTool("click 3"));
    ASSERT_TRUE(WaitFor([&] { return HasFrame(id) != frameless; }));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(IdOf(form), id);
    EXPECT_EQ(form.geometry().size(), before.size());
    EXPECT_EQ(RootPosition(id), place);
    // The frame that the program works with is the new one, though the window did not move.
    TRect frame;
    EXPECT_TRUE(WaitFor([&] {
      return client_->OuterRect(TopLevelOf(id), frame) && form.WindowRect() == frame;
    })) << "server "
        << frame.Width() << " x " << frame.Height() << ", program " << form.WindowRect().Width()
        << " x " << form.WindowRect().Height();
    // Still above a window that the user activates.
    ASSERT_TRUE(XDoTool("windowactivate --sync " + std::to_string(other)));
    const xcb_window_t ours = TopLevelOf(IdOf(form));
    EXPECT_TRUE(WaitFor([&] { return StackingIndex(ours) > StackingIndex(TopLevelOf(other)); }));
    // Still shaped, and still absent from its own capture.
    xcb_shape_query_extents_reply_t* shape = xcb_shape_query_extents_reply(
        client_->Connection(), xcb_shape_query_extents(client_->Connection(), id), nullptr);
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(shape->bounding_shaped);
    std::free(shape);
    const TRect client = form.ClientRect();
    form.SetForceCapture(true);
    EXPECT_TRUE(CycleUntil(form, [&] {
      return DifferencesFromPattern(form.CaptureBitmap(), {client.Left, client.Top}) == 0;
    }));
    form.SetForceCapture(false);
  }
}

TEST_F(MainWindowX11, CtrlMShowsTheCommandWindow) {
  TForm1& form = Open({300, 200});
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key ctrl+m"));
  ASSERT_TRUE(WaitFor([&] { return windows_.FormCmd->isVisible(); }));
  const xcb_window_t cmd = IdOf(*windows_.FormCmd);
  EXPECT_TRUE(WaitFor([&] { return Viewable(cmd); }));
  xcb_get_property_reply_t* name = xcb_get_property_reply(
      client_->Connection(),
      xcb_get_property(client_->Connection(), 0, cmd, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64),
      nullptr);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(xcb_get_property_value(name)),
                        static_cast<std::size_t>(xcb_get_property_value_length(name))),
            "Cmd");
  std::free(name);
}

// The picture frozen, measured with a left click and saved with "Save as..", as a user does it.
TEST_F(MainWindowX11, FrozenPictureIsMeasuredByAClickAndSavedUnderATypedName) {
  ShowPatternOnTheRoot();
  // Clear of the statistics and command windows' places.
  TForm1& form = Open({100, 500});
  const TBitmap& view = form.Image1->Picture();
  ASSERT_TRUE(MovePointer({440, 390}));
  form.Timer1->SetInterval(form.TimerPeriod());
  const TPoint zone{440 - 180, 390 - 216};
  ASSERT_TRUE(WaitFor([&] { return DifferencesFromPattern(view, zone) == 0; }));
  ASSERT_TRUE(Activate(form));
  ASSERT_TRUE(XDoTool("key space"));
  ASSERT_TRUE(WaitFor([&] { return form.Frozen(); }));

  // A left click on the view's pixel (50, 60): "FormMouse" takes its colour.
  const TRect client = form.ClientRect();
  ASSERT_TRUE(ClickAt({client.Left + 50, client.Top + 60}));
  TForm2& statistics = *windows_.Form2;
  ASSERT_TRUE(WaitFor([&] { return statistics.isVisible(); }));
  EXPECT_EQ(statistics.windowTitle(), QString("FormMouse"));
  const uint32_t clicked = Pattern(zone.X + 50, zone.Y + 60);
  // Where the window manager put it, as the server says.
  EXPECT_TRUE(WaitFor([&] {
    const TPoint corner = RootPosition(IdOf(statistics));
    return ScreenDifferences({corner.X + 2, corner.Y + 2, corner.X + 3, corner.Y + 3},
                             [&](int, int) { return clicked; }) == 0;
  }));

  // "Save as..": a name typed into the dialog and Enter.
  ASSERT_TRUE(Activate(form));  // the statistics window took the focus when it came up
  ASSERT_TRUE(XDoTool("key ctrl+m"));
  TFormCmd& cmd = *windows_.FormCmd;
  ASSERT_TRUE(WaitFor([&] { return cmd.isVisible() && cmd.windowHandle()->isExposed(); }));
  testing_files::TempDir dir;
  const std::filesystem::path file = dir / "view.bmp";
  QProcess keyboard;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (keyboard.state() != QProcess::NotRunning || dialog == nullptr ||
        dialog->windowHandle() == nullptr || !dialog->windowHandle()->isExposed()) {
      return;
    }
    poll.stop();
    // The user goes to the test's folder first, wherever the dialog opened.
    dialog->setDirectory(QString::fromStdString(dir.Path().string()));
    const QString id = QString::number(dialog->windowHandle()->winId());
    keyboard.start("sh", {"-c", "xdotool windowactivate --sync " + id +
                                    " && xdotool type --delay 20 view.bmp && xdotool key Return"});
  });
  poll.start(10);
  QTimer::singleShot(20000, [] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
      dialog->reject();
  });
  const QPoint save = cmd.SpeedButtonSave->mapTo(&cmd, cmd.SpeedButtonSave->rect().center());
  const TPoint corner = RootPosition(IdOf(cmd));
  ASSERT_TRUE(ClickAt({corner.X + save.x(), corner.Y + save.y()}));
  EXPECT_TRUE(WaitFor([&] {
    return QApplication::activeModalWidget() == nullptr && std::filesystem::exists(file);
  }));
  keyboard.waitForFinished(5000);

  ASSERT_TRUE(std::filesystem::exists(file));
  const auto saved = LoadPictureFromFile(file.string());
  ASSERT_EQ(saved->Width(), view.Width());
  ASSERT_EQ(saved->Height(), view.Height());
  int differences = 0;
  for (int y = 0; y < view.Height(); ++y)
    for (int x = 0; x < view.Width(); ++x)
      differences += ViewPixel(*saved, x, y) != ViewPixel(view, x, y);
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(DifferencesFromPattern(*saved, zone), 0);
}

// The main window that counts how often the frame cycle draws: the sharpen stage runs once per
// drawn frame, right after the zoom, at every strength.
class TDrawCountingForm : public TForm1 {
 public:
  using TForm1::TForm1;
  int draws = 0;

 protected:
  void SharpenStage(int level) override {
    ++draws;
    TForm1::SharpenStage(level);
  }
};

TEST_F(MainWindowX11, StillScreenIsDrawnOnceAndAWindowRepaintedUnderTheZoneOnTheNextTick) {
  if (!desktop_->TracksChanges()) GTEST_SKIP() << "the X server offers no Damage extension";
  ShowPatternOnTheRoot();
  // A window of another program under the zone, hidden by ours, which the test repaints.
  const TRect painted{520, 260, 575, 370};
  const xcb_window_t window = client_->CreateWindow(painted, 0, false);
  client_->SetColours(window, 0x3366CC, 0);
  client_->Map(window);
  client_->Sync();

  TDrawCountingForm form(*desktop_);
  desktop_->SetOwnWindowsProvider(OwnWindowIds);
  form.Timer1->SetInterval(kRunningButIdle);
  form.show();
  ASSERT_TRUE(WaitFor([&] { return form.isVisible() && form.windowHandle()->isExposed(); }));
  // Our window meets the zone, and repaints itself with every drawn frame.
  const QPoint at{500, 200};
  form.move(at);
  ASSERT_TRUE(WaitFor([&] { return form.frameGeometry().topLeft() == at; }));
  ASSERT_TRUE(MovePointer({400, 350}));
  const TPoint origin{400 - 180, 350 - 216};
  uint32_t colour = 0x3366CC;
  const auto expected = [&](int x, int y) {
    const TPoint p{origin.X + x, origin.Y + y};
    return painted.Contains(p) ? colour : Pattern(p.X, p.Y);
  };
  // The timer's own path: only its ticks may keep the last view.
  const std::function<void()> tick = form.Timer1->OnTimer;
  ASSERT_TRUE(WaitFor([&] {
    tick();
    return form.Image1->Picture().Width() == 360 &&
           test::Differences(form.Image1->Picture(), expected) == 0;
  }));

  int drawn = form.draws;
  for (int i = 0; i < 20; ++i) tick();
  EXPECT_EQ(form.draws, drawn) << "a still screen was drawn again";

  colour = 0xCC6633;
  client_->SetColours(window, colour, 0);
  client_->Sync();
  tick();
  EXPECT_EQ(form.draws, drawn + 1);
  EXPECT_EQ(test::Differences(form.Image1->Picture(), expected), 0);

  // Any change of a setting, and a direct cycle, draw again.
  drawn = form.draws;
  form.Slider->setValue(4);
  form.ScrollBarLevel->setValue(5);
  tick();
  EXPECT_EQ(form.draws, drawn + 1);
  for (int i = 0; i < 20; ++i) tick();
  EXPECT_EQ(form.draws, drawn + 1) << "zoom 8 and sharpen 5 ran again on a still screen";
  form.Timer1Timer();
  EXPECT_EQ(form.draws, drawn + 2);
  // A view drawn over by someone else (the command window's redraw) is drawn afresh.
  const TBitmap black(360, 432, pf32bit);
  form.RenderToView(black, {0, 0, 360, 432}, 1, 0.0f, 0, 360, 432);
  const int rendered = form.draws;
  tick();
  EXPECT_EQ(form.draws, rendered + 1);
}

}  // namespace
}  // namespace ombrix

namespace {

// After each test, once its windows are gone from the server, waits for the window manager to
// have let go of them: their ids go to the next test's windows, which a manager still
// unmanaging the old ones would move about.
class WindowManagerBarrier : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
      xcb_connection_t* c = x11->connection();
      std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    ombrix::test::TestClient client(ombrix::test::TestDisplayName());
    if (client.Ok()) client.SyncWithWindowManager();
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (at build time) needs no display; running them needs the test's one.
  const char* display = std::getenv("OMBRIX_X11_DISPLAY");
  if (::testing::GTEST_FLAG(list_tests) || display == nullptr || *display == '\0') {
    return RUN_ALL_TESTS();
  }
  qputenv("DISPLAY", display);
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WindowManagerBarrier);
  return RUN_ALL_TESTS();
}
