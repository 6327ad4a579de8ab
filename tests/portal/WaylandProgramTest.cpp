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
#include <map>
#include <sstream>
#include <thread>

#include "MutterRemote.h"
#include "PortalDesktop.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using test::MutterRemote;
using test::PatternAt;

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

// The X11 side of the session, to find Ombrix's windows and close them as a user would.
class X11Session {
 public:
  X11Session() : c_(xcb_connect(nullptr, nullptr)) {}
  ~X11Session() { xcb_disconnect(c_); }
  // A mapped top-level window whose WM_NAME starts with `prefix`, with its rectangle; 0 when
  // there is none.
  xcb_window_t Find(const std::string& prefix, TRect* rect = nullptr) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    std::vector<xcb_window_t> pending = {root};
    while (!pending.empty()) {
      const xcb_window_t w = pending.back();
      pending.pop_back();
      auto* name = xcb_get_property_reply(
          c_, xcb_get_property(c_, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256), nullptr);
      std::string text;
      if (name) {
        text.assign(static_cast<const char*>(xcb_get_property_value(name)),
                    static_cast<std::size_t>(xcb_get_property_value_length(name)));
        free(name);
      }
      auto* attributes =
          xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
      const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      free(attributes);
      if (viewable && !text.empty() && text.rfind(prefix, 0) == 0) {
        if (rect) *rect = RectOf(w, root);
        return w;
      }
      auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
      if (!tree) continue;
      const xcb_window_t* children = xcb_query_tree_children(tree);
      pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree));
      free(tree);
    }
    return 0;
  }
  // Answers the message box `window` with its default button, from the keyboard (XTEST).
  static bool PressReturnIn(xcb_window_t window) {
    const std::string command = "xdotool windowactivate " + std::to_string(window) +
                                " >/dev/null 2>&1; xdotool key Return >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

 private:
  TRect RectOf(xcb_window_t w, xcb_window_t root) {
    auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
    auto* t =
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root, 0, 0), nullptr);
    TRect r;
    if (g && t) r = {t->dst_x, t->dst_y, t->dst_x + g->width, t->dst_y + g->height};
    free(g);
    free(t);
    return r;
  }
  xcb_connection_t* c_;
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
  // The known picture fullscreen, and mutter's own view of the monitor.
  void ShowKnownPicture() {
    std::vector<std::string> args = {"/usr/bin/python3", OMBRIX_TEST_DIR "/pattern_window.py",
                                     "1280", "800"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("GSK_RENDERER", "cairo", 1);
    ASSERT_EQ(posix_spawn(&client_, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    std::string error;
    remote = MutterRemote::Open(error);
    ASSERT_TRUE(remote) << error;
    ASSERT_TRUE(Eventually(30s, [&] {
      return ReferenceAt({700, 500}) == PatternAt(700, 500);
    })) << "the known picture did not show";
  }
  void TearDown() override {
    if (client_ > 0) {
      kill(client_, SIGTERM);
      waitpid(client_, nullptr, 0);
    }
  }
  uint32_t ReferenceAt(TPoint p) {
    CastFrame f;
    remote->NextFrame(f, 50ms);
    if (!remote->NewestFrame(f, 1s) || p.X >= f.width || p.Y >= f.height) return 0xFF000000u;
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
  pid_t client_ = -1;
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
        const uint8_t* q = &f.pixels[static_cast<std::size_t>(y * f.width + x) * 4];
        const TPoint at = PlaceOf(uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0]);
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
    EXPECT_TRUE(ombrix.Err().find("ombrix:") == std::string::npos) << ombrix.Err();
  }
  // The permission was kept: no dialog the second time.
  Program again({});
  EXPECT_TRUE(Eventually(60s, [&] { return x11.Find("Ombrix [", &window) != 0; }))
      << "the second start did not show its window; stderr: " << again.Err();
  EXPECT_EQ(ReferenceAt(test::ConsentDialog::kBody), PatternAt(400, 500));
}

}  // namespace
}  // namespace ombrix
