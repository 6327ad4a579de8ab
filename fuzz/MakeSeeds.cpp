// fuzz_seeds FOLDER: writes the seed inputs our own writers make, one folder per target
// (bmp, png, jpeg, kernel, filter). ImageMagick adds the kinds we do not write
// (scripts/fuzz-seeds.sh).

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Codecs.h"
#include "iwFilters.h"
#include "iwProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix;

void Save(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string Encode(const TBitmap& picture, TFileFormat format) {
  std::ostringstream out(std::ios::binary);
  WritePicture(picture, out, format);
  return std::move(out).str();
}

// Gradients with a few sharp edges, so every filter has something to change.
std::unique_ptr<TBitmap> Picture(int width, int height, TPixelFormat format) {
  auto picture = std::make_unique<TBitmap>(width, height, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto v = static_cast<unsigned>(x * 255 / width) |
                     static_cast<unsigned>(y * 255 / height) << 8 |
                     ((x / 4 + y / 4) % 2 != 0 ? 0xC00000u : 0x100000u);
      picture->Canvas().SetPixel(x, y, v);
    }
  }
  return picture;
}

std::string KernelStream(uint16_t count, uint16_t width, uint16_t height, TKernelMergeOp op,
                         int32_t bias, int32_t scale) {
  TCustomFilter filter(nullptr);
  std::vector<int32_t> values(std::size_t{count} * width * height);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int32_t>(i % 5) - 2;
  filter.DefineKernel(count, width, height, values);
  filter.SetKernelMergeOp(op);
  filter.SetBias(bias);
  filter.SetScaleFactor(scale);
  std::ostringstream out(std::ios::binary);
  filter.SaveToStream(out);
  return std::move(out).str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seeds FOLDER\n";
    return 2;
  }
  const fs::path root = argv[1];
  const struct { int width, height; } sizes[] = {{1, 1}, {3, 2}, {8, 8}, {17, 5}};
  for (const auto& [width, height] : sizes) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    for (const TPixelFormat format : {pf24bit, pf32bit}) {
      const std::string depth = format == pf24bit ? "-24" : "-32";
      Save(root / "bmp", "ours-" + size + depth + ".bmp",
           Encode(*Picture(width, height, format), ffBmp));
    }
    Save(root / "png", "ours-" + size + ".png", Encode(*Picture(width, height, pf24bit), ffPng));
    Save(root / "jpeg", "ours-" + size + ".jpg", Encode(*Picture(width, height, pf24bit), ffJpeg));
  }

  Save(root / "kernel", "default.kernel", KernelStream(1, 3, 3, opSUM, 0, 1));
  Save(root / "kernel", "two-rms.kernel", KernelStream(2, 3, 3, opRMS, 0, 1));
  Save(root / "kernel", "three-dif.kernel", KernelStream(3, 2, 1, opDIF, 10, 2));
  Save(root / "kernel", "abs-even.kernel", KernelStream(2, 4, 2, opABS, -5, -3));
  Save(root / "kernel", "zero-scale.kernel", KernelStream(1, 1, 1, opSUM, 0, 0));
  Save(root / "kernel", "empty.kernel", KernelStream(0, 3, 3, opSUM, 0, 1));

  // The kernel-less passes: each filter at a few boxes and sizes, raw and tied colours.
  for (int kind = 0; kind < 9; ++kind) {
    for (int box = 2; box <= 9; box += 7 - kind % 3) {
      const std::string choices{
          static_cast<char>(kind),           static_cast<char>(box - 1),
          static_cast<char>(3 + kind + box), static_cast<char>(11 - box),
          static_cast<char>(box * 31),       static_cast<char>(box * 29 + kind * 64)};
      std::string pixels;
      for (int i = 0; i < 96; ++i) pixels += static_cast<char>((i * 73 + kind * 11) % 256);
      Save(root / "rank", "rank-" + std::to_string(kind) + "-" + std::to_string(box),
           choices + pixels);
    }
  }

  // ombrix-filter's path: filter number, setting and output format, then a small picture.
  TImageWork work;
  const auto count = static_cast<int>(work.FilterNames().size());
  const std::string picture = Encode(*Picture(12, 9, pf24bit), ffPng);
  const std::string bmp = Encode(*Picture(7, 6, pf32bit), ffBmp);
  for (int filter = 0; filter < count; ++filter) {
    const std::string prefix{static_cast<char>(filter), static_cast<char>(filter * 7 + 3),
                             static_cast<char>(filter % 3)};
    Save(root / "filter", "filter-" + std::to_string(filter),
         prefix + (filter % 2 ? bmp : picture));
  }
  return 0;
}
