// The whole program as a user runs it (no options, its own window of 361 x 432 at zoom 1), on
// the headless GNOME session through the desktop's screen cast and on a plain X server, with
// the same known picture on the screen: how many times a second the view reaches the screen,
// how long a pointer move takes to show in the view (median and 90th percentile), and the CPU
// of Ombrix and of the display server (mutter and Xwayland, or Xvfb), for a still screen, a
// pointer moving at 60 Hz, and a pointer that moves again as soon as the view has followed it.
//
// The view is read where the user sees it, on the screen: on GNOME through mutter's own screen
// cast of the monitor (whose cost shows in mutter's figures), on X11 by reading the root
// window's pixels and counting its damage.
//
//   bench/wayland_cast.sh [SECONDS] [BUILD_DIR]   runs it in both sessions
// Prints one line per case.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <dirent.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MutterRemote.h"
#include "ProcessCpu.h"
#include "X11Windows.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bench::CpuSeconds;
using test::PatternAt;

constexpr int kScreenWidth = 1280, kScreenHeight = 800;

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// The process whose command name is `name` (the only one in the session's namespace), or 0.
pid_t ProcessNamed(const std::string& name) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  pid_t found = 0;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
    std::string text;
    if (std::getline(comm, text) && text == name) found = pid;
  }
  closedir(proc);
  return found;
}

// The session the program runs in, as the bench drives and sees it.
class Desk {
 public:
  virtual ~Desk() = default;
  virtual const char* Name() const = 0;
  // Shows the known picture on the whole screen.
  virtual bool ShowKnownPicture() = 0;
  // What the session asks of the user once the program has started (the consent dialog).
  virtual bool AnswerStart() { return true; }
  // From now on counts the changes of the view, the program's window `window` at `rect`.
  virtual void WatchView(xcb_window_t window, const TRect& rect) = 0;
  virtual bool MovePointer(TPoint p) = 0;
  // The colour at `p` of the screen as it is now, when it may have changed since the last call;
  // false when it certainly did not.
  virtual bool FreshColourAt(TPoint p, uint32_t& colour) = 0;
  // How many times the view changed so far (counted while FreshColourAt or Pump is called).
  virtual uint64_t ViewUpdates() const = 0;
  virtual void Pump() = 0;
  // The display server's processes, with their names.
  virtual std::vector<std::pair<std::string, pid_t>> Servers() const = 0;

 protected:
  // Waits until the screen shows the known picture (one of its points), at most `within`.
  bool KnownPictureShows(std::chrono::seconds within) {
    const auto until = Clock::now() + within;
    uint32_t colour = 0;
    while (Clock::now() < until) {
      if (FreshColourAt({700, 500}, colour) && colour == PatternAt(700, 500)) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
};

class GnomeDesk : public Desk {
 public:
  ~GnomeDesk() override { Stop(client_); }
  const char* Name() const override { return "GNOME"; }
  bool ShowKnownPicture() override {
    setenv("GSK_RENDERER", "cairo", 1);
    client_ = Spawn({"/usr/bin/python3", OMBRIX_TEST_DIR "/pattern_window.py",
                     std::to_string(kScreenWidth), std::to_string(kScreenHeight)});
    std::string error;
    remote_ = test::MutterRemote::Open(error);
    if (!remote_) {
      std::fprintf(stderr, "bench_program_view: %s\n", error.c_str());
      return false;
    }
    return KnownPictureShows(30s);
  }
  bool AnswerStart() override {
    std::string error;
    if (test::AnswerConsentDialog(*remote_, 1, PatternAt(400, 500), error)) return true;
    std::fprintf(stderr, "bench_program_view: %s\n", error.c_str());
    return false;
  }
  void WatchView(xcb_window_t, const TRect& rect) override {
    view_ = rect;
    viewPixels_.clear();
  }
  bool MovePointer(TPoint p) override { return remote_->MovePointer(p.X, p.Y); }
  bool FreshColourAt(TPoint p, uint32_t& colour) override {
    if (!Take() || p.X >= frame_.width || p.Y >= frame_.height) return false;
    const uint8_t* q = &frame_.pixels[static_cast<std::size_t>(p.Y * frame_.width + p.X) * 4];
    colour = uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    return true;
  }
  // A frame comes for any change of the screen, the window's title among them: the view
  // changed when its pixels did.
  void Pump() override { Take(); }
  uint64_t ViewUpdates() const override { return viewUpdates_; }
  std::vector<std::pair<std::string, pid_t>> Servers() const override {
    return {{"mutter", static_cast<pid_t>(std::atoi(std::getenv("OMBRIX_GNOME_MUTTER_PID")))},
            {"Xwayland", ProcessNamed("Xwayland")}};
  }

 private:
  pid_t client_ = -1;
  // Takes the newest frame when another one came (copying a whole frame costs).
  bool Take() {
    const uint64_t arrived = remote_->ImagesArrived();
    if (arrived == seen_ && seen_ != 0) return false;
    seen_ = arrived;
    if (!remote_->NewestFrame(frame_, 1s)) return false;
    std::vector<uint8_t> view;
    for (int y = std::max(view_.Top, 0); y < std::min(view_.Bottom, frame_.height); ++y) {
      const auto* row = &frame_.pixels[static_cast<std::size_t>(y * frame_.width) * 4];
      view.insert(view.end(), row + std::max(view_.Left, 0) * 4,
                  row + std::min(view_.Right, frame_.width) * 4);
    }
    if (!view.empty() && view != viewPixels_) ++viewUpdates_;
    viewPixels_ = std::move(view);
    return true;
  }

  std::unique_ptr<test::MutterRemote> remote_;
  CastFrame frame_;
  uint64_t seen_ = 0;
  TRect view_{0, 0, 0, 0};
  std::vector<uint8_t> viewPixels_;
  uint64_t viewUpdates_ = 0;
};

class X11Desk : public Desk {
 public:
  X11Desk() : c_(x11_.Connection()) {}
  const char* Name() const override { return "X11"; }
  bool ShowKnownPicture() override {
    if (xcb_connection_has_error(c_)) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    // The picture as the window's background: the server draws it again by itself.
    const xcb_pixmap_t picture = xcb_generate_id(c_);
    xcb_create_pixmap(c_, screen->root_depth, picture, screen->root, kScreenWidth, kScreenHeight);
    const xcb_gcontext_t gc = xcb_generate_id(c_);
    xcb_create_gc(c_, gc, picture, 0, nullptr);
    constexpr int kRows = 16;  // a request well under the server's largest
    std::vector<uint32_t> rows(static_cast<std::size_t>(kScreenWidth) * kRows);
    for (int top = 0; top < kScreenHeight; top += kRows) {
      for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kScreenWidth; ++x)
          rows[static_cast<std::size_t>(y * kScreenWidth + x)] = PatternAt(x, top + y);
      xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, picture, gc, kScreenWidth, kRows, 0,
                    static_cast<int16_t>(top), 0, screen->root_depth,
                    static_cast<uint32_t>(rows.size() * 4),
                    reinterpret_cast<const uint8_t*>(rows.data()));
    }
    const xcb_window_t window = xcb_generate_id(c_);
    const uint32_t values[] = {picture, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, kScreenWidth,
                      kScreenHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_, window);
    // Below every other window, as the desktop's wallpaper.
    const uint32_t below[] = {XCB_STACK_MODE_BELOW};
    xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_STACK_MODE, below);
    xcb_flush(c_);
    return KnownPictureShows(10s);
  }
  // Without a compositor, what the program draws into its window is what the screen shows.
  void WatchView(xcb_window_t window, const TRect&) override {
    free(xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
    damage_ = xcb_generate_id(c_);
    xcb_damage_create(c_, damage_, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    damageEvent_ = xcb_get_extension_data(c_, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    xcb_flush(c_);
  }
  bool MovePointer(TPoint p) override {
    xcb_warp_pointer(c_, XCB_NONE, x11_.Root(), 0, 0, 0, 0, static_cast<int16_t>(p.X),
                     static_cast<int16_t>(p.Y));
    xcb_flush(c_);
    return true;
  }
  bool FreshColourAt(TPoint p, uint32_t& colour) override {
    Pump();
    auto* image = xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, x11_.Root(), static_cast<int16_t>(p.X),
                      static_cast<int16_t>(p.Y), 1, 1, ~0u),
        nullptr);
    if (!image) return false;
    const uint8_t* q = xcb_get_image_data(image);
    colour = uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    free(image);
    return true;
  }
  // One change for every look that found the screen damaged since the one before: the view's
  // few drawing requests of one frame count once.
  void Pump() override {
    bool damaged = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
      if ((event->response_type & 0x7F) == damageEvent_) damaged = true;
      free(event);
    }
    if (damaged) {
      ++updates_;
      xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
      xcb_flush(c_);
    }
  }
  uint64_t ViewUpdates() const override { return updates_; }
  std::vector<std::pair<std::string, pid_t>> Servers() const override {
    const char* server = std::getenv("OMBRIX_X11_SERVER_PID");
    return {{"Xvfb", server ? static_cast<pid_t>(std::atoi(server)) : 0}};
  }

 private:
  test::X11Session x11_;
  xcb_connection_t* c_;
  xcb_damage_damage_t damage_ = 0;
  uint8_t damageEvent_ = 0;
  uint64_t updates_ = 0;
};

// Where the pointer goes: places whose zone (the view's size around the cursor) lies on the
// screen and off the program's window, so that the view's middle shows the known picture at
// the cursor.
class Places {
 public:
  Places(const TRect& window, int w, int h) : top_(h / 2), height_(kScreenHeight - h + 1) {
    constexpr int kShadow = 30;  // the compositor's frame and shadow around the window
    const int leftLo = w / 2, leftHi = window.Left - kShadow - w / 2;
    const int rightLo = window.Right + kShadow + w / 2, rightHi = kScreenWidth - w / 2;
    if (leftHi - leftLo >= rightHi - rightLo) {
      left_ = leftLo, width_ = leftHi - leftLo + 1;
    } else {
      left_ = rightLo, width_ = rightHi - rightLo + 1;
    }
    width_ = std::max(width_, 1), height_ = std::max(height_, 1);
  }
  bool Room() const { return width_ > 1; }
  TPoint At(int step) const { return {left_ + step * 37 % width_, top_ + step * 53 % height_}; }

 private:
  int left_ = 0, width_ = 1, top_, height_;
};

struct Result {
  double seconds = 0;
  uint64_t updates = 0;
  double ombrixCpu = 0;
  std::vector<double> serverCpu;
  std::vector<double> latencies;  // ms
  int missed = 0;
};

void Print(const Desk& desk, const char* name, const Result& r) {
  std::vector<double> l = r.latencies;
  std::sort(l.begin(), l.end());
  const auto at = [&l](double q) {
    return l[std::min(l.size() - 1, static_cast<std::size_t>(q * static_cast<double>(l.size())))];
  };
  std::printf("%-6s %-34s view frames/s %5.1f  ", desk.Name(), name,
              static_cast<double>(r.updates) / r.seconds);
  if (!l.empty()) {
    std::printf("move->view median %5.1f ms p90 %5.1f ms (%zu moves, %d missed)  ", at(0.5),
                at(0.9), l.size(), r.missed);
  }
  std::printf("CPU ombrix %5.1f %%", 100 * r.ombrixCpu / r.seconds);
  const auto servers = desk.Servers();
  for (std::size_t i = 0; i < servers.size(); ++i)
    std::printf("  %s %5.1f %%", servers[i].first.c_str(), 100 * r.serverCpu[i] / r.seconds);
  std::ifstream loadavg("/proc/loadavg");
  double load = 0;
  loadavg >> load;
  std::printf("  load %.1f\n", load);
  std::fflush(stdout);
}

enum class Pointer { Still, Moving60Hz, FollowedToTheView };

// Runs one case for `seconds`; the view's middle is at `middle`.
Result Run(Desk& desk, pid_t ombrix, const Places& places, TPoint middle, int seconds,
           Pointer pointer) {
  const auto servers = desk.Servers();
  Result r;
  const double ombrixBefore = CpuSeconds(ombrix);
  std::vector<double> serverBefore;
  for (const auto& s : servers) serverBefore.push_back(CpuSeconds(s.second));
  desk.Pump();
  const uint64_t updatesBefore = desk.ViewUpdates();
  const auto start = Clock::now(), end = start + std::chrono::seconds(seconds);
  int step = 1;
  while (Clock::now() < end) {
    switch (pointer) {
      case Pointer::Still:
        desk.Pump();
        std::this_thread::sleep_for(50ms);
        break;
      case Pointer::Moving60Hz:
        desk.MovePointer(places.At(step++));
        desk.Pump();
        std::this_thread::sleep_for(16ms);
        break;
      case Pointer::FollowedToTheView: {
        const TPoint target = places.At(step++);
        const auto sent = Clock::now();
        desk.MovePointer(target);
        uint32_t colour = 0;
        bool reached = false;
        while (!reached && Clock::now() - sent < 1s) {
          reached = desk.FreshColourAt(middle, colour) && colour == PatternAt(target.X, target.Y);
          if (!reached) std::this_thread::sleep_for(1ms);
        }
        if (reached)
          r.latencies.push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        else
          ++r.missed;
        break;
      }
    }
  }
  desk.Pump();
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.updates = desk.ViewUpdates() - updatesBefore;
  r.ombrixCpu = CpuSeconds(ombrix) - ombrixBefore;
  for (std::size_t i = 0; i < servers.size(); ++i)
    r.serverCpu.push_back(CpuSeconds(servers[i].second) - serverBefore[i]);
  return r;
}

int RunAll(Desk& desk, int seconds) {
  if (!desk.ShowKnownPicture()) {
    std::fprintf(stderr, "bench_program_view: the known picture did not show on %s\n", desk.Name());
    return 1;
  }
  const pid_t ombrix = Spawn({OMBRIX_PROGRAM});
  struct Ender {
    pid_t pid;
    ~Ender() { Stop(pid); }
  } ender{ombrix};
  if (ombrix <= 0 || !desk.AnswerStart()) return 1;
  test::X11Session x11;
  TRect window;
  xcb_window_t id = 0;
  const auto until = Clock::now() + 60s;
  while ((id = x11.Find("Ombrix [", &window)) == 0) {
    if (Clock::now() > until) {
      std::fputs("bench_program_view: no main window\n", stderr);
      return 1;
    }
    std::this_thread::sleep_for(50ms);
  }
  const int w = window.Width() & ~1, h = window.Height() & ~1;
  const Places places(window, w, h);
  if (!places.Room()) {
    std::fputs("bench_program_view: no room beside the window\n", stderr);
    return 1;
  }
  const TPoint middle{window.Left + w / 2, window.Top + h / 2};
  desk.WatchView(id, {window.Left, window.Top, window.Left + w, window.Top + h});
  // The first pointer moves of a session may stall a software-rendering compositor: not
  // measured.
  Run(desk, ombrix, places, middle, 3, Pointer::FollowedToTheView);
  Print(desk, "still screen", Run(desk, ombrix, places, middle, seconds, Pointer::Still));
  Print(desk, "pointer moving 60 Hz",
        Run(desk, ombrix, places, middle, seconds, Pointer::Moving60Hz));
  Print(desk, "pointer moved when the view followed",
        Run(desk, ombrix, places, middle, seconds, Pointer::FollowedToTheView));
  return 0;
}

}  // namespace
}  // namespace ombrix

int main(int argc, char* argv[]) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  std::unique_ptr<ombrix::Desk> desk;
  if (std::getenv("OMBRIX_GNOME_MUTTER_PID")) {
    desk = std::make_unique<ombrix::GnomeDesk>();
  } else if (std::getenv("DISPLAY")) {
    desk = std::make_unique<ombrix::X11Desk>();
  } else {
    std::fputs("bench_program_view: run it through bench/wayland_cast.sh\n", stderr);
    return 1;
  }
  return ombrix::RunAll(*desk, seconds);
}
