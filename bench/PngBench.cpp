// Writing a 1024 x 768 picture as PNG: our writer beside libpng's default settings (adaptive
// filters, deflate level 6), for a photograph's kind of content and a screen's. Each reports
// the file's size in bytes as a counter.

#include <benchmark/benchmark.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchPictures.h"
#include "Codecs.h"
#include "Graphics.h"

namespace ombrix {
namespace {

constexpr int32_t kWidth = 1024;
constexpr int32_t kHeight = 768;

std::unique_ptr<TBitmap> MakeBitmap(const std::vector<uint8_t>& block) {
  auto bitmap = std::make_unique<TBitmap>(kWidth, kHeight, pf32bit);
  for (int32_t y = 0; y < kHeight; ++y) {
    std::memcpy(bitmap->ScanLine(y), block.data() + static_cast<std::size_t>(y * kWidth * 4),
                static_cast<std::size_t>(kWidth * 4));
  }
  return bitmap;
}

void Append(png_structp png, png_bytep data, std::size_t count) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), count);
}
void Flush(png_structp) {}

// libpng's defaults, as the writer used them before its settings were chosen.
std::string WriteWithDefaults(TBitmap& bitmap) {
  std::string file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows(static_cast<std::size_t>(kHeight));
  for (int32_t y = 0; y < kHeight; ++y) rows[static_cast<std::size_t>(y)] = bitmap.ScanLine(y);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(png, &file, Append, Flush);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(&png, &info);
  return file;
}

void Ours(benchmark::State& state, bool photo) {
  const auto bitmap =
      MakeBitmap(photo ? bench::PhotoLike(kWidth, kHeight) : bench::ScreenLike(kWidth, kHeight));
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    WritePng(*bitmap, out);
    bytes = out.str().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void LibpngDefaults(benchmark::State& state, bool photo) {
  const auto bitmap =
      MakeBitmap(photo ? bench::PhotoLike(kWidth, kHeight) : bench::ScreenLike(kWidth, kHeight));
  std::size_t bytes = 0;
  for (auto _ : state) bytes = WriteWithDefaults(*bitmap).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}

void Configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
}

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  using namespace ombrix;
  for (const bool photo : {true, false}) {
    const std::string kind = photo ? "photo" : "screen";
    Configure(benchmark::RegisterBenchmark(("WritePng/" + kind + "/ours").c_str(), Ours, photo));
    Configure(benchmark::RegisterBenchmark(("WritePng/" + kind + "/libpng-defaults").c_str(),
                                           LibpngDefaults, photo));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
