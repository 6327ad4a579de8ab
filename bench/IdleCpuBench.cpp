// CPU time of the running magnifier over a stretch of wall time: the largest window, zoom 8,
// sharpen 5, the cursor resting beside the window, the frame timer at its 25 ms. Run once with
// change tracking (a still zone keeps its view) and once without (every tick draws), over a
// still screen and under a window that repaints every 16 ms, like a video; and idle in the
// window of the program's start (its size, zoom 1, no sharpening).
//
//   bench_idle_cpu [SECONDS [idle]]   on OMBRIX_X11_DISPLAY, else DISPLAY; a window manager
// helps. "idle" runs only the still-screen cases with change tracking (for a profiler).
// Prints one line per case: CPU seconds, ticks and drawn frames. bench/idle_cpu.sh starts a
// private display and runs it.

#include <sys/resource.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "Controls.h"
#include "Ombrix.h"
#include "X11Desktop.h"

namespace ombrix {
namespace {

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunEventsFor(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

class TCountingForm : public TForm1 {
 public:
  using TForm1::TForm1;
  int draws = 0;

 protected:
  void SharpenStage(int level) override {
    ++draws;
    TForm1::SharpenStage(level);
  }
};

// A window of another client under the zone that changes colour every 16 ms.
class TRepaintingWindow {
 public:
  explicit TRepaintingWindow(const char* display) : c_(xcb_connect(display, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    const uint32_t values[] = {0x202020, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 700, 400, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c_, window_);
    xcb_flush(c_);
    timer_.setInterval(16);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      colour_ = (colour_ + 0x030507) & 0xFFFFFF;
      xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXEL, &colour_);
      xcb_clear_area(c_, 0, window_, 0, 0, 0, 0);
      xcb_flush(c_);
    });
    timer_.start();
  }
  ~TRepaintingWindow() { xcb_disconnect(c_); }

 private:
  xcb_connection_t* c_;
  xcb_window_t window_ = 0;
  uint32_t colour_ = 0x202020;
  QTimer timer_;
};

// The window as it starts: its client size, zoom 1, no sharpening.
struct TWindowCase {
  const char* name;
  int width;
  int height;
  int zoom;
  int sharpen;
};
constexpr TWindowCase kLargest{"1024x768 zoom 8 sharpen 5", 1024, 768, 4, 5};
constexpr TWindowCase kDefault{"default window", 361, 432, 0, 0};

void RunCase(const char* display, bool track, bool repainting, int seconds,
             const TWindowCase& window) {
  X11Options options;
  options.trackChanges = track;
  const std::unique_ptr<X11Desktop> desktop = X11Desktop::Open(display, options);
  if (!desktop) std::exit(1);
  std::unique_ptr<TRepaintingWindow> video;
  if (repainting) video = std::make_unique<TRepaintingWindow>(display);
  TCountingForm form(*desktop);
  desktop->SetOwnWindowsProvider(OwnWindowIds);
  // As the program does: the screen's news wake a resting timer.
  const auto watch = WatchScreen(*desktop, form, [] { std::exit(1); });
  int ticks = 0;
  const std::function<void()> tick = form.Timer1->OnTimer;
  form.Timer1->OnTimer = [&] {
    ++ticks;
    tick();
  };
  form.show();
  form.move(0, 0);
  form.resize(window.width, window.height);
  form.Slider->setValue(window.zoom);
  form.ScrollBarLevel->setValue(window.sharpen);
  // The cursor rests beside the window; the zone still meets it.
  QCursor::setPos(1300, 900);
  // Let the window manager frame the window and settle its size, then measure.
  RunEventsFor(500);
  form.resize(window.width, window.height);
  RunEventsFor(500);
  ticks = 0;
  form.draws = 0;
  const double cpuBefore = ProcessCpuSeconds();
  RunEventsFor(seconds * 1000);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  std::printf(
      "%-26s %-26s %-18s cpu %6.3f s over %d s (%5.2f %%)  ticks %4d  drawn %4d  view %dx%d\n",
      window.name, track ? "tracking changes (after)" : "every tick draws (before)",
      repainting ? "window repainting" : "still screen", cpu, seconds, 100.0 * cpu / seconds, ticks,
      form.draws, form.Image1->Picture().Width(), form.Image1->Picture().Height());
  std::fflush(stdout);
}

}  // namespace
}  // namespace ombrix

int main(int argc, char* argv[]) {
  const char* display = std::getenv("OMBRIX_X11_DISPLAY");
  if (display == nullptr || *display == '\0') display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::fputs("bench_idle_cpu: no X display (OMBRIX_X11_DISPLAY or DISPLAY)\n", stderr);
    return 1;
  }
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const bool idleOnly = argc > 2 && std::string(argv[2]) == "idle";
  qputenv("DISPLAY", display);
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  using ombrix::RunCase;
  if (!idleOnly) {
    for (const bool repainting : {false, true})
      for (const bool track : {false, true})
        RunCase(display, track, repainting, seconds, ombrix::kLargest);
  } else {
    RunCase(display, true, false, seconds, ombrix::kLargest);
  }
  RunCase(display, true, false, seconds, ombrix::kDefault);
  return 0;
}
