// The screen of a Wayland session against a real compositor: run inside the private headless
// GNOME session of scripts/gnome-session.sh (ctest does), skipped anywhere else.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "MutterRemote.h"
#include "PortalDesktop.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using test::BlockAt;
using test::MutterRemote;
using test::PatternAt;

uint32_t FrameAt(const CastFrame& f, int x, int y) {
  const uint8_t* p = &f.pixels[static_cast<std::size_t>(y * f.width + x) * 4];
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// A child process that ends with the test.
class Child {
 public:
  bool Start(std::vector<std::string> argv, std::vector<std::string> extraEnv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& e : extraEnv) env.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    return posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), envp.data()) == 0;
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

// Runs a program to its end; its exit status, or -1 when it could not run.
int RunToEnd(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Waits until the monitor of `remote` shows `colour` at stream pixel `at`.
bool WaitForPicture(MutterRemote& remote, TPoint at, uint32_t colour,
                    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  CastFrame frame;
  while (std::chrono::steady_clock::now() < deadline) {
    if (remote.NewestFrame(frame, 1s) && at.X < frame.width && at.Y < frame.height &&
        FrameAt(frame, at.X, at.Y) == colour)
      return true;
    remote.NextFrame(frame, 200ms);
  }
  return false;
}

// Waits for `condition` up to `timeout`, looking again every few milliseconds.
template <typename Condition>
bool WaitFor(std::chrono::milliseconds timeout, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Copies `zone` magnified `zoom` times (as the frame cycle's parallelogram does) and counts the
// pixels that differ from the picture `expected` (the known picture by default).
int CopyMismatches(Desktop& desktop, const TRect& zone, int zoom,
                   uint32_t (*expected)(int x, int y) = PatternAt) {
  TBitmap capture(zone.Width() * zoom, zone.Height() * zoom);
  const TPoint points[3] = {{0, 0}, {zone.Width() * zoom, 0}, {0, zone.Height() * zoom}};
  if (!desktop.CopyZone(zone, points, capture)) return -1;
  int mismatches = 0;
  for (int y = 0; y < capture.Height(); ++y) {
    const uint8_t* row = capture.ScanLine(y);
    for (int x = 0; x < capture.Width(); ++x) {
      const uint32_t seen =
          uint32_t{row[x * 4 + 2]} << 16 | uint32_t{row[x * 4 + 1]} << 8 | row[x * 4];
      if (seen != expected(zone.Left + x / zoom, zone.Top + y / zoom)) ++mismatches;
    }
  }
  return mismatches;
}

// A test inside the private GNOME session, with mutter's own view of the primary monitor.
class GnomeSession : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("OMBRIX_GNOME_LOGS")) GTEST_SKIP() << "not inside scripts/gnome-session.sh";
  }
  // Shows the known picture on monitor `monitor`, fullscreen (blocks: the one of flat squares).
  void ShowPicture(Child& client, int width, int height, int monitor, bool blocks) {
    std::vector<std::string> argv = {"/usr/bin/python3", OMBRIX_TEST_DIR "/pattern_window.py",
                                     std::to_string(width), std::to_string(height),
                                     std::to_string(monitor)};
    if (blocks) argv.emplace_back("blocks");
    // Cairo draws the picture pixel for pixel.
    ASSERT_TRUE(client.Start(argv, {"GSK_RENDERER=cairo"}));
  }
  void OpenRemote(std::unique_ptr<MutterRemote>& r, const std::string& connector) {
    std::string error;
    r = MutterRemote::Open(error, connector);
    ASSERT_TRUE(r) << error;
  }

  // Starts opening the screen; the portal may show its dialog meanwhile.
  std::future<std::unique_ptr<PortalDesktop>> OpenLater(TPortalFailure& failure) {
    return std::async(std::launch::async, [&failure] {
      PortalDesktopOptions options;
      options.portal.consentTimeout = 60s;
      options.firstFrameTimeout = 30s;
      return PortalDesktop::Open(options, failure);
    });
  }

  // The known picture where the dialog will show.
  static uint32_t Underneath() {
    return PatternAt(test::ConsentDialog::kBody.X, test::ConsentDialog::kBody.Y);
  }
  void AcceptConsent(int monitors = 1) {
    std::string error;
    ASSERT_TRUE(
        test::AnswerConsentDialog(*remote, monitors, Underneath(), error, "wayland-dialog.ppm"))
        << error;
  }
  // Opens the screen, choosing `monitors` monitors in the consent dialog.
  void OpenWithConsent(std::unique_ptr<PortalDesktop>& desktop, int monitors = 1) {
    TPortalFailure failure;
    auto opening = OpenLater(failure);
    AcceptConsent(monitors);
    ASSERT_EQ(opening.wait_for(60s), std::future_status::ready) << "the screen did not open";
    desktop = opening.get();
    ASSERT_TRUE(desktop) << PortalProblemLine(failure);
  }
  void RefuseConsent() {
    std::string error;
    ASSERT_TRUE(test::AnswerConsentDialog(*remote, 0, Underneath(), error, "wayland-dialog.ppm"))
        << error;
  }

  static TPoint CursorOf(Desktop& desktop) {
    TPoint p{-1, -1};
    desktop.CursorPos(p);
    return p;
  }

  std::unique_ptr<MutterRemote> remote;
};

// One 1280 x 800 monitor filled with the known picture.
class WaylandScreen : public GnomeSession {
 protected:
  void SetUp() override {
    GnomeSession::SetUp();
    if (IsSkipped()) return;
    ASSERT_NO_FATAL_FAILURE(ShowPicture(client, 1280, 800, 0, false));
    ASSERT_NO_FATAL_FAILURE(OpenRemote(remote, ""));
    ASSERT_TRUE(WaitForPicture(*remote, {700, 500}, PatternAt(700, 500), 30s))
        << "the known picture did not show";
  }
  Child client;
};

TEST_F(WaylandScreen, ConsentOnceThenTheZoneAndTheCursorFollowThePointer) {
  std::unique_ptr<PortalDesktop> desktop;
  ASSERT_NO_FATAL_FAILURE(OpenWithConsent(desktop));
  EXPECT_EQ(desktop->VirtualScreen(), (TRect{0, 0, 1280, 800}));
  EXPECT_EQ(desktop->MonitorCount(), 1);

  // The first pointer moves may stall the compositor for seconds: generous deadlines.
  for (const TPoint at : {TPoint{300, 200}, TPoint{1000, 600}, TPoint{0, 799}}) {
    ASSERT_TRUE(remote->MovePointer(at.X, at.Y));
    ASSERT_TRUE(WaitFor(20s, [&] { return CursorOf(*desktop) == at; }))
        << "the cursor stayed at " << CursorOf(*desktop).X << "," << CursorOf(*desktop).Y
        << " instead of " << at.X << "," << at.Y;
    const TRect zone{std::max(at.X - 10, 0), std::max(at.Y - 10, 0), std::min(at.X + 10, 1280),
                     std::min(at.Y + 10, 800)};
    // The dialog may still be fading: the view settles on the picture below it.
    EXPECT_TRUE(WaitFor(10s, [&] { return CopyMismatches(*desktop, zone, 1) == 0; }))
        << CopyMismatches(*desktop, zone, 1) << " pixels differ around " << at.X << "," << at.Y;
    EXPECT_EQ(CopyMismatches(*desktop, zone, 4), 0);
  }
  // A still screen sends no frames: the zone is then known not to have changed.
  const TRect still{100, 100, 140, 130};
  EXPECT_TRUE(WaitFor(10s, [&] {
    return CopyMismatches(*desktop, still, 1) == 0 && !desktop->ZoneMayHaveChanged(still);
  }));
  EXPECT_TRUE(desktop->Failure().empty()) << desktop->Failure();
  desktop.reset();

  // The permission is kept: the second start asks nothing.
  const std::string token = RestoreTokenPath(nullptr, std::getenv("HOME"));
  EXPECT_FALSE(LoadRestoreToken(token).empty());
  PortalDesktopOptions options;
  options.portal.consentTimeout = 20s;
  TPortalFailure again;
  desktop = PortalDesktop::Open(options, again);
  ASSERT_TRUE(desktop) << PortalProblemLine(again) << " (a dialog asked again?)";
  ASSERT_TRUE(remote->MovePointer(640, 400));
  EXPECT_TRUE(WaitFor(20s, [&] { return CursorOf(*desktop) == TPoint{640, 400}; }));
}

// An X11 window of ours in one flat colour that the known picture never has.
class OwnX11Window {
 public:
  static constexpr uint32_t kColour = 0x123456;
  OwnX11Window() : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    id_ = xcb_generate_id(c_);
    // Placed exactly where asked: no window manager's frame or placement.
    const uint32_t values[] = {kColour, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, screen->root, 400, 300, 200, 150, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_flush(c_);
  }
  ~OwnX11Window() { xcb_disconnect(c_); }
  uint32_t Id() const { return id_; }
  void Map() {
    xcb_map_window(c_, id_);
    xcb_flush(c_);
  }
  void MoveTo(int x, int y) {
    const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    xcb_configure_window(c_, id_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    // Through a round trip: the server has moved it when this returns.
    free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }

 private:
  xcb_connection_t* c_;
  uint32_t id_ = 0;
};

TEST_F(WaylandScreen, OurOwnX11WindowNeverShowsWhileItMoves) {
  std::unique_ptr<PortalDesktop> desktop;
  ASSERT_NO_FATAL_FAILURE(OpenWithConsent(desktop));
  const TRect around{300, 200, 800, 600};
  ASSERT_TRUE(WaitFor(10s, [&] { return CopyMismatches(*desktop, around, 1) == 0; }))
      << "the dialog did not go";

  OwnX11Window window;
  ASSERT_NE(window.Id(), 0u) << "no X server";
  desktop->SetOwnWindowsProvider([&window] { return std::vector<uint32_t>{window.Id()}; });
  window.Map();
  ASSERT_TRUE(WaitForPicture(*remote, {500, 375}, OwnX11Window::kColour, 20s))
      << "our window did not show in the screen cast";
  // Moving it about: every copy shows what lies below it, never the window itself.
  int worst = 0;
  for (int step = 0; step <= 40; ++step) {
    window.MoveTo(400 + 2 * step, 300 + step);
    const auto until = std::chrono::steady_clock::now() + 30ms;
    while (std::chrono::steady_clock::now() < until) {
      worst = std::max(worst, CopyMismatches(*desktop, around, 1));
      std::this_thread::sleep_for(5ms);
    }
  }
  EXPECT_TRUE(WaitForPicture(*remote, {481, 341}, OwnX11Window::kColour, 20s));
  EXPECT_EQ(worst, 0) << "a copy showed " << worst << " pixels of our own window";
}

TEST_F(WaylandScreen, RefusedConsentFailsAndSaysSo) {
  TPortalFailure failure;
  auto opening = OpenLater(failure);
  RefuseConsent();
  ASSERT_EQ(opening.wait_for(60s), std::future_status::ready) << "the refusal was not heard";
  EXPECT_FALSE(opening.get());
  EXPECT_EQ(failure.problem, ppRefused) << PortalProblemLine(failure);
}

// Run in a session without the portal (scripts/gnome-session.sh --no-portal).
TEST_F(GnomeSession, WithoutThePortalOpeningFailsAtOnceAndSaysWhatIsMissing) {
  TPortalFailure failure;
  EXPECT_FALSE(PortalDesktop::Open({}, failure));
  EXPECT_EQ(failure.problem, ppNoPortal) << PortalProblemLine(failure);
  EXPECT_NE(PortalProblemAdvice(failure).find("xdg-desktop-portal"), std::string::npos);
}

// The virtual desktop of TwoMonitors where a copy can be exact.
uint32_t TwoMonitorsAt(int x, int y) {
  return x < 1280 ? PatternAt(x, y) : BlockAt((x - 1280) / 32, y / 32);
}

// Two monitors side by side: the primary one unscaled with the known picture, right of it one
// at 1.25 (1280 x 800 pixels, 1024 x 640 logical) with the flat squares, whose insides stay
// exact where the compositor resamples the window. Needs a session started with
// --fractional-scaling --monitor 1280x800 --monitor 1280x800.
class TwoMonitors : public GnomeSession {
 protected:
  void SetUp() override {
    GnomeSession::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(RunToEnd({"/usr/bin/python3", OMBRIX_TEST_DIR "/display_config.py", "1", "1.25"}), 0)
        << "mutter did not take the layout";
    ASSERT_NO_FATAL_FAILURE(ShowPicture(left, 1280, 800, 0, false));
    ASSERT_NO_FATAL_FAILURE(ShowPicture(right, 1024, 640, 1, true));
    ASSERT_NO_FATAL_FAILURE(OpenRemote(remote, "Meta-0"));
    ASSERT_NO_FATAL_FAILURE(OpenRemote(remoteRight, "Meta-1"));
    ASSERT_TRUE(WaitForPicture(*remote, {700, 500}, PatternAt(700, 500), 30s));
    // The middle of square (5, 5) in the stream's pixels: logical 176, 176 times 1.25.
    ASSERT_TRUE(WaitForPicture(*remoteRight, {220, 220}, BlockAt(5, 5), 30s));
  }
  Child left, right;
  std::unique_ptr<MutterRemote> remoteRight;
};

TEST_F(TwoMonitors, TheZoneAndTheCursorMapToTheRightMonitorAndPixels) {
  std::unique_ptr<PortalDesktop> desktop;
  ASSERT_NO_FATAL_FAILURE(OpenWithConsent(desktop, 2));
  EXPECT_EQ(desktop->VirtualScreen(), (TRect{0, 0, 2304, 800}));
  EXPECT_EQ(desktop->MonitorCount(), 2);

  // Stream pixel 660, 420 of the scaled monitor is logical 528, 336 on it.
  ASSERT_TRUE(remoteRight->MovePointer(660, 420));
  ASSERT_TRUE(WaitFor(20s,
                      [&] {
                        return CursorOf(*desktop) == TPoint{1808, 336};
                      }))
      << "the cursor is at " << CursorOf(*desktop).X << "," << CursorOf(*desktop).Y;
  // Square (16, 10) covers logical 512 - 543, 320 - 351 of that monitor.
  const TRect square{1800, 328, 1816, 344};
  EXPECT_TRUE(WaitFor(10s, [&] { return CopyMismatches(*desktop, square, 1, TwoMonitorsAt) == 0; }))
      << CopyMismatches(*desktop, square, 1, TwoMonitorsAt) << " pixels differ";
  // Across the border: the known picture left, square (0, 3) right.
  EXPECT_EQ(CopyMismatches(*desktop, {1270, 104, 1290, 116}, 1, TwoMonitorsAt), 0);

  ASSERT_TRUE(remote->MovePointer(100, 700));
  ASSERT_TRUE(WaitFor(20s, [&] { return CursorOf(*desktop) == TPoint{100, 700}; }));
  EXPECT_EQ(CopyMismatches(*desktop, {90, 690, 110, 710}, 1), 0);
}

}  // namespace
}  // namespace ombrix
