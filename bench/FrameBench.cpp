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
// Lines run one after the other see different loads on a shared machine: FrameWholeBesideStages
// times the stages, the whole frame, the cycle and the shown cycle alternately within each
// iteration and reports the medians and what each costs beyond the stages (see there). CPU
// time is the process's, every thread; "faults" counts the page faults of a frame.
//
// With OMBRIX_X11_DISPLAY (else DISPLAY) set, the control is a real X11 window on that display
// and the cycle also runs on the display's screen (FrameCycleX11, FrameCycleX11Shown,
// FrameWholeBesideStagesX11); without a display the control paints offscreen.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>
#include <QApplication>
#include <QDeadlineTimer>
#include <QWindow>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

  // The screen the capture stage reads: the in-memory desktop unless a display's is given.
  Desktop* screen = &desktop;

  TFrame() {
    std::mt19937 random(7);
    TBitmap& pixels = desktop.Picture();
    for (int y = 0; y < pixels.Height(); ++y) {
      uint8_t* row = pixels.ScanLine(y);
      for (int i = 0; i < pixels.Width() * 4; ++i) row[i] = static_cast<uint8_t>(random());
    }
    desktop.SetCursor(cursor);
    SetUpSharpen(work);
  }

  void Capture() {
    const TPoint points[3] = {{0, 0}, {kWidth, 0}, {0, kHeight}};
    screen->CopyZone(zone, points, capture);
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

// Page faults the process takes per iteration of a benchmark, as the counter "faults": a frame
// that allocates fresh blocks faults their pages in every time.
class TFaultCounter {
 public:
  explicit TFaultCounter(benchmark::State& state) : state_(state), start_(Faults()) {}
  ~TFaultCounter() {
    state_.counters["faults"] = benchmark::Counter(static_cast<double>(Faults() - start_),
                                                   benchmark::Counter::kAvgIterations);
  }
  TFaultCounter(const TFaultCounter&) = delete;
  TFaultCounter& operator=(const TFaultCounter&) = delete;

 private:
  static long Faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
  }
  benchmark::State& state_;
  long start_;
};

void FrameCapture(benchmark::State& state) {
  TFrame& frame = Frame();
  const TFaultCounter faults(state);
  for (auto _ : state) frame.Capture();
}
void FrameZoom8(benchmark::State& state) {
  TFrame& frame = Frame();
  const TFaultCounter faults(state);
  for (auto _ : state) frame.Zoom();
}
void FrameSharpen5(benchmark::State& state) {
  TFrame& frame = Frame();
  frame.Zoom();
  const TFaultCounter faults(state);
  for (auto _ : state) frame.Sharpen();
}
void FrameCrossLine(benchmark::State& state) {
  TFrame& frame = Frame();
  const TFaultCounter faults(state);
  for (auto _ : state) frame.CrossLine();
}
void FrameWhole(benchmark::State& state) {
  TFrame& frame = Frame();
  const TFaultCounter faults(state);
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
  const TFaultCounter faults(state);
  for (auto _ : state) {
    frame.Capture();
    frame.Zoom(b, c);
    frame.Sharpen();
    frame.CrossLine();
  }
}
template <int b, int c>
void FrameZoom8BrightnessContrast(benchmark::State& state) {
  TFrame& frame = Frame();
  const TFaultCounter faults(state);
  for (auto _ : state) frame.Zoom(b, c);
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

// The frame cycle on `desktop`, showing its view in a picture control when `shown`.
class TCycle {
 public:
  TCycle(Desktop& desktop, bool shown) : cycle_(desktop) {
    if (shown) {
      control_ = std::make_unique<TImage>(nullptr);
      control_->ShowPicture(cycle_.View());
      control_->resize(kWidth, kHeight);
      control_->show();
      // Painting starts once the window system has shown the window.
      const QDeadlineTimer deadline(5000);
      while (!control_->windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // The first run only sees where the cursor is (the still-cursor rule), the second draws
    // the first frame: from then on every run draws, into blocks it already has.
    cycle_.Run(settings_);
    cycle_.Run(settings_);
  }
  // One frame; false when the cycle did not draw.
  bool Run() {
    if (!cycle_.Run(settings_).viewDrawn) return false;
    Show();
    return true;
  }
  // Shows the view as it is again (when there is a control).
  void Show() {
    if (control_) control_->Changed();
  }

 private:
  FrameCycle cycle_;
  std::unique_ptr<TImage> control_;
  const FrameSettings settings_ = CycleSettings();
};

void RunCycle(benchmark::State& state, Desktop& desktop, bool shown) {
  TCycle cycle(desktop, shown);
  const TFaultCounter faults(state);
  for (auto _ : state) {
    if (!cycle.Run()) {
      state.SkipWithError("the cycle did not draw");
      break;
    }
  }
}

void FrameCycleRun(benchmark::State& state) {
  RunCycle(state, Frame().desktop, false);
}
void FrameCycleShown(benchmark::State& state) {
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

// The whole frame beside its stages, alternated within every iteration so that all see the
// same load: each stage is timed on its second run in a row (its inputs warm, as in the stage
// lines), the whole frame, the cycle and the cycle with the shown picture each on the second of
// two runs. The counters are medians over the iterations in milliseconds, wall time and
// process CPU time (_cpu, every thread): "stages" (the four summed), "whole", "cycle" and
// "shown", what each costs beyond the stages ("whole+", "cycle+", "shown+"), and "show", the
// shown view painted again alone (what "shown" adds to "cycle").
class TClock {
 public:
  void Start() {
    wall_ = std::chrono::steady_clock::now();
    cpu_ = ProcessCpu();
  }
  // Milliseconds since Start: wall, process CPU.
  std::pair<double, double> Stop() const {
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - wall_;
    return {wall.count(), ProcessCpu() - cpu_};
  }

 private:
  static double ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
  }
  std::chrono::steady_clock::time_point wall_;
  double cpu_ = 0;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// `screen` is the screen the stages and the cycles read.
void WholeBesideStages(benchmark::State& state, Desktop& screen) {
  TFrame& frame = Frame();
  frame.screen = &screen;
  TCycle cycle(screen, false);
  TCycle shown(screen, true);
  using TStage = void (TFrame::*)();
  static constexpr std::array<TStage, 4> kStages = {&TFrame::Capture, &TFrame::Zoom,
                                                    &TFrame::Sharpen, &TFrame::CrossLine};
  auto whole = [&frame] {
    for (const TStage stage : kStages) (frame.*stage)();
  };
  // Runs `work` twice and times the second run.
  TClock clock;
  auto second = [&clock](auto&& work) {
    work();
    clock.Start();
    work();
    return clock.Stop();
  };
  enum : std::size_t { kStagesRow, kWholeRow, kCycleRow, kShownRow, kShowRow, kRows };
  std::array<std::vector<double>, kRows> wall, cpu, wallBeyond, cpuBeyond;
  bool drawn = true;
  for (auto _ : state) {
    std::array<std::pair<double, double>, kRows> t{};
    for (const TStage stage : kStages) {
      const auto [w, c] = second([&] { (frame.*stage)(); });
      t[kStagesRow].first += w;
      t[kStagesRow].second += c;
    }
    t[kWholeRow] = second(whole);
    t[kCycleRow] = second([&] { drawn = cycle.Run() && drawn; });
    t[kShownRow] = second([&] { drawn = shown.Run() && drawn; });
    t[kShowRow] = second([&] { shown.Show(); });
    for (std::size_t row = 0; row < kRows; ++row) {
      wall[row].push_back(t[row].first);
      cpu[row].push_back(t[row].second);
      wallBeyond[row].push_back(t[row].first - t[kStagesRow].first);
      cpuBeyond[row].push_back(t[row].second - t[kStagesRow].second);
    }
  }
  frame.screen = &frame.desktop;
  if (!drawn) state.SkipWithError("the cycle did not draw");
  constexpr const char* kNames[kRows] = {"stages", "whole", "cycle", "shown", "show"};
  for (std::size_t row = 0; row < kRows; ++row) {
    const std::string name = kNames[row];
    state.counters[name] = Median(wall[row]);
    state.counters[name + "_cpu"] = Median(cpu[row]);
    if (row == kStagesRow || row == kShowRow) continue;
    state.counters[name + "+"] = Median(wallBeyond[row]);
    state.counters[name + "+_cpu"] = Median(cpuBeyond[row]);
  }
}

void FrameWholeBesideStages(benchmark::State& state) {
  WholeBesideStages(state, Frame().desktop);
}

void FrameWholeBesideStagesX11(benchmark::State& state) {
  const std::unique_ptr<X11Desktop> desktop = X11Desktop::Open(g_display);
  if (!desktop) {
    state.SkipWithError("the display cannot be opened");
    return;
  }
  WholeBesideStages(state, *desktop);
}

#define OMBRIX_FRAME_BENCHMARK(fn)            \
  BENCHMARK(fn)                               \
      ->Name(#fn "/1024x768/zoom8/strength5") \
      ->Unit(benchmark::kMillisecond)         \
      ->Repetitions(5)                        \
      ->ReportAggregatesOnly(true)            \
      ->UseRealTime()                         \
      ->MeasureProcessCPUTime()

OMBRIX_FRAME_BENCHMARK(FrameCapture);
OMBRIX_FRAME_BENCHMARK(FrameZoom8);
OMBRIX_FRAME_BENCHMARK(FrameSharpen5);
OMBRIX_FRAME_BENCHMARK(FrameCrossLine);
OMBRIX_FRAME_BENCHMARK(FrameWhole);
OMBRIX_FRAME_BENCHMARK(FrameCycleRun);
OMBRIX_FRAME_BENCHMARK(FrameCycleShown);

BENCHMARK(FrameWholeBesideStages)
    ->Name("FrameWholeBesideStages/1024x768/zoom8/strength5")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();

void RegisterX11() {
  for (const bool shown : {false, true}) {
    benchmark::RegisterBenchmark(shown ? "FrameCycleX11Shown/1024x768/zoom8/strength5"
                                       : "FrameCycleX11/1024x768/zoom8/strength5",
                                 FrameCycleX11, shown)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
  }
  benchmark::RegisterBenchmark("FrameWholeBesideStagesX11/1024x768/zoom8/strength5",
                               FrameWholeBesideStagesX11)
      ->Unit(benchmark::kMillisecond)
      ->MinTime(3.0)
      ->UseRealTime();
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
