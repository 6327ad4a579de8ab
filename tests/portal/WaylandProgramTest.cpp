// Ombrix itself in the private headless GNOME session (scripts/gnome-session.sh), started as a
// user starts it: the screen comes from the desktop's screen cast. Skipped anywhere else.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "MutterRemote.h"
#include "PortalDesktop.h"
#include "X11Windows.h"
#include "Zoom.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using test::BlockAt;
using test::MutterRemote;
using test::PatternAt;
using test::X11Session;

// The known picture of pattern_window.py: colour (x, y) and back.
TPoint PlaceOf(uint32_t colour) {
  const int r = colour >> 16 & 0xFF, g = colour >> 8 & 0xFF, b = colour & 0xFF;
  return {r + 256 * (b % 16), g + 256 * (b / 16)};
}

template <typename Condition>
bool Eventually(std::chrono::milliseconds timeout, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The program, its standard error kept in a file; killed if it still runs at the end.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    char path[] = "/tmp/ombrix-stderr-XXXXXX";
    const int err = mkstemp(path);
    errPath_.assign(path, sizeof(path) - 1);
    static char program[] = OMBRIX_PROGRAM;
    std::vector<char*> argv = {program};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (err >= 0) close(err);
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Running() const { return pid_ > 0; }
  // The exit status once it ended by itself within `timeout`; -1 otherwise.
  int ExitStatus(std::chrono::milliseconds timeout) {
    int status = 0;
    if (pid_ <= 0 || !Eventually(timeout, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; }))
      return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Err() const {
    std::ifstream in(errPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  pid_t pid_ = -1;
  std::string errPath_;
};

class WaylandProgram : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("OMBRIX_GNOME_LOGS")) GTEST_SKIP() << "not inside scripts/gnome-session.sh";
    // In this session Qt's accessibility bridge talks to the session bus's AT-SPI registry and
    // keeps the pointer devices that the remote pointer adds, never freeing them: in a
    // sanitized build the program would end on that report instead of its own exit status.
    // Our own leaks are looked for by every other program test and by the soak.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
  }
  // Shows pattern_window.py's picture (blocks: the flat squares) fullscreen on monitor
  // `monitor`, `width` x `height` logical pixels.
  void ShowPicture(int width, int height, int monitor, bool blocks) {
    std::vector<std::string> args = {"/usr/bin/python3", OMBRIX_TEST_DIR "/pattern_window.py",
                                     std::to_string(width), std::to_string(height),
                                     std::to_string(monitor)};
    if (blocks) args.emplace_back("blocks");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Cairo draws the picture pixel for pixel.
    setenv("GSK_RENDERER", "cairo", 1);
    pid_t client = -1;
    ASSERT_EQ(posix_spawn(&client, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    clients_.push_back(client);
  }
  // The known picture fullscreen, and mutter's own view of the monitor.
  void ShowKnownPicture() {
    ASSERT_NO_FATAL_FAILURE(ShowPicture(1280, 800, 0, false));
    std::string error;
    remote = MutterRemote::Open(error);
    ASSERT_TRUE(remote) << error;
    ASSERT_TRUE(Eventually(30s, [&] {
      return ReferenceAt({700, 500}) == PatternAt(700, 500);
    })) << "the known picture did not show";
  }
  void TearDown() override {
    for (const pid_t client : clients_) {
      kill(client, SIGTERM);
      waitpid(client, nullptr, 0);
    }
  }
  uint32_t ReferenceAt(TPoint p) {
    CastFrame f;
    remote->NextFrame(f, 50ms);
    if (!remote->NewestFrame(f, 1s) || p.X >= f.width || p.Y >= f.height) return 0xFF000000u;
    return FrameAt(f, p);
  }
  static uint32_t FrameAt(const CastFrame& f, TPoint p) {
    const uint8_t* q = &f.pixels[static_cast<std::size_t>(p.Y * f.width + p.X) * 4];
    return uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
  }

  // The program refuses to start: a message box, which Return closes, then exit status 1 with
  // one line on stderr that holds `words`.
  void ExpectMessageBoxLineAndStatusOne(Program& ombrix, const std::string& words) {
    xcb_window_t box = 0;
    ASSERT_TRUE(Eventually(60s, [&] { return (box = x11.Find("Ombrix")) != 0; }))
        << "no message box; stderr: " << ombrix.Err();
    ASSERT_TRUE(X11Session::PressReturnIn(box));
    EXPECT_EQ(ombrix.ExitStatus(30s), 1);
    const std::string err = ombrix.Err();
    EXPECT_NE(err.find(words), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }

  std::unique_ptr<MutterRemote> remote;
  X11Session x11;

 private:
  std::vector<pid_t> clients_;
};

TEST_F(WaylandProgram, WithoutThePortalSaysWhatIsMissingAndEndsWithStatusOne) {
  Program ombrix({});
  ASSERT_TRUE(ombrix.Running());
  ExpectMessageBoxLineAndStatusOne(ombrix, "xdg-desktop-portal");
}

// How the view of Ombrix's window `window` maps the screen: the shift d for which the most
// pixels of the window show the known picture of their own place plus d (the see-through area,
// which shows the screen itself, left aside), and how many pixels that is.
struct ViewShift {
  TPoint shift;
  int pixels = 0;
};

TEST_F(WaylandProgram, RefusedConsentSaysSoAndEndsWithStatusOne) {
  ASSERT_NO_FATAL_FAILURE(ShowKnownPicture());
  Program ombrix({});
  std::string error;
  ASSERT_TRUE(test::AnswerConsentDialog(*remote, 0, PatternAt(400, 500), error)) << error;
  ExpectMessageBoxLineAndStatusOne(ombrix, "not allowed");
}

class WaylandProgramView : public WaylandProgram {
 protected:
  ViewShift ShiftOf(const TRect& window) {
    CastFrame f;
    remote->NextFrame(f, 100ms);
    if (!remote->NewestFrame(f, 1s)) return {};
    std::map<std::pair<int, int>, int> votes;
    for (int y = std::max(window.Top, 0); y < std::min(window.Bottom, f.height); ++y)
      for (int x = std::max(window.Left, 0); x < std::min(window.Right, f.width); ++x) {
        const TPoint at = PlaceOf(FrameAt(f, {x, y}));
        if (!(at == TPoint{x, y})) ++votes[{at.X - x, at.Y - y}];
      }
    ViewShift best;
    for (const auto& [shift, count] : votes) {
      if (count > best.pixels) best = {{shift.first, shift.second}, count};
    }
    return best;
  }
  // Whether the view shows, one to one, a zone of at least 100 x 100 pixels around `cursor`.
  bool ShowsZoneAround(const TRect& window, TPoint cursor) {
    const ViewShift v = ShiftOf(window);
    const TPoint middle{(window.Left + window.Right) / 2 + v.shift.X,
                        (window.Top + window.Bottom) / 2 + v.shift.Y};
    return v.pixels >= 100 * 100 && std::abs(middle.X - cursor.X) < window.Width() / 2 &&
           std::abs(middle.Y - cursor.Y) < window.Height() / 2;
  }

  // The colour that view pixel (x, y) must have, or nothing where any colour will do.
  using ViewExpectation = std::function<std::optional<uint32_t>(int x, int y)>;
  // How many pixels of the view of Ombrix's window `window` (its even-sized top-left part)
  // differ in the newest frame of `reference`, a view of the primary monitor; the first of them
  // is described in `first`.
  static int ViewMismatches(MutterRemote& reference, const TRect& window,
                            const ViewExpectation& expected, std::string& first) {
    CastFrame f;
    reference.NextFrame(f, 100ms);
    if (!reference.NewestFrame(f, 1s)) return -1;
    int mismatches = 0;
    for (int y = 0; y < (window.Height() & ~1); ++y)
      for (int x = 0; x < (window.Width() & ~1); ++x) {
        const TPoint at{window.Left + x, window.Top + y};
        const std::optional<uint32_t> want = expected(x, y);
        if (!want || (at.X >= 0 && at.Y >= 0 && at.X < f.width && at.Y < f.height &&
                      FrameAt(f, at) == *want))
          continue;
        if (mismatches++ == 0) {
          std::ostringstream text;
          text << "view pixel " << x << "," << y << " is " << std::hex
               << (at.X < f.width && at.Y < f.height ? FrameAt(f, at) : 0) << " instead of "
               << *want;
          first = text.str();
        }
      }
    if (mismatches > 0) test::SavePpm(f, "wayland-program-view.ppm");
    return mismatches;
  }
  // The view of the known picture around `cursor` at slider position `position`, as the
  // frame cycle draws it: the window's even-sized zone centred on the cursor, zoomed about the
  // cursor's pixel.
  static ViewExpectation ZoomedKnownPicture(const TRect& window, TPoint cursor, int position) {
    const int w = window.Width() & ~1, h = window.Height() & ~1;
    TBitmap capture(w, h);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = capture.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        const uint32_t c = PatternAt(cursor.X - w / 2 + x, cursor.Y - h / 2 + y);
        row[4 * x] = c & 0xFF, row[4 * x + 1] = c >> 8 & 0xFF, row[4 * x + 2] = c >> 16 & 0xFF;
      }
    }
    auto view = std::make_shared<TBitmap>(w, h);
    TZoomSettings zoom;
    zoom.SliderPosition = position;
    zoom.Centre = TPoint{w / 2, h / 2};
    ZoomStage(capture, *view, w, h, zoom);
    return [view](int x, int y) -> std::optional<uint32_t> {
      const uint8_t* p = view->ScanLine(y) + 4 * x;
      return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    };
  }
  // Waits until the view of `window` is `expected` and its caption names `cursor`.
  void ExpectView(const TRect& window, TPoint cursor, const ViewExpectation& expected,
                  const std::string& what) {
    std::string first, caption;
    int mismatches = -1;
    const std::string place =
        "[X=" + std::to_string(cursor.X) + " Y=" + std::to_string(cursor.Y) + "]";
    EXPECT_TRUE(Eventually(30s,
                           [&] {
                             x11.Find("Ombrix [", nullptr, &caption);
                             mismatches = ViewMismatches(*remote, window, expected, first);
                             return mismatches == 0 && caption.find(place) != std::string::npos;
                           }))
        << what << ": " << mismatches << " pixels differ (" << first << "), caption \"" << caption
        << "\", cursor " << cursor.X << "," << cursor.Y;
  }

  // Sets the zoom slider to `position` as a user does: the pointer rests over the window until
  // the panel shows, then clicks the slider's groove where that position lies, once for each
  // step from the start position 0 (a click moves the slider one step towards it).
  void ChooseZoomOnPanel(const TRect& window, int position) {
    // The panel, 154 x 369, is centred in the window; the slider, 120 x 17, lies at 17, 22 in
    // it, its thumb 10 wide, its groove along its top half.
    const TPoint panel{window.Left + window.Width() / 2 - 154 / 2,
                       window.Top + window.Height() / 2 - 369 / 2};
    ASSERT_TRUE(remote->MovePointer((window.Left + window.Right) / 2, window.Bottom - 10));
    // The panel's left margin is flat, which no part of the known picture is.
    ASSERT_TRUE(Eventually(30s, [&] {
      CastFrame f;
      remote->NextFrame(f, 50ms);
      if (!remote->NewestFrame(f, 1s)) return false;
      const uint32_t margin = FrameAt(f, {panel.X + 3, panel.Y + 10});
      for (int y = 10; y < 50; ++y)
        for (int x = 3; x < 7; ++x)
          if (FrameAt(f, {panel.X + x, panel.Y + y}) != margin) return false;
      return true;
    })) << "the panel did not show";
    const TPoint groove{panel.X + 17 + 5 + position * 110 / 4, panel.Y + 22 + 4};
    ASSERT_TRUE(remote->MovePointer(groove.X, groove.Y));
    for (int step = 0; step < position; ++step) ASSERT_TRUE(remote->Click());
  }
};

TEST_F(WaylandProgramView, AsksOnceThenTheViewFollowsTheCursorAndNeverShowsItself) {
  ASSERT_NO_FATAL_FAILURE(ShowKnownPicture());
  TRect window;
  {
    Program ombrix({});
    std::string error;
    ASSERT_TRUE(test::AnswerConsentDialog(*remote, 1, PatternAt(400, 500), error)) << error;
    ASSERT_TRUE(Eventually(60s, [&] { return x11.Find("Ombrix [", &window) != 0; }))
        << "no main window; stderr: " << ombrix.Err();
    // The cursor rests over the Wayland window, away from Ombrix's.
    const TPoint first{window.Left > 640 ? 250 : 1000, 600};
    ASSERT_TRUE(remote->MovePointer(first.X, first.Y));
    EXPECT_TRUE(Eventually(30s, [&] { return ShowsZoneAround(window, first); }))
        << "the view does not show the zone around " << first.X << "," << first.Y;
    const TPoint second{first.X, 200};
    ASSERT_TRUE(remote->MovePointer(second.X, second.Y));
    EXPECT_TRUE(Eventually(30s, [&] { return ShowsZoneAround(window, second); }))
        << "the view did not follow the cursor to " << second.X << "," << second.Y;
    // Beside Ombrix's window: the zone takes in the window, the view shows what lies below.
    const int alone = ShiftOf(window).pixels;
    const TPoint beside{window.Left > 640 ? window.Left - 5 : window.Right + 5,
                        (window.Top + window.Bottom) / 2};
    ASSERT_TRUE(remote->MovePointer(beside.X, beside.Y));
    EXPECT_TRUE(Eventually(30s,
                           [&] {
                             const ViewShift v = ShiftOf(window);
                             return v.pixels >= alone * 99 / 100 &&
                                    std::abs((window.Left + window.Right) / 2 + v.shift.X -
                                             beside.X) < 30;
                           }))
        << "the view of a zone over Ombrix's own window is not the screen below it: "
        << ShiftOf(window).pixels << " pixels (" << alone << " before) at shift "
        << ShiftOf(window).shift.X << "," << ShiftOf(window).shift.Y << ", window " << window.Left
        << "," << window.Top << " - " << window.Right << "," << window.Bottom << ", cursor "
        << beside.X << "," << beside.Y;

    // Zoom 4 chosen on the panel, the cursor resting over the Wayland window away from ours:
    // the view is the known picture around the cursor's pixel enlarged four times about it.
    ASSERT_NO_FATAL_FAILURE(ChooseZoomOnPanel(window, 2));
    const TPoint resting{window.Left > 640 ? 263 : 1011, 389};
    ASSERT_TRUE(remote->MovePointer(resting.X, resting.Y));
    ExpectView(window, resting, ZoomedKnownPicture(window, resting, 2), "zoom 4");
    EXPECT_TRUE(ombrix.Err().find("ombrix:") == std::string::npos) << ombrix.Err();
  }
  // The permission was kept: no dialog the second time.
  Program again({});
  EXPECT_TRUE(Eventually(60s, [&] { return x11.Find("Ombrix [", &window) != 0; }))
      << "the second start did not show its window; stderr: " << again.Err();
  EXPECT_EQ(ReferenceAt(test::ConsentDialog::kBody), PatternAt(400, 500));
}

// Two monitors side by side, laid out as in the screen's own two-monitor test: the primary
// one unscaled with the known picture, right of it one at 1.25 (1280 x 800 pixels, 1024 x 640
// logical) with the flat squares. Needs a session started with --fractional-scaling
// --monitor 1280x800 --monitor 1280x800.
class WaylandProgramTwoMonitors : public WaylandProgramView {
 protected:
  void SetUp() override {
    WaylandProgramView::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(
        std::system("/usr/bin/python3 " OMBRIX_TEST_DIR "/display_config.py 1 1.25 >/dev/null"), 0)
        << "mutter did not take the layout";
    ASSERT_NO_FATAL_FAILURE(ShowPicture(1024, 640, 1, true));
    ASSERT_NO_FATAL_FAILURE(ShowKnownPicture());
    std::string error;
    remoteRight = MutterRemote::Open(error, "Meta-1");
    ASSERT_TRUE(remoteRight) << error;
    // The middle of square (5, 5) in the stream's pixels: logical 176, 176 times 1.25.
    ASSERT_TRUE(Eventually(30s, [&] {
      CastFrame f;
      remoteRight->NextFrame(f, 50ms);
      return remoteRight->NewestFrame(f, 1s) && f.width > 220 && f.height > 220 &&
             FrameAt(f, {220, 220}) == BlockAt(5, 5);
    })) << "the squares did not show";
  }
  std::unique_ptr<MutterRemote> remoteRight;
};

TEST_F(WaylandProgramTwoMonitors, TheViewAndTheCursorMapToTheRightMonitorAndPixels) {
  Program ombrix({});
  std::string error;
  ASSERT_TRUE(test::AnswerConsentDialog(*remote, 2, PatternAt(400, 500), error)) << error;
  TRect window;
  ASSERT_TRUE(Eventually(60s, [&] { return x11.Find("Ombrix [", &window) != 0; }))
      << "no main window; stderr: " << ombrix.Err();
  // The view is read from the primary monitor, where the consent dialog left the pointer.
  ASSERT_LE(window.Right, 1280) << "the window opened on the scaled monitor";
  const int w = window.Width() & ~1, h = window.Height() & ~1;

  // Stream pixel 660, 420 of the scaled monitor is logical 528, 336 on it: inside square
  // (16, 10), whose insides stay exact where the compositor resampled the window.
  ASSERT_TRUE(remoteRight->MovePointer(660, 420));
  const TPoint onScaled{1808, 336};
  ExpectView(
      window, onScaled,
      [&](int x, int y) -> std::optional<uint32_t> {
        const int mx = onScaled.X - w / 2 + x - 1280, my = onScaled.Y - h / 2 + y;
        if (mx < 0 || my < 0 || mx % 32 < 4 || mx % 32 >= 28 || my % 32 < 4 || my % 32 >= 28)
          return std::nullopt;
        return BlockAt(mx / 32, my / 32);
      },
      "on the scaled monitor");

  // Back on the primary monitor, away from the window: the known picture, exact.
  const TPoint onPrimary{window.Left > 640 ? 263 : 1011, 389};
  ASSERT_TRUE(remote->MovePointer(onPrimary.X, onPrimary.Y));
  ExpectView(window, onPrimary, ZoomedKnownPicture(window, onPrimary, 0), "on the primary monitor");
  EXPECT_TRUE(ombrix.Err().find("ombrix:") == std::string::npos) << ombrix.Err();
}

}  // namespace
}  // namespace ombrix
