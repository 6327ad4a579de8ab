// The screen of a Wayland session as Ombrix reads it (the portal's screen cast through
// PipeWire), under the private headless GNOME session: frames and cursor reports a second, how
// long a pointer move takes to reach CursorPos (median and 90th percentile), and the CPU of the
// reading side and of mutter, for a still screen, a pointer moving at 60 Hz, and a window
// repainting every 16 ms. The reading side runs the capture part of the frame cycle: every
// 25 ms the cursor, and a copy of the 256 x 256 zone around it when it may have changed.
//
//   bench/wayland_cast.sh [SECONDS] [BUILD_DIR]   starts the session and runs this
// Prints one line per case.

#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <spawn.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MutterRemote.h"
#include "PortalDesktop.h"
#include "ProcessCpu.h"

extern char** environ;

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bench::CpuSeconds;

// An X11 window over part of the screen that changes colour every 16 ms, like a video.
class RepaintingWindow {
 public:
  RepaintingWindow() : c_(xcb_connect(nullptr, nullptr)) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    const xcb_window_t window = xcb_generate_id(c_);
    const uint32_t values[] = {0x202020, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, 500, 300, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_, window);
    xcb_flush(c_);
    painter_ = std::thread([this, window] {
      uint32_t colour = 0x202020;
      while (!stop_) {
        colour = (colour + 0x030507) & 0xFFFFFF;
        xcb_change_window_attributes(c_, window, XCB_CW_BACK_PIXEL, &colour);
        xcb_clear_area(c_, 0, window, 0, 0, 0, 0);
        xcb_flush(c_);
        std::this_thread::sleep_for(16ms);
      }
    });
  }
  ~RepaintingWindow() {
    stop_ = true;
    painter_.join();
    xcb_disconnect(c_);
  }

 private:
  xcb_connection_t* c_;
  std::atomic<bool> stop_{false};
  std::thread painter_;
};

// The capture part of the frame cycle, every 25 ms.
struct Cycle {
  Desktop& desktop;
  TBitmap capture{256, 256};
  int copies = 0;
  void Tick() {
    TPoint cursor;
    if (!desktop.CursorPos(cursor)) return;
    const TRect screen = desktop.VirtualScreen();
    const int left = std::clamp(cursor.X - 128, screen.Left, screen.Right - 256);
    const int top = std::clamp(cursor.Y - 128, screen.Top, screen.Bottom - 256);
    const TRect zone{left, top, left + 256, top + 256};
    if (!desktop.ZoneMayHaveChanged(zone)) return;
    const TPoint points[3] = {{0, 0}, {256, 0}, {0, 256}};
    if (desktop.CopyZone(zone, points, capture)) ++copies;
  }
};

// The pointer's places on a circle, one per move.
TPoint OnCircle(int step) {
  const double a = step * 0.05;
  return {640 + static_cast<int>(300 * std::cos(a)), 400 + static_cast<int>(250 * std::sin(a))};
}

struct Result {
  double seconds = 0;
  CastFrames::Counts arrived;
  double ownCpu = 0, mutterCpu = 0;
  std::vector<double> latencies;  // ms
  int missed = 0;
  int copies = 0;
};

void Print(const char* name, const Result& r) {
  std::vector<double> l = r.latencies;
  std::sort(l.begin(), l.end());
  const auto at = [&l](double q) {
    return l.empty() ? 0.0
                     : l[std::min(l.size() - 1,
                                  static_cast<std::size_t>(q * static_cast<double>(l.size())))];
  };
  std::printf("%-34s frames/s %5.1f  cursor reports/s %5.1f  copies/s %5.1f  ", name,
              static_cast<double>(r.arrived.images) / r.seconds,
              static_cast<double>(r.arrived.cursorReports) / r.seconds, r.copies / r.seconds);
  if (!l.empty()) {
    std::printf("move->cursor median %5.1f ms p90 %5.1f ms (%zu moves, %d missed)  ", at(0.5),
                at(0.9), l.size(), r.missed);
  }
  // The machine's load: the compositor paints in software, so its pace follows the load.
  std::ifstream loadavg("/proc/loadavg");
  double load = 0;
  loadavg >> load;
  std::printf("CPU reader %5.1f %%  mutter %5.1f %%  load %.1f\n", 100 * r.ownCpu / r.seconds,
              100 * r.mutterCpu / r.seconds, load);
  std::fflush(stdout);
}

// Runs for `seconds`: the cycle every 25 ms; with `moving`, the pointer moves every 16 ms;
// with `timing`, each move is followed until CursorPos shows it (polling every millisecond,
// which costs CPU of its own: the CPU of such a run is not the reader's).
Result Run(PortalDesktop& desktop, test::MutterRemote& remote, int seconds, bool moving,
           bool timing) {
  const pid_t mutter = static_cast<pid_t>(std::atoi(std::getenv("OMBRIX_GNOME_MUTTER_PID")));
  Cycle cycle{desktop};
  Result r;
  const CastFrames::Counts before = desktop.Frames().Arrived();
  const double ownBefore = CpuSeconds(getpid()), mutterBefore = CpuSeconds(mutter);
  const auto start = Clock::now(), end = start + std::chrono::seconds(seconds);
  auto nextTick = start, nextMove = start;
  int step = 0;
  while (Clock::now() < end) {
    const auto now = Clock::now();
    if (now >= nextTick) {
      cycle.Tick();
      nextTick += 25ms;
    }
    if (moving && now >= nextMove) {
      const TPoint target = OnCircle(step++);
      const auto sent = Clock::now();
      remote.MovePointer(target.X, target.Y);
      if (timing) {
        TPoint seen;
        bool reached = false;
        while (Clock::now() - sent < 500ms) {
          if (desktop.CursorPos(seen) && seen == target) {
            reached = true;
            break;
          }
          std::this_thread::sleep_for(1ms);
        }
        if (reached)
          r.latencies.push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        else
          ++r.missed;
      }
      nextMove = std::max(nextMove + 16ms, Clock::now());
    }
    std::this_thread::sleep_until(std::min(nextTick, moving ? nextMove : nextTick));
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const CastFrames::Counts after = desktop.Frames().Arrived();
  r.arrived = {after.images - before.images, after.cursorReports - before.cursorReports};
  r.ownCpu = CpuSeconds(getpid()) - ownBefore;
  r.mutterCpu = CpuSeconds(mutter) - mutterBefore;
  r.copies = cycle.copies;
  return r;
}

}  // namespace
}  // namespace ombrix

int main(int argc, char* argv[]) {
  using namespace ombrix;
  if (!std::getenv("OMBRIX_GNOME_MUTTER_PID")) {
    std::fputs("bench_wayland_cast: run it through bench/wayland_cast.sh\n", stderr);
    return 1;
  }
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  // The known picture fills the monitor, as in the tests.
  std::string script = OMBRIX_TEST_DIR "/pattern_window.py";
  std::vector<std::string> args = {"/usr/bin/python3", script, "1280", "800"};
  std::vector<char*> argvChild;
  for (auto& a : args) argvChild.push_back(a.data());
  argvChild.push_back(nullptr);
  setenv("GSK_RENDERER", "cairo", 1);
  pid_t client = -1;
  posix_spawn(&client, argvChild[0], nullptr, nullptr, argvChild.data(), environ);

  std::string error;
  auto remote = test::MutterRemote::Open(error);
  if (!remote) {
    std::fprintf(stderr, "bench_wayland_cast: %s\n", error.c_str());
    return 1;
  }
  // Pattern pixel (400, 500): red 400 % 256, green 500 % 256, blue 1 + 16.
  const uint32_t underneath = (400u % 256) << 16 | (500u % 256) << 8 | (1 + 16);
  const auto shown = Clock::now() + 30s;
  for (CastFrame frame; Clock::now() < shown; remote->NextFrame(frame, 200ms)) {
    if (remote->NewestFrame(frame, 1s) && frame.width == 1280) {
      const uint8_t* p = &frame.pixels[(500 * 1280 + 400) * 4];
      if ((uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]) == underneath) break;
    }
  }
  auto opening = std::async(std::launch::async, [] {
    TPortalFailure failure;
    PortalDesktopOptions options;
    options.portal.consentTimeout = 60s;
    auto d = PortalDesktop::Open(options, failure);
    if (!d) std::fputs(PortalProblemLine(failure).c_str(), stderr);
    return d;
  });
  if (!test::AnswerConsentDialog(*remote, 1, underneath, error)) {
    std::fprintf(stderr, "bench_wayland_cast: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<PortalDesktop> desktop = opening.get();
  if (!desktop) return 1;
  // The first pointer moves make mutter compile its shaders: not measured.
  Run(*desktop, *remote, 3, true, false);
  std::this_thread::sleep_for(1s);

  Print("still screen", Run(*desktop, *remote, seconds, false, false));
  Print("pointer moving 60 Hz", Run(*desktop, *remote, seconds, true, false));
  Print("pointer moving 60 Hz, timed", Run(*desktop, *remote, seconds, true, true));
  {
    RepaintingWindow video;
    Print("window repainting 60 Hz", Run(*desktop, *remote, seconds, false, false));
    Print("window repainting, pointer moving", Run(*desktop, *remote, seconds, true, true));
  }
  desktop.reset();
  kill(client, SIGTERM);
  waitpid(client, nullptr, 0);
  return 0;
}
