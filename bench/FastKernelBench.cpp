// The fast kernel passes beside the reference passes they equal, and beside OpenCV's filter2D
// where it is installed (not exact: float weights and a replicated border), at 1024 x 768:
//   "Unsharp strength 5 (23 x 23, exact)" and Unsharp/r1 (5 x 5), the live view's strongest
//   and weakest sharpening, with 1 and 2 threads and on each supported instruction set;
//   a few catalogue and custom kernels, reference and fast with every thread;
//   for the unsharp masks also the sweep that folds rows per target ("fast-folded").
// Names read kernel/variant[/isa][/threads]; the ratio comes from the medians of one run.
// Time is wall-clock; the CPU column is the whole process's (every thread), which stays
// meaningful when other work shares the machine.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FastKernel.h"
#include "iwFilters.h"

#if defined(OMBRIX_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace ombrix {
namespace {

constexpr int32_t kWidth = 1024;
constexpr int32_t kHeight = 768;

struct TPicture {
  std::vector<uint8_t> src;
  std::vector<uint8_t> dst;
};

TPicture& Picture() {
  static TPicture picture = [] {
    TPicture p;
    std::mt19937 random(1);
    p.src.resize(static_cast<std::size_t>(kWidth * kHeight * 4));
    for (uint8_t& byte : p.src) byte = static_cast<uint8_t>(random() & 0xFF);
    p.dst.resize(p.src.size());
    return p;
  }();
  return picture;
}

std::unique_ptr<TImageBaseFilter> Unsharp(float radius) {
  auto filter = std::make_unique<TUnsharpMaskFilter>(nullptr);
  filter->SetRadius(radius);
  return filter;
}

std::unique_ptr<TImageBaseFilter> Custom(uint16_t count, uint16_t width, uint16_t height,
                                         TKernelMergeOp op, uint32_t seed) {
  auto filter = std::make_unique<TCustomFilter>(nullptr);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> weight(-40, 40);
  std::vector<int32_t> values(static_cast<std::size_t>(count * width * height));
  for (int32_t& v : values) v = weight(random);
  filter->DefineKernel(count, width, height, values);
  filter->SetKernelMergeOp(op);
  filter->SetScaleFactor(97);
  filter->SetBias(64);
  return filter;
}

void Reference(benchmark::State& state, const TImageBaseFilter* filter) {
  TPicture& p = Picture();
  for (auto _ : state) {
    if (filter->KernelCount() > 1) {
      filter->ReferenceKernelsPass(p.dst.data(), p.src.data(), kWidth, kHeight);
    } else {
      filter->ReferenceKernelPass(p.dst.data(), p.src.data(), kWidth, kHeight);
    }
    benchmark::DoNotOptimize(p.dst.data());
  }
}

void Fast(benchmark::State& state, const TImageBaseFilter* filter, TKernelIsa isa, int threads,
          bool spread) {
  TPicture& p = Picture();
  TFastKernelOptions options;
  options.Isa = isa;
  options.Threads = threads;
  options.SpreadRows = spread;
  const TKernelPass pass = filter->KernelPass();
  for (auto _ : state) {
    if (!FastKernelPass(pass, p.dst.data(), p.src.data(), kWidth, kHeight, options)) {
      state.SkipWithError("the fast pass refused this kernel");
      break;
    }
    benchmark::DoNotOptimize(p.dst.data());
  }
}

#if defined(OMBRIX_BENCH_OPENCV)
void OpenCv(benchmark::State& state, const TImageBaseFilter* filter, int threads) {
  TPicture& p = Picture();
  const int kw = filter->KernelWidth();
  const int kh = filter->KernelHeight();
  cv::Mat kernel(kh, kw, CV_32F);
  for (int r = 0; r < kh; ++r) {
    for (int c = 0; c < kw; ++c) {
      kernel.at<float>(r, c) =
          static_cast<float>(filter->Kernel()[static_cast<std::size_t>(r * kw + c)]) /
          static_cast<float>(filter->ScaleFactor());
    }
  }
  const cv::Mat src(kHeight, kWidth, CV_8UC4, p.src.data());
  cv::Mat dst(kHeight, kWidth, CV_8UC4, p.dst.data());
  cv::setNumThreads(threads);
  for (auto _ : state) {
    cv::filter2D(src, dst, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(p.dst.data());
  }
}
#endif

// folded: also the sweep that folds rows per target (TFastKernelOptions::SpreadRows false), on
// the best path, beside the spread one.
void Register(const std::string& name, const TImageBaseFilter* filter, bool everyIsa,
              bool folded = false) {
  const auto configure = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
  };
  configure(benchmark::RegisterBenchmark((name + "/reference").c_str(), Reference, filter));
  const TKernelIsa best = BestKernelIsa();
  for (const TKernelIsa isa : {kiPlain, kiAvx2, kiAvx512, kiAvx512Vnni}) {
    if (!KernelIsaSupported(isa) || (!everyIsa && isa != best)) continue;
    for (const int threads : {1, 2}) {
      const std::string variant =
          name + "/fast/" + KernelIsaName(isa) + "/threads:" + std::to_string(threads);
      configure(benchmark::RegisterBenchmark(variant.c_str(), Fast, filter, isa, threads, true));
      if (folded && isa == best) {
        const std::string old =
            name + "/fast-folded/" + KernelIsaName(isa) + "/threads:" + std::to_string(threads);
        configure(benchmark::RegisterBenchmark(old.c_str(), Fast, filter, isa, threads, false));
      }
    }
  }
#if defined(OMBRIX_BENCH_OPENCV)
  if (filter->KernelCount() == 1) {
    for (const int threads : {1, 2}) {
      const std::string variant =
          name + "/opencv-filter2D-not-exact/threads:" + std::to_string(threads);
      configure(benchmark::RegisterBenchmark(variant.c_str(), OpenCv, filter, threads));
    }
  }
#endif
}

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  using namespace ombrix;
  std::vector<std::unique_ptr<TImageBaseFilter>> filters;
  const auto add = [&](const std::string& name, std::unique_ptr<TImageBaseFilter> filter,
                       bool everyIsa, bool folded = false) {
    Register(name, filter.get(), everyIsa, folded);
    filters.push_back(std::move(filter));
  };
  add("Unsharp strength 5 (23 x 23, exact)", Unsharp(5.0f), true, true);
  add("Unsharp/r1-5x5", Unsharp(1.0f), true, true);
  add("Unsharp/r3-15x15", Unsharp(3.0f), false, true);
  add("Sharpen-3x3", MakeFilter<TSharpenFilter>(nullptr), false);
  add("SobelEdge-2x3x3-rms", MakeFilter<TSobelEdgeFilter>(nullptr), false);
  add("SmoothPyramidal-5x5", MakeFilter<TSmoothPyramidalFilter>(nullptr), false);
  add("Custom-7x7", Custom(1, 7, 7, opSUM, 3), false);
  add("Custom-23x23", Custom(1, 23, 23, opSUM, 4), false);
  add("Custom-4x9x9-abs", Custom(4, 9, 9, opABS, 5), false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
