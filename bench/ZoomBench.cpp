// The zoom stage at the sizes a magnifier uses, for every zoom factor, with and without gamma
// and halving; beside it the same draws through the plain row kernels, so the gain of the fast
// kernels is read from one run.

#include <benchmark/benchmark.h>

#include <random>

#include "Resample.h"
#include "Zoom.h"

namespace ombrix {
namespace {

void Randomize(TBitmap& b) {
  std::mt19937 rng(1);
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (std::size_t i = 0; i < b.RowBytes(); ++i) row[i] = static_cast<uint8_t>(rng());
  }
}

// Arguments: width, height, slider position (factor 1, 2, 4, 6, 8), gamma x 10, halving
// (0 none, 1 width, 2 height).
void BM_ZoomStage(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int slider = static_cast<int>(state.range(2));
  const float gamma = static_cast<float>(state.range(3)) / 10;
  const int64_t halve = state.range(4);
  TBitmap capture(w, h), view(w, h);
  Randomize(capture);
  for (auto _ : state) {
    ZoomStage(capture, view, w, h, slider, halve == 1, halve == 2, gamma);
    benchmark::DoNotOptimize(view.Bits());
  }
  state.SetLabel("factor " + std::to_string(ZoomFactor(slider)));
}

// The same draw as BM_ZoomStage through the given row kernels.
void ResampleWith(benchmark::State& state, TResampleKernels kernels) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const double f = ZoomFactor(static_cast<int>(state.range(2)));
  const float gamma = static_cast<float>(state.range(3)) / 10;
  const int64_t halve = state.range(4);
  if (!KernelsAvailable(kernels)) {
    state.SkipWithError("kernels not available on this processor");
    return;
  }
  TBitmap capture(w, h), view(w, h);
  Randomize(capture);
  const auto colors = GammaTable(gamma > 0 ? gamma : 1.0f);
  TResampleOptions options;
  options.Colors = gamma > 0 ? colors.data() : nullptr;
  const TAxisMap x{f * (halve == 1 ? 0.5 : 1.0), -(f - 1) * w / 2};
  const TAxisMap y{f * (halve == 2 ? 0.5 : 1.0), -(f - 1) * h / 2};
  for (auto _ : state) {
    Resample(ViewOf(capture), view, TRect{0, 0, w, h}, x, y, options, kernels);
    benchmark::DoNotOptimize(view.Bits());
  }
}

void BM_ResamplePlain(benchmark::State& state) {
  ResampleWith(state, rsPlain);
}
void BM_ResampleSse2(benchmark::State& state) {
  ResampleWith(state, rsSse2);
}
void BM_ResampleAvx2(benchmark::State& state) {
  ResampleWith(state, rsAvx2);
}

void Grid(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "slider", "gamma10", "halve"});
  for (const auto& [w, h] : {std::pair{1024, 768}, std::pair{512, 384}})
    for (int slider : {0, 1, 2, 4})
      for (int gamma : {0, 15}) b->Args({w, h, slider, gamma, 0});
  for (int halve : {1, 2})
    for (int slider : {0, 1, 4}) b->Args({1024, 768, slider, 15, halve});
  // CPU time counts every thread of the pool, so it shows the work as well as the wall time.
  b->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
}

BENCHMARK(BM_ZoomStage)->Apply(Grid);
BENCHMARK(BM_ResampleAvx2)->Apply(Grid);
BENCHMARK(BM_ResampleSse2)->Apply(Grid);
BENCHMARK(BM_ResamplePlain)->Apply(Grid);

}  // namespace
}  // namespace ombrix

BENCHMARK_MAIN();
