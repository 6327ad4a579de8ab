#include "FuzzTargets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Codecs.h"
#include "Errors.h"
#include "FastKernel.h"
#include "FastRank.h"
#include "iwFilters.h"
#include "iwFiltersCatalogue.h"
#include "iwProcess.h"

namespace ombrix::fuzz {

namespace {

// Pictures larger than this are only decoded: writing and reading them back again would slow
// the search without reaching other code.
constexpr int64_t kRoundTripPixels = 1 << 16;
// ombrix-filter's path runs a whole filter; small pictures keep each run short.
constexpr int64_t kFilterPixels = 64 * 64;
// The kernel-less passes' pictures: up to this many pixels a side, so that the plain pass (up
// to the fourth power of the box for the Median) stays quick.
constexpr int32_t kRankSide = 12;
// At box 3 the pictures are up to this wide, past the 3 x 3 passes' groups of 8 and 16 pixels
// inside the edge columns.
constexpr int32_t kRankSide3 = 40;
// The fast kernel passes' pictures: up to this many pixels a side, past the strongest
// sharpening's strip (56 pixels on AVX2).
constexpr int32_t kKernelSide = 72;

void Require(bool holds, const char* contract) {
  if (holds) return;
  std::fprintf(stderr, "ombrix fuzz: contract broken: %s\n", contract);
  std::abort();
}

std::string Encode(const TBitmap& picture, TFileFormat format) {
  std::ostringstream out(std::ios::binary);
  WritePicture(picture, out, format);
  return std::move(out).str();
}

std::unique_ptr<TBitmap> DecodeBytes(const std::string& file) {
  return DecodePicture(reinterpret_cast<const uint8_t*>(file.data()), file.size());
}

bool SameBytes(const TBitmap& a, const TBitmap& b, std::size_t bytesPerPixel) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(a.Width()) * bytesPerPixel;
  for (int row = 0; row < a.Height(); ++row) {
    const uint8_t* p = a.ScanLine(row);
    const uint8_t* q = b.ScanLine(row);
    if (!std::equal(p, p + rowBytes, q)) return false;
  }
  return true;
}

// The colours of a picture as blue, green, red rows, whatever its format.
std::vector<uint8_t> Colours(const TBitmap& picture) {
  std::vector<uint8_t> colours;
  const int step = BytesPerPixel(picture.PixelFormat());
  for (int row = 0; row < picture.Height(); ++row) {
    const uint8_t* p = picture.ScanLine(row);
    for (int x = 0; x < picture.Width(); ++x, p += step) colours.insert(colours.end(), p, p + 3);
  }
  return colours;
}

enum class Kept { everyByte, colours, size };

void FuzzDecoder(const uint8_t* data, std::size_t size,
                 std::unique_ptr<TBitmap> (*decode)(const uint8_t*, std::size_t),
                 TFileFormat format, Kept kept) {
  std::unique_ptr<TBitmap> picture;
  try {
    picture = decode(data, size);
  } catch (const EOmbrixError&) {
    return;  // refused, with one of our errors: nothing was made
  }
  Require(picture != nullptr && !picture->Empty(), "a decoder gives a picture or an error");
  const int64_t pixels = int64_t{picture->Width()} * picture->Height();
  Require(pixels <= kMaxPicturePixels, "a decoder gives no picture larger than it accepts");
  if (pixels > kRoundTripPixels) return;
  const auto back = DecodeBytes(Encode(*picture, format));
  Require(back->Width() == picture->Width() && back->Height() == picture->Height(),
          "a picture written and read again keeps its size");
  if (kept == Kept::everyByte) {
    Require(back->PixelFormat() == picture->PixelFormat() &&
                SameBytes(*back, *picture,
                          static_cast<std::size_t>(BytesPerPixel(picture->PixelFormat()))),
            "a BMP written and read again keeps every byte");
  } else if (kept == Kept::colours) {
    Require(Colours(*back) == Colours(*picture), "a PNG written and read again keeps its colours");
  }
}

// Everything LoadFromStream may change.
struct FilterState {
  int32_t bias;
  int32_t scaleFactor;
  TKernelMergeOp mergeOp;
  uint16_t count, width, height;
  std::vector<int32_t> kernel;
  bool operator==(const FilterState&) const = default;
};

FilterState StateOf(const TCustomFilter& filter) {
  return {filter.Bias(),
          filter.ScaleFactor(),
          filter.KernelMergeOp(),
          filter.KernelCount(),
          filter.KernelWidth(),
          filter.KernelHeight(),
          {filter.Kernel().begin(), filter.Kernel().end()}};
}

// A small picture of the given bytes, repeated.
std::unique_ptr<TBitmap> PictureOf(const uint8_t* data, std::size_t size, int width, int height) {
  auto picture = std::make_unique<TBitmap>(width, height, pf32bit);
  for (int row = 0; row < height; ++row) {
    uint8_t* p = picture->ScanLine(row);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * 4; ++i) {
      p[i] = size == 0 ? static_cast<uint8_t>(i * 37)
                       : data[(i + static_cast<std::size_t>(row)) % size];
    }
  }
  return picture;
}

}  // namespace

void FuzzBmp(const uint8_t* data, std::size_t size) {
  FuzzDecoder(data, size, DecodeBmp, ffBmp, Kept::everyByte);
}

void FuzzPng(const uint8_t* data, std::size_t size) {
  FuzzDecoder(data, size, DecodePng, ffPng, Kept::colours);
}

void FuzzJpeg(const uint8_t* data, std::size_t size) {
  FuzzDecoder(data, size, DecodeJpeg, ffJpeg, Kept::size);
}

// The fast kernel pass on every path beside the reference, byte for byte, on a picture that the
// input's last two bytes size (the input holds at least a stream's header): up to a strip and
// more, now and then smaller than the kernel.
void ExpectFastKernelPass(const TImageBaseFilter& filter, const uint8_t* data, std::size_t size) {
  const TKernelPass pass = filter.KernelPass();
  if (!FastKernelEligible(pass)) return;
  const uint8_t shape = data[size - 1];
  const int32_t width = 1 + data[size - 2] % kKernelSide;
  const int32_t height = 1 + shape % kKernelSide;
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  std::vector<uint8_t> picture(bytes);
  std::vector<uint8_t> expected(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    picture[i] = data[(i * 7) % size];
    expected[i] = static_cast<uint8_t>(i * 91);
  }
  const std::vector<uint8_t> before = expected;
  if (filter.KernelCount() > 1) {
    filter.ReferenceKernelsPass(expected.data(), picture.data(), width, height);
  } else {
    filter.ReferenceKernelPass(expected.data(), picture.data(), width, height);
  }
  for (const TKernelIsa isa : {kiPlain, kiAvx2, kiAvx512, kiAvx512Vnni}) {
    if (!KernelIsaSupported(isa)) continue;
    // Symmetric kernels have two sweeps; every other kernel takes the same one either way.
    for (const bool spread : {true, false}) {
      TFastKernelOptions options;
      options.Isa = isa;
      options.Threads = 1;  // the bands split only tall pictures; a pool thread costs more
      options.StripWidth = shape >> 6;  // 0: sized to the cache; else one vector
      options.SpreadRows = spread;
      std::vector<uint8_t> actual = before;
      Require(FastKernelPass(pass, actual.data(), picture.data(), width, height, options),
              "an eligible kernel takes the fast pass");
      Require(actual == expected, "the fast kernel pass writes what the reference writes");
    }
  }
}

void FuzzKernelStream(const uint8_t* data, std::size_t size) {
  TCustomFilter filter(nullptr);
  const int32_t values[] = {1, -2, 3, 4, -5, 6};
  filter.DefineKernel(2, 3, 1, values);
  filter.SetBias(7);
  filter.SetScaleFactor(3);
  filter.SetKernelMergeOp(opDIF);
  const FilterState before = StateOf(filter);
  int changes = 0;
  filter.OnChange = [&changes](TImageBaseProcess*) { ++changes; };

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream in(bytes, std::ios::binary);
  try {
    filter.LoadFromStream(in);
  } catch (const EOmbrixError&) {
    Require(StateOf(filter) == before, "a refused stream leaves the filter as it was");
    Require(changes == 0, "a refused stream announces nothing");
    return;
  }
  Require(changes == 1, "a stream loaded announces exactly one change");
  std::ostringstream out(std::ios::binary);
  filter.SaveToStream(out);
  Require(out.str() == bytes.substr(0, 15 + static_cast<std::size_t>(filter.KernelBytes())),
          "a stream loaded saves back to the bytes it was read from");

  // Large kernels would make every run slow without reaching other code.
  if (filter.Kernel().size() > 1024) return;
  const auto source = PictureOf(data, size, 5, 4);
  TBitmap target;
  try {
    filter.Apply(&target, source.get());
  } catch (const EDivByZero&) {
    Require(filter.ScaleFactor() == 0, "only a zero scale factor divides by zero");
    return;
  }

  ExpectFastKernelPass(filter, data, size);

  // The same kernel made mirror-symmetric both ways, which the unsharp mask and the blur are:
  // such kernels take their own sweep.
  const int32_t w = filter.KernelWidth();
  const int32_t h = filter.KernelHeight();
  if (filter.KernelCount() != 1 || w % 2 == 0 || h % 2 == 0) return;
  std::vector<int32_t> mirrored(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int32_t r = 0; r < h; ++r) {
    for (int32_t c = 0; c < w; ++c) {
      mirrored[static_cast<std::size_t>(r * w + c)] = filter.Kernel()[static_cast<std::size_t>(
          std::min(r, h - 1 - r) * w + std::min(c, w - 1 - c))];
    }
  }
  TCustomFilter symmetric(nullptr);
  symmetric.DefineKernel(1, static_cast<uint16_t>(w), static_cast<uint16_t>(h), mirrored);
  symmetric.SetBias(filter.Bias());
  symmetric.SetScaleFactor(filter.ScaleFactor());
  ExpectFastKernelPass(symmetric, data, size);
}

void FuzzFilterTool(const uint8_t* data, std::size_t size) {
  if (size < 3) return;
  TImageWork work;
  const std::vector<TFilterEntry>& names = work.FilterNames();
  work.SetFilterName(names[data[0] % names.size()].Name);
  // The settings ombrix-filter's options reach, within ranges that keep a run short.
  const uint8_t setting = data[1];
  if (auto* gaussian = work.FilterAs<TGaussianBaseFilter>()) {
    gaussian->SetRadius(TGaussianBaseFilter::kMinRadius + static_cast<float>(setting % 64) / 8);
  }
  if (auto* kernelLess = work.FilterAs<TWithoutKernelBaseFilter>()) {
    kernelLess->SetSamplingBox(static_cast<uint16_t>(1 + setting % 15));
  }
  if (auto* boundary = work.FilterAs<TBoundaryBaseFilter>()) boundary->SetHysteresis(setting);
  static constexpr TFileFormat kFormats[] = {ffBmp, ffPng, ffJpeg};
  const TFileFormat format = kFormats[data[2] % 3];

  std::unique_ptr<TBitmap> picture;
  try {
    picture = DecodePicture(data + 3, size - 3);
  } catch (const EOmbrixError&) {
    return;
  }
  if (int64_t{picture->Width()} * picture->Height() > kFilterPixels) return;
  picture->SetPixelFormat(pf32bit);
  Require(work.ApplyFilter(picture.get()), "every registered filter runs on a picture");
  TBitmap& result = *work.OutputBitmap();
  Require(result.Width() == picture->Width() && result.Height() == picture->Height(),
          "a filter's result has the picture's size");
  if (format == ffBmp) result.SetPixelFormat(pf24bit);
  const auto back = DecodeBytes(Encode(result, format));
  Require(back->Width() == result.Width() && back->Height() == result.Height(),
          "the result written and read again keeps its size");
}

void FuzzRankPasses(const uint8_t* data, std::size_t size) {
  if (size < 6) return;
  static constexpr TFilterFactory kMakers[] = {
      MakeFilter<TMosaicFilter>,        MakeFilter<TMinimumFilter>,     MakeFilter<TMaximumFilter>,
      MakeFilter<TMaxMinFilter>,        MakeFilter<TMinMaxFilter>,      MakeFilter<TMedianFilter>,
      MakeFilter<TDegrainBrightFilter>, MakeFilter<TDegrainDarkFilter>, MakeFilter<TDegrainFilter>};
  auto filter = kMakers[data[0] % std::size(kMakers)](nullptr);
  // Mostly the boxes up to 9, now and then one up to 17: larger than the picture.
  const int box = data[1] < 224 ? 1 + data[1] % 9 : 10 + (data[1] - 224) % 8;
  const int32_t width = 1 + data[2] % (box == 3 ? kRankSide3 : kRankSide);
  const int32_t height = 1 + data[3] % kRankSide;
  dynamic_cast<TWithoutKernelBaseFilter&>(*filter).SetSamplingBox(static_cast<uint16_t>(box));
  if (auto* boundary = dynamic_cast<TBoundaryBaseFilter*>(filter.get())) {
    boundary->SetHysteresis(data[4]);
  }
  const uint8_t choices = data[5];
  const uint8_t* bytes = data + 6;
  const std::size_t count = size - 6;
  // The colours: raw bytes, or (to make ties between different pixels everywhere) a few
  // colours in pairs of equal luminance, one picked per byte.
  static constexpr uint32_t kTied[] = {0x1E1E1E, 0x003300, 0x646464, 0xFF2800,
                                       0xC8C8C8, 0x96FF2A, 0x000000, 0xFFFFFF};
  const int levels = choices >> 6;  // 0: raw; 1, 2, 3: 2, 4 or 8 colours
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<uint8_t> source(pixels * 4);
  for (std::size_t i = 0; i < pixels; ++i) {
    const auto byte = [&](std::size_t k) {
      return count == 0 ? static_cast<uint8_t>(k * 37) : bytes[k % count];
    };
    uint32_t word = 0;
    if (levels == 0) {
      word = static_cast<uint32_t>(byte(3 * i)) | static_cast<uint32_t>(byte(3 * i + 1)) << 8 |
             static_cast<uint32_t>(byte(3 * i + 2)) << 16;
    } else {
      word = kTied[byte(i) % (1u << levels)] | static_cast<uint32_t>(i * 53 % 256) << 24;
    }
    for (std::size_t b = 0; b < 4; ++b) source[4 * i + b] = static_cast<uint8_t>(word >> (8 * b));
  }
  std::vector<uint8_t> expectedSource = source;
  std::vector<uint8_t> expected(source.size());
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 91);
  const std::vector<uint8_t> before = expected;
  filter->ApplyKernel(expected.data(), expectedSource.data(), width, height);
  const std::optional<TRankPass> pass = filter->RankPass();
  Require(pass.has_value(), "a kernel-less filter has a fast pass");
  for (const TKernelIsa isa : {kiPlain, kiAvx2, kiAvx512, kiAvx512Vnni}) {
    if (!KernelIsaSupported(isa)) continue;
    TFastRankOptions options;
    options.Isa = isa;
    // One thread: the rows are split into bands only from 64 rows on, and waking a pool
    // thread would cost more than the pass.
    options.Threads = 1;
    options.StripRows = (choices >> 1) & 7;
    // The Median's strips of columns: the whole width, or 1, 4 or 7 columns.
    options.StripColumns = ((choices >> 4) & 3) * 3 - 2;
    std::vector<uint8_t> actualSource = source;
    std::vector<uint8_t> actual = before;
    Require(FastRankPass(*pass, actual.data(), actualSource.data(), width, height, options),
            "a fast kernel-less pass takes a small picture");
    Require(actual == expected, "a fast kernel-less pass writes what the plain pass writes");
    Require(actualSource == expectedSource,
            "a fast kernel-less pass leaves the source as the plain pass leaves it");
  }
}

Target TargetNamed(std::string_view name) {
  if (name == "bmp") return FuzzBmp;
  if (name == "png") return FuzzPng;
  if (name == "jpeg") return FuzzJpeg;
  if (name == "kernel") return FuzzKernelStream;
  if (name == "filter") return FuzzFilterTool;
  if (name == "rank") return FuzzRankPasses;
  return nullptr;
}

}  // namespace ombrix::fuzz
