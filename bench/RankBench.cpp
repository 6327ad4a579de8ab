// The kernel-less filters at 1024 x 768, boxes 3, 15 and 31: the plain pass (the filter's own
// ApplyKernel) beside the fast pass with 1 and 2 threads on the best instruction set, and,
// where OpenCV is installed, its nearest operations in the same run (not exact: they keep no
// luminance order and treat borders otherwise): medianBlur for Median, erode and dilate for
// Minimum and Maximum, blur for the averages of Mosaic, Max Min and Min Max.
// Names read filter/box/variant[/threads]. The plain Median at boxes 15 and 31 takes seconds
// to a minute a pass and is left out. Boxes 3 and 31 also run, fast pass only, on a photo of
// 6000 x 4000 (filter/box/6000x4000/fast/threads:2), past the places one key holds; its plain
// pass would take minutes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchPictures.h"
#include "FastRank.h"
#include "iwFilters.h"

#if defined(OMBRIX_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace ombrix {
namespace {

constexpr int32_t kWidth = 1024;
constexpr int32_t kHeight = 768;
// A camera photo: past the 24 bits of places one key holds.
constexpr int32_t kPhotoWidth = 6000;
constexpr int32_t kPhotoHeight = 4000;

struct TPicture {
  TPicture(int32_t w, int32_t h) : width(w), height(h) {}
  int32_t width;
  int32_t height;
  std::vector<uint8_t> src = bench::PhotoLike(width, height);
  std::vector<uint8_t> dst = std::vector<uint8_t>(src.size());
};

// The picture of the table, or the photo, made when first asked for.
TPicture& Picture(bool photo = false) {
  if (photo) {
    static TPicture large(kPhotoWidth, kPhotoHeight);
    return large;
  }
  static TPicture picture(kWidth, kHeight);
  return picture;
}

void Plain(benchmark::State& state, TImageBaseFilter* filter) {
  TPicture& p = Picture();
  for (auto _ : state) {
    filter->ApplyKernel(p.dst.data(), p.src.data(), kWidth, kHeight);
    benchmark::DoNotOptimize(p.dst.data());
  }
}

void Fast(benchmark::State& state, const TImageBaseFilter* filter, int threads, bool photo) {
  TPicture& p = Picture(photo);
  TFastRankOptions options;
  options.Threads = threads;
  const TRankPass pass = *filter->RankPass();
  for (auto _ : state) {
    if (!FastRankPass(pass, p.dst.data(), p.src.data(), p.width, p.height, options)) {
      state.SkipWithError("the fast pass refused");
      break;
    }
    benchmark::DoNotOptimize(p.dst.data());
  }
}

#if defined(OMBRIX_BENCH_OPENCV)
enum TOpenCvOp { ocMedian, ocErode, ocDilate, ocBlur };

void OpenCv(benchmark::State& state, TOpenCvOp op, int box, int threads) {
  TPicture& p = Picture();
  const cv::Mat src(kHeight, kWidth, CV_8UC4, p.src.data());
  cv::Mat dst(kHeight, kWidth, CV_8UC4, p.dst.data());
  const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(box, box));
  cv::setNumThreads(threads);
  for (auto _ : state) {
    switch (op) {
      case ocMedian:
        cv::medianBlur(src, dst, box);
        break;
      case ocErode:
        cv::erode(src, dst, element);
        break;
      case ocDilate:
        cv::dilate(src, dst, element);
        break;
      case ocBlur:
        cv::blur(src, dst, cv::Size(box, box));
        break;
    }
    benchmark::DoNotOptimize(p.dst.data());
  }
}
#endif

void Configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
}

struct TRow {
  const char* name;
  TFilterFactory make;
  int opencv;  // a TOpenCvOp, or -1
};

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  using namespace ombrix;
  const TRow rows[] = {
      {"Mosaic", MakeFilter<TMosaicFilter>, 3},
      {"Minimum", MakeFilter<TMinimumFilter>, 1},
      {"Maximum", MakeFilter<TMaximumFilter>, 2},
      {"MaxMin", MakeFilter<TMaxMinFilter>, 3},
      {"MinMax", MakeFilter<TMinMaxFilter>, 3},
      {"Median", MakeFilter<TMedianFilter>, 0},
      {"DegrainBright", MakeFilter<TDegrainBrightFilter>, -1},
      {"DegrainDark", MakeFilter<TDegrainDarkFilter>, -1},
      {"Degrain", MakeFilter<TDegrainFilter>, -1},
  };
  std::vector<std::unique_ptr<TImageBaseFilter>> filters;
  for (const TRow& row : rows) {
    for (const int box : {3, 15, 31}) {
      auto filter = row.make(nullptr);
      dynamic_cast<TWithoutKernelBaseFilter&>(*filter).SetSamplingBox(static_cast<uint16_t>(box));
      const std::string name = std::string(row.name) + "/box:" + std::to_string(box);
      if (std::string(row.name) != "Median" || box == 3) {
        Configure(benchmark::RegisterBenchmark((name + "/plain").c_str(), Plain, filter.get()));
      }
      for (const int threads : {1, 2}) {
        Configure(benchmark::RegisterBenchmark(
            (name + "/fast/threads:" + std::to_string(threads)).c_str(), Fast, filter.get(),
            threads, false));
      }
      if (box != 15) {
        const std::string photo = name + "/" + std::to_string(kPhotoWidth) + "x" +
                                  std::to_string(kPhotoHeight) + "/fast/threads:2";
        benchmark::RegisterBenchmark(photo.c_str(), Fast, filter.get(), 2, true)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true)
            ->UseRealTime();
      }
#if defined(OMBRIX_BENCH_OPENCV)
      static const char* const kOpenCvNames[] = {"medianBlur", "erode", "dilate", "blur"};
      if (row.opencv >= 0) {
        for (const int threads : {1, 2}) {
          Configure(benchmark::RegisterBenchmark(
              (name + "/opencv-" + kOpenCvNames[row.opencv] + "/threads:" + std::to_string(threads))
                  .c_str(),
              OpenCv, static_cast<TOpenCvOp>(row.opencv), box, threads));
        }
      }
#endif
      filters.push_back(std::move(filter));
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
