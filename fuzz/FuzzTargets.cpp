#include "FuzzTargets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Codecs.h"
#include "Errors.h"
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
  }
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

Target TargetNamed(std::string_view name) {
  if (name == "bmp") return FuzzBmp;
  if (name == "png") return FuzzPng;
  if (name == "jpeg") return FuzzJpeg;
  if (name == "kernel") return FuzzKernelStream;
  if (name == "filter") return FuzzFilterTool;
  return nullptr;
}

}  // namespace ombrix::fuzz
