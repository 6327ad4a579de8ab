// One capturing frame of the live view at its largest, stage by stage and whole, as the frame
// cycle runs it: a 1024 x 768 zone copied out of an in-memory 1920 x 1080 desktop, zoomed 8
// times, sharpened at strength 5 (the 23 x 23 unsharp mask) and marked with the cross-line.
// The window and its painting are not part of it. The brightness/contrast lines run the same
// frame with the command window's two bars at 0 (no table: the frame as without them) and at
// non-zero values (one table, applied in the zoom's colour pass).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "BrightnessContrast.h"
#include "CrossLine.h"
#include "MemoryDesktop.h"
#include "Sharpen.h"
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

BENCHMARK_MAIN();
