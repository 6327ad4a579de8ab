// One capturing frame of the live view at its largest, stage by stage and whole, as the frame
// cycle runs it: a 1024 x 768 zone copied out of an in-memory 1920 x 1080 desktop, zoomed 8
// times, sharpened at strength 5 (the 23 x 23 unsharp mask) and marked with the cross-line.
// The brightness/contrast lines run the same frame with the command window's two bars at 0 (no
// table: the frame as without them) and at non-zero values (one table, applied in the zoom's
// colour pass).
//
// Beside the stages called one after the other, the frame cycle itself runs the same frame
// (FrameCycleRun), and then shows it in the picture control the window shows it in
// (FrameCycleShown): what either costs beyond the stages is the cycle's own overhead.
//
// With OMBRIX_X11_DISPLAY (else DISPLAY) set, the control is a real X11 window on that display
// and the cycle also runs on the display's screen (FrameCycleX11, FrameCycleX11Shown); without
// a display the control paints offscreen.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>

#include "BrightnessContrast.h"
#include "Controls.h"
#include "CrossLine.h"
#include "FrameCycle.h"
#include "MemoryDesktop.h"
#include "Sharpen.h"
#include "X11Desktop.h"
#include "Zoom.h"
#include "iwProcess.h"

namespace ombrix {
namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kZoomPosition = 4;  // factor 8
constexpr int kStrength = 5;

struct TFrame {
  MemoryDesktop desktop{1920, 1080};
  TBitmap capture{kWidth, kHeight, pf32bit};
  TBitmap view{kWidth, kHeight, pf32bit};
  TImageWork work;
  TPoint cursor{960, 540};
  TRect zone{cursor.X - kWidth / 2, cursor.Y - kHeight / 2, cursor.X + kWidth / 2,
             cursor.Y + kHeight / 2};
  int tiltX = 0;
  int tiltY = 0;

  TFrame() {
    std::mt19937 random(7);
    TBitmap& screen = desktop.Picture();
    for (int y = 0; y < screen.Height(); ++y) {
      uint8_t* row = screen.ScanLine(y);
      for (int i = 0; i < screen.Width() * 4; ++i) row[i] = static_cast<uint8_t>(random());
    }
    SetUpSharpen(work);
  }

  void Capture() {
    const TPoint points[3] = {{0, 0}, {kWidth, 0}, {0, kHeight}};
    desktop.CopyZone(zone, points, capture);
  }
  void Zoom() { ZoomStage(capture, view, kWidth, kHeight, kZoomPosition, false, false, 0.0f); }
  // The zoom as the frame cycle calls it with brightness b and contrast c.
  void Zoom(int b, int c) {
    TZoomSettings settings;
    settings.SliderPosition = kZoomPosition;
    const auto table = BrightnessContrastTable(b, c);
    if (!BrightnessContrastIsIdentity(b, c)) settings.Colours = &table;
    ZoomStage(capture, view, kWidth, kHeight, settings);
  }
  void Sharpen() { ombrix::Sharpen(work, view, kStrength); }
  void CrossLine() {
    DrawCrossLine(view.Canvas(), cursor, zone.Left, zone.Top, kWidth, kHeight, clRed, tiltX, tiltY);
  }
};

TFrame& Frame() {
  static TFrame frame;
  return frame;
}

void FrameCapture(benchmark::State& state) {
  for (auto _ : state) Frame().Capture();
}
void FrameZoom8(benchmark::State& state) {
  for (auto _ : state) Frame().Zoom();
}
void FrameSharpen5(benchmark::State& state) {
  Frame().Zoom();
  for (auto _ : state) Frame().Sharpen();
}
void FrameCrossLine(benchmark::State& state) {
  for (auto _ : state) Frame().CrossLine();
}
void FrameWhole(benchmark::State& state) {
  TFrame& frame = Frame();
  for (auto _ : state) {
    frame.Capture();
    frame.Zoom();
    frame.Sharpen();
    frame.CrossLine();
  }
}

// Brightness and contrast at 0 and at 20 and 30.
template <int b, int c>
void FrameWholeBrightnessContrast(benchmark::State& state) {
  TFrame& frame = Frame();
  for (auto _ : state) {
    frame.Capture();
    frame.Zoom(b, c);
    frame.Sharpen();
    frame.CrossLine();
  }
}
template <int b, int c>
void FrameZoom8BrightnessContrast(benchmark::State& state) {
  for (auto _ : state) Frame().Zoom(b, c);
}

// The settings of the frame above for the frame cycle: a window away from the zone, a direct
// run (every run draws).
FrameSettings CycleSettings() {
  FrameSettings settings;
  settings.window.rect = {0, 0, 8, 8};
  settings.window.clientWidth = kWidth;
  settings.window.clientHeight = kHeight;
  settings.picture.zoom = kZoomPosition;
  settings.picture.sharpenLevel = kStrength;
  settings.picture.crossLine = true;
  return settings;
}

// Runs the cycle on `desktop` (and shows its view when `shown`), once before the timing so
// that the still-cursor rule lets every timed run draw.
void RunCycle(benchmark::State& state, Desktop& desktop, bool shown) {
  FrameCycle cycle(desktop);
  std::unique_ptr<TImage> control;
  if (shown) {
    control = std::make_unique<TImage>(nullptr);
    control->ShowPicture(cycle.View());
    control->resize(kWidth, kHeight);
    control->show();
    // Painting starts once the window system has shown the window.
    const QDeadlineTimer deadline(5000);
    while (!control->windowHandle()->isExposed() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  const FrameSettings settings = CycleSettings();
  cycle.Run(settings);
  for (auto _ : state) {
    if (!cycle.Run(settings).viewDrawn) {
      state.SkipWithError("the cycle did not draw");
      break;
    }
    if (control) control->Changed();
  }
}

void FrameCycleRun(benchmark::State& state) {
  Frame().desktop.SetCursor(Frame().cursor);
  RunCycle(state, Frame().desktop, false);
}
void FrameCycleShown(benchmark::State& state) {
  Frame().desktop.SetCursor(Frame().cursor);
  RunCycle(state, Frame().desktop, true);
}

const char* g_display = nullptr;

void FrameCycleX11(benchmark::State& state, bool shown) {
  const std::unique_ptr<X11Desktop> desktop = X11Desktop::Open(g_display);
  if (!desktop) {
    state.SkipWithError("the display cannot be opened");
    return;
  }
  RunCycle(state, *desktop, shown);
}

#define OMBRIX_FRAME_BENCHMARK(fn)            \
  BENCHMARK(fn)                               \
      ->Name(#fn "/1024x768/zoom8/strength5") \
      ->Unit(benchmark::kMillisecond)         \
      ->Repetitions(5)                        \
      ->ReportAggregatesOnly(true)            \
      ->UseRealTime()

OMBRIX_FRAME_BENCHMARK(FrameCapture);
OMBRIX_FRAME_BENCHMARK(FrameZoom8);
OMBRIX_FRAME_BENCHMARK(FrameSharpen5);
OMBRIX_FRAME_BENCHMARK(FrameCrossLine);
OMBRIX_FRAME_BENCHMARK(FrameWhole);
OMBRIX_FRAME_BENCHMARK(FrameCycleRun);
OMBRIX_FRAME_BENCHMARK(FrameCycleShown);

void RegisterX11() {
  for (const bool shown : {false, true}) {
    benchmark::RegisterBenchmark(shown ? "FrameCycleX11Shown/1024x768/zoom8/strength5"
                                       : "FrameCycleX11/1024x768/zoom8/strength5",
                                 FrameCycleX11, shown)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
  }
}

#define OMBRIX_BRIGHTNESS_CONTRAST_BENCHMARK(fn, b, c)                     \
  BENCHMARK_TEMPLATE(fn, b, c)                                             \
      ->Name(#fn "/1024x768/zoom8/strength5/brightness" #b "/contrast" #c) \
      ->Unit(benchmark::kMillisecond)                                      \
      ->Repetitions(5)                                                     \
      ->ReportAggregatesOnly(true)                                         \
      ->UseRealTime()

OMBRIX_BRIGHTNESS_CONTRAST_BENCHMARK(FrameZoom8BrightnessContrast, 0, 0);
OMBRIX_BRIGHTNESS_CONTRAST_BENCHMARK(FrameZoom8BrightnessContrast, 20, 30);
OMBRIX_BRIGHTNESS_CONTRAST_BENCHMARK(FrameWholeBrightnessContrast, 0, 0);
OMBRIX_BRIGHTNESS_CONTRAST_BENCHMARK(FrameWholeBrightnessContrast, 20, 30);

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ombrix::g_display = std::getenv("OMBRIX_X11_DISPLAY");
  if (ombrix::g_display == nullptr || *ombrix::g_display == '\0')
    ombrix::g_display = std::getenv("DISPLAY");
  if (ombrix::g_display != nullptr && *ombrix::g_display != '\0') {
    qputenv("DISPLAY", ombrix::g_display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    ombrix::RegisterX11();
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
