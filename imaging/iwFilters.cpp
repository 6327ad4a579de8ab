#include "iwFilters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "Errors.h"
#include "iwRGB32.h"

namespace ombrix {

namespace {

// 32-bit signed arithmetic that wraps instead of overflowing: the passes promise a result for
// every weight, defined or not, and never a trap.
int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int32_t WrapAbs(int32_t a) {
  return a < 0 ? WrapSub(0, a) : a;
}
// Truncating division; the one quotient that does not fit (minimum / -1) wraps to itself.
int32_t WrapDiv(int32_t a, int32_t b) {
  return b == -1 ? WrapSub(0, a) : a / b;
}

// One channel of a target pixel: sum div scale + bias, clamped.
uint8_t Finish(int32_t sum, int32_t scale, int32_t bias) {
  return ClampByte(WrapAdd(WrapDiv(sum, scale), bias));
}

std::size_t PixelOffset(int32_t x, int32_t row, int32_t width) {
  return (static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
          static_cast<std::size_t>(x)) *
         4;
}

// Bytes of a kernel of these dimensions, or -1 when that exceeds the 32-bit byte count.
int64_t BufferBytes(uint16_t count, uint16_t width, uint16_t height) {
  const int64_t bytes = int64_t{count} * width * height * 4;
  return bytes > std::numeric_limits<int32_t>::max() ? -1 : bytes;
}

std::vector<int32_t> ZeroValues(int64_t bytes) {
  if (bytes < 0) throw EOutOfMemory();
  try {
    return std::vector<int32_t>(static_cast<std::size_t>(bytes / 4), 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
}

void CheckIndex(uint16_t index, uint16_t limit) {
  if (index < 1 || index > limit) throw EListError(index);
}

// Little-endian encoding of the stream format.
template <class T>
void PutLE(std::vector<char>& out, T value) {
  auto bits = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>(static_cast<uint8_t>(bits & 0xFFu)));
    bits = static_cast<std::make_unsigned_t<T>>(bits >> 8);
  }
}

template <class T>
T GetLE(const uint8_t* in) {
  std::make_unsigned_t<T> bits = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) {
    bits = static_cast<std::make_unsigned_t<T>>((bits << 8) | in[i]);
  }
  return static_cast<T>(bits);
}

void WriteAll(std::ostream& stream, const std::vector<char>& bytes) {
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw EWriteError();
}

// Reads exactly `bytes` bytes or raises EReadError. Grows the block as the bytes arrive, so a
// stream that claims a huge kernel but ends early costs no huge allocation.
std::vector<uint8_t> ReadExactly(std::istream& stream, std::size_t bytes) {
  constexpr std::size_t kChunk = 1 << 16;
  std::vector<uint8_t> block;
  try {
    while (block.size() < bytes) {
      const std::size_t step = std::min(kChunk, bytes - block.size());
      const std::size_t at = block.size();
      block.resize(at + step);
      stream.read(reinterpret_cast<char*>(block.data() + at), static_cast<std::streamsize>(step));
      if (static_cast<std::size_t>(stream.gcount()) != step) throw EReadError();
    }
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  return block;
}

std::vector<int32_t> DecodeValues(const std::vector<uint8_t>& block) {
  std::vector<int32_t> values = ZeroValues(static_cast<int64_t>(block.size()));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = GetLE<int32_t>(&block[i * 4]);
  return values;
}

void EncodeValues(std::vector<char>& out, std::span<const int32_t> values) {
  for (const int32_t v : values) PutLE(out, v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TImageBaseFilter: settings

TImageBaseFilter::TImageBaseFilter(TImageWork* owner) : TImageBaseProcess(owner) {}

TImageBaseFilter::~TImageBaseFilter() = default;

void TImageBaseFilter::SetBias(int32_t value) {
  ChangeSetting(bias_, value);
}

void TImageBaseFilter::SetScaleFactor(int32_t value) {
  ChangeSetting(scaleFactor_, value);
}

void TImageBaseFilter::SetKernelMergeOp(TKernelMergeOp value) {
  if (value == kernelMergeOp_) return;
  kernelMergeOp_ = value;
  if (kernelCount_ > 1) Changed();
}

void TImageBaseFilter::SetKernelCount(uint16_t value) {
  if (SetKernelDimensions(value, kernelWidth_, kernelHeight_)) Changed();
}

void TImageBaseFilter::SetKernelWidth(uint16_t value) {
  if (SetKernelDimensions(kernelCount_, value, kernelHeight_)) Changed();
}

void TImageBaseFilter::SetKernelHeight(uint16_t value) {
  if (SetKernelDimensions(kernelCount_, kernelWidth_, value)) Changed();
}

bool TImageBaseFilter::SetKernelDimensions(uint16_t count, uint16_t width, uint16_t height) {
  if (count == kernelCount_ && width == kernelWidth_ && height == kernelHeight_) return false;
  ReplaceKernel(count, width, height, ZeroValues(BufferBytes(count, width, height)));
  return true;
}

void TImageBaseFilter::ReplaceKernel(uint16_t count, uint16_t width, uint16_t height,
                                     std::vector<int32_t>&& values) noexcept {
  kernelCount_ = count;
  kernelWidth_ = width;
  kernelHeight_ = height;
  kernel_ = std::move(values);
  kernelBytes_ = static_cast<int32_t>(kernel_.size() * 4);
  xMin_ = -(width / 2);
  xMax_ = (width - 1) / 2;
  yMin_ = -(height / 2);
  yMax_ = (height - 1) / 2;
}

uint16_t TImageBaseFilter::GetSquareSize() const {
  return kernelWidth_ == kernelHeight_ ? kernelWidth_ : uint16_t{0};
}

void TImageBaseFilter::SetSquareSize(uint16_t size) {
  if (SetKernelDimensions(kernelCount_, size, size)) Changed();
}

std::size_t TImageBaseFilter::ValueIndex(uint16_t k, uint16_t row, uint16_t column) const {
  CheckIndex(k, kernelCount_);
  CheckIndex(row, kernelHeight_);
  CheckIndex(column, kernelWidth_);
  return (static_cast<std::size_t>(row - 1) * kernelWidth_ + static_cast<std::size_t>(column - 1)) *
             kernelCount_ +
         static_cast<std::size_t>(k - 1);
}

int32_t TImageBaseFilter::GetKernelValue(uint16_t k, uint16_t row, uint16_t column) const {
  return kernel_[ValueIndex(k, row, column)];
}

void TImageBaseFilter::SetKernelValue(uint16_t k, uint16_t row, uint16_t column, int32_t value) {
  ChangeSetting(kernel_[ValueIndex(k, row, column)], value);
}

void TImageBaseFilter::LoadKernel(std::span<const int32_t> values) {
  if (values.size() < ValueCount()) throw EListError(static_cast<int64_t>(values.size()));
  WithUpdate([&] {
    std::size_t i = 0;
    for (uint16_t k = 1; k <= kernelCount_; ++k) {
      for (uint16_t r = 1; r <= kernelHeight_; ++r) {
        for (uint16_t c = 1; c <= kernelWidth_; ++c) SetKernelValue(k, r, c, values[i++]);
      }
    }
  });
}

void TImageBaseFilter::MergeKernels(std::span<const TKernelSums> sums, TKernelSums& result) const {
  result = TKernelSums{};
  const auto merge = [&](int32_t TKernelSums::*channel) {
    int32_t& out = result.*channel;
    switch (kernelMergeOp_) {
      case opSUM:
        for (const TKernelSums& s : sums) out = WrapAdd(out, s.*channel);
        break;
      case opABS:
        for (const TKernelSums& s : sums) out = WrapAdd(out, WrapAbs(s.*channel));
        break;
      case opDIF:
        if (sums.empty()) break;
        out = sums[0].*channel;
        for (std::size_t k = 1; k < sums.size(); ++k) out = WrapAbs(WrapSub(out, sums[k].*channel));
        break;
      case opRMS: {
        int32_t total = 0;
        for (const TKernelSums& s : sums) total = WrapAdd(total, WrapMul(s.*channel, s.*channel));
        // Only a total that overflowed can be negative; it has no square root.
        out = total > 0 ? static_cast<int32_t>(std::sqrt(static_cast<double>(total))) : 0;
        break;
      }
      default:
        break;
    }
  };
  merge(&TKernelSums::Blue);
  merge(&TKernelSums::Green);
  merge(&TKernelSums::Red);
}

// ---------------------------------------------------------------------------------------------
// TImageBaseFilter: the passes

void TImageBaseFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  ReferenceKernelPass(dst, src, width, height);
}

void TImageBaseFilter::ApplyKernels(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  ReferenceKernelsPass(dst, src, width, height);
}

namespace {

// Calls sample(cell, pixel) for every cell of the window of the target pixel at column x and
// stored row m, cells row by row from the top of the kernel, each row left to right; a cell
// whose sample lies outside the picture gets the target's own source pixel. Stored rows run
// bottom-up, so kernel row r (from 0) samples stored row m + YMax - r.
template <class Sample>
void VisitWindow(const TImageBaseFilter& f, const uint8_t* src, int32_t width, int32_t height,
                 int32_t x, int32_t m, Sample&& sample) {
  const uint8_t* centre = src + PixelOffset(x, m, width);
  const int32_t kw = f.KernelWidth();
  const int32_t kh = f.KernelHeight();
  std::size_t cell = 0;
  for (int32_t r = 0; r < kh; ++r) {
    const int32_t sm = m + f.YMax() - r;
    const bool rowInside = sm >= 0 && sm < height;
    for (int32_t c = 0; c < kw; ++c, ++cell) {
      const int32_t sx = x + f.XMin() + c;
      sample(cell, rowInside && sx >= 0 && sx < width ? src + PixelOffset(sx, sm, width) : centre);
    }
  }
}

void AddWeighted(TKernelSums& sums, int32_t weight, const uint8_t* pixel) {
  sums.Blue = WrapAdd(sums.Blue, WrapMul(weight, pixel[0]));
  sums.Green = WrapAdd(sums.Green, WrapMul(weight, pixel[1]));
  sums.Red = WrapAdd(sums.Red, WrapMul(weight, pixel[2]));
}

// Scales, biases, clamps and stores red, green and blue; byte 3 is left alone.
void StorePixel(uint8_t* out, const TKernelSums& sums, int32_t scale, int32_t bias) {
  out[2] = Finish(sums.Red, scale, bias);
  out[1] = Finish(sums.Green, scale, bias);
  out[0] = Finish(sums.Blue, scale, bias);
}

}  // namespace

void TImageBaseFilter::ReferenceKernelPass(uint8_t* dst, const uint8_t* src, int32_t width,
                                           int32_t height) const {
  if (kernel_.empty() || width <= 0 || height <= 0) return;
  if (scaleFactor_ == 0) throw EDivByZero();
  const std::size_t count = kernelCount_;
  for (int32_t m = 0; m < height; ++m) {
    for (int32_t x = 0; x < width; ++x) {
      TKernelSums sums;
      VisitWindow(*this, src, width, height, x, m, [&](std::size_t cell, const uint8_t* p) {
        AddWeighted(sums, kernel_[cell * count], p);
      });
      StorePixel(dst + PixelOffset(x, m, width), sums, scaleFactor_, bias_);
    }
  }
}

void TImageBaseFilter::ReferenceKernelsPass(uint8_t* dst, const uint8_t* src, int32_t width,
                                            int32_t height) const {
  if (kernel_.empty() || width <= 0 || height <= 0) return;
  if (scaleFactor_ == 0) throw EDivByZero();
  const std::size_t count = kernelCount_;
  std::vector<TKernelSums> sums;
  try {
    sums.resize(count);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  TKernelSums merged;
  for (int32_t m = 0; m < height; ++m) {
    for (int32_t x = 0; x < width; ++x) {
      std::fill(sums.begin(), sums.end(), TKernelSums{});
      VisitWindow(*this, src, width, height, x, m, [&](std::size_t cell, const uint8_t* p) {
        const int32_t* weights = &kernel_[cell * count];
        for (std::size_t k = 0; k < count; ++k) AddWeighted(sums[k], weights[k], p);
      });
      MergeKernels(sums, merged);
      StorePixel(dst + PixelOffset(x, m, width), merged, scaleFactor_, bias_);
    }
  }
}

TKernelPass TImageBaseFilter::KernelPass() const {
  TKernelPass pass;
  pass.Values = kernel_.data();
  pass.Count = kernelCount_;
  pass.Width = kernelWidth_;
  pass.Height = kernelHeight_;
  pass.ScaleFactor = scaleFactor_;
  pass.Bias = bias_;
  pass.MergeOp = kernelMergeOp_;
  return pass;
}

bool TImageBaseFilter::RunsEnginePasses() const {
  return IsExactly<TImageBaseFilter>();
}

bool TImageBaseFilter::TakesFastPass() const {
  return UsesKernelValues() && RunsEnginePasses() && FastKernelEligible(KernelPass());
}

void TImageBaseFilter::RunPasses(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  // The fast passes equal the engine's own, and the kernel-less classes' own, bit for bit and
  // decline what they cannot prove so.
  if (const std::optional<TRankPass> rank = RankPass()) {
    if (FastRankPass(*rank, dst, src, width, height)) {
      if (RankScalesByArea(rank->Kind)) StoreScaleFactor(AreaScaleFactor(rank->Box));
      return;
    }
  } else if (UsesKernelValues() && RunsEnginePasses() &&
             FastKernelPass(KernelPass(), dst, src, width, height)) {
    return;
  }
  if (kernelCount_ > 1) {
    ApplyKernels(dst, src, width, height);
  } else {
    ApplyKernel(dst, src, width, height);
  }
}

bool TImageBaseFilter::Apply(TBitmap* target, TGraphic* source) {
  // A kernel filter without values has nothing to compute, and a kernel-less one without a
  // square window of at least one cell has nowhere to sample; the target keeps what it holds.
  if (UsesKernelValues() ? kernel_.empty() : GetSquareSize() == 0) return false;
  TGraphicRGB view(source);
  if (!view.Valid() || target == nullptr) return false;
  const int32_t width = view.Width();
  const int32_t height = view.Height();
  target->SetWidth(width);
  target->SetHeight(height);
  target->SetPixelFormat(pf32bit);
  if (target->Empty()) return false;
  uint8_t* dst = target->ScanLine(height - 1);
  uint8_t* src = view.Bits();
  // Filtering a bitmap into itself would read pixels already written: work from a copy.
  std::vector<uint8_t> copy;
  if (src == dst) {
    try {
      copy.assign(src, src + PixelOffset(0, height, width));
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    }
    src = copy.data();
  }
  RunPasses(dst, src, width, height);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TWithoutKernelBaseFilter

TWithoutKernelBaseFilter::TWithoutKernelBaseFilter(TImageWork* owner) : TImageBaseFilter(owner) {
  SetKernelDimensions(0, 3, 3);
  StoreScaleFactor(0);
}

void TWithoutKernelBaseFilter::Assign(const TPersistent* source) {
  WithUpdate([&] {
    if (const auto* filter = dynamic_cast<const TImageBaseFilter*>(source)) {
      SetSquareSize(filter->GetSquareSize());
    }
    TImageBaseFilter::Assign(source);
  });
}

// ---------------------------------------------------------------------------------------------
// TCustomFilter

TCustomFilter::TCustomFilter(TImageWork* owner) : TImageBaseFilter(owner) {
  SetKernelDimensions(1, 3, 3);
}

void TCustomFilter::Assign(const TPersistent* source) {
  WithUpdate([&] {
    if (const auto* filter = dynamic_cast<const TImageBaseFilter*>(source)) {
      SetBias(filter->Bias());
      SetScaleFactor(filter->ScaleFactor());
      SetKernelMergeOp(filter->KernelMergeOp());
      const bool resized =
          SetKernelDimensions(filter->KernelCount(), filter->KernelWidth(), filter->KernelHeight());
      const std::span<const int32_t> theirs = filter->Kernel();
      if (resized || !std::equal(theirs.begin(), theirs.end(), Kernel().begin())) {
        std::copy(theirs.begin(), theirs.end(), KernelBuffer().begin());
        Changed();
      }
    }
    TImageBaseFilter::Assign(source);
  });
}

void TCustomFilter::DefineKernel(uint16_t count, uint16_t width, uint16_t height,
                                 std::span<const int32_t> values) {
  const int64_t bytes = BufferBytes(count, width, height);
  if (!values.empty() && bytes >= 0 && values.size() < static_cast<std::size_t>(bytes / 4)) {
    throw EListError(static_cast<int64_t>(values.size()));
  }
  WithUpdate([&] {
    if (SetKernelDimensions(count, width, height)) Changed();
    if (!values.empty()) LoadKernel(values);
  });
}

void TCustomFilter::GetKernel(std::span<int32_t> values) const {
  const std::size_t needed = Kernel().size();
  if (values.size() < needed) throw EListError(static_cast<int64_t>(values.size()));
  std::size_t i = 0;
  for (uint16_t k = 1; k <= KernelCount(); ++k) {
    for (uint16_t r = 1; r <= KernelHeight(); ++r) {
      for (uint16_t c = 1; c <= KernelWidth(); ++c) values[i++] = GetKernelValue(k, r, c);
    }
  }
}

void TCustomFilter::SaveToStream(std::ostream& stream) const {
  std::vector<char> out;
  out.reserve(15 + Kernel().size() * 4);
  PutLE(out, Bias());
  PutLE(out, ScaleFactor());
  PutLE(out, static_cast<uint8_t>(KernelMergeOp()));
  PutLE(out, KernelCount());
  PutLE(out, KernelWidth());
  PutLE(out, KernelHeight());
  EncodeValues(out, Kernel());
  WriteAll(stream, out);
}

void TCustomFilter::LoadFromStream(std::istream& stream) {
  // Everything is read and sized before the first setting changes, so a stream that ends
  // early or a kernel that cannot be had leaves the filter as it was.
  const std::vector<uint8_t> header = ReadExactly(stream, 15);
  const auto bias = GetLE<int32_t>(&header[0]);
  const auto scaleFactor = GetLE<int32_t>(&header[4]);
  if (header[8] > opRMS) {
    throw EReadError("merge operation " + std::to_string(header[8]) + " is out of range");
  }
  const auto mergeOp = static_cast<TKernelMergeOp>(header[8]);
  const auto count = GetLE<uint16_t>(&header[9]);
  const auto width = GetLE<uint16_t>(&header[11]);
  const auto height = GetLE<uint16_t>(&header[13]);
  const int64_t bytes = BufferBytes(count, width, height);
  if (bytes < 0) throw EOutOfMemory();
  std::vector<int32_t> values = DecodeValues(ReadExactly(stream, static_cast<std::size_t>(bytes)));

  WithUpdate([&] {
    SetBias(bias);
    SetScaleFactor(scaleFactor);
    SetKernelMergeOp(mergeOp);
    ReplaceKernel(count, width, height, std::move(values));
    Changed();
  });
}

void TCustomFilter::ReadKernel(std::istream& stream) {
  const std::vector<uint8_t> block = ReadExactly(stream, static_cast<std::size_t>(KernelBytes()));
  const std::vector<int32_t> values = DecodeValues(block);
  std::copy(values.begin(), values.end(), KernelBuffer().begin());
}

void TCustomFilter::WriteKernel(std::ostream& stream) const {
  std::vector<char> out;
  out.reserve(Kernel().size() * 4);
  EncodeValues(out, Kernel());
  WriteAll(stream, out);
}

bool TCustomFilter::KernelStored() const {
  const std::span<const int32_t> values = Kernel();
  return std::any_of(values.begin(), values.end(), [](int32_t v) { return v != 0; });
}

// ---------------------------------------------------------------------------------------------
// Gaussian filters

TGaussianBaseFilter::TGaussianBaseFilter(TImageWork* owner) : TImageBaseFilter(owner) {
  SetKernelCount(1);
}

void TGaussianBaseFilter::SetRadius(float value) {
  // NaN fails both tests, so it is ignored as well.
  if (value == radius_ || !(value >= kMinRadius)) return;
  radius_ = value;
  UpdateKernel();
}

void TGaussianBaseFilter::Assign(const TPersistent* source) {
  WithUpdate([&] {
    if (const auto* gaussian = dynamic_cast<const TGaussianBaseFilter*>(source)) {
      SetRadius(gaussian->Radius());
    }
    TImageBaseFilter::Assign(source);
  });
}

void TGaussianBaseFilter::ComputeGaussian(float radius, TGaussianMatrix& matrix, int32_t& n) {
  constexpr int32_t kHalf = TGaussianMatrix::kHalf;
  // Every stored value is a float, rounded as it is stored; the exponent is an intermediate.
  const float a = -2.0f * radius * radius;
  float total = 0.0f;
  for (int32_t y = -kHalf; y <= kHalf; ++y) {
    for (int32_t x = -kHalf; x <= kHalf; ++x) {
      const float e = static_cast<float>(std::exp(static_cast<double>(x * x + y * y) / a));
      matrix.At(y, x) = e;
      total += e;
    }
  }
  for (float& v : matrix.Values) v /= total;

  // The first test always holds, so the window loses at least its outermost column.
  n = kHalf;
  float tail = 0.0f;
  while (n > 1 && static_cast<double>(tail) < 1.0 / 510.0) {
    tail += 4.0f * matrix.At(0, n);
    --n;
  }

  float windowTotal = 0.0f;
  for (int32_t y = -n; y <= n; ++y) {
    for (int32_t x = -n; x <= n; ++x) windowTotal += matrix.At(y, x);
  }
  for (int32_t y = -n; y <= n; ++y) {
    for (int32_t x = -n; x <= n; ++x) matrix.At(y, x) /= windowTotal;
  }
}

void TGaussianBaseFilter::UpdateKernel() {
  std::unique_ptr<TGaussianMatrix> matrix;
  try {
    matrix = std::make_unique<TGaussianMatrix>();
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  int32_t n = 0;
  ComputeGaussian(radius_, *matrix, n);
  WithUpdate([&] {
    SetSquareSize(static_cast<uint16_t>(2 * n + 1));
    const float scale = 1.0f / matrix->At(n, n);
    BuildKernel(*matrix, n, scale);
  });
}

namespace {

// Writes sign x round(scale x M[y][x]) into every cell of kernel 1, rounding halves to the
// even neighbour, and returns the sum of the unsigned weights.
int32_t StoreGaussianWeights(TImageBaseFilter& f, const TGaussianMatrix& matrix, int32_t n,
                             float scale, int32_t sign) {
  int32_t total = 0;
  for (int32_t y = -n; y <= n; ++y) {
    for (int32_t x = -n; x <= n; ++x) {
      const auto w = static_cast<int32_t>(
          std::nearbyint(static_cast<double>(scale) * static_cast<double>(matrix.At(y, x))));
      f.SetKernelValue(1, static_cast<uint16_t>(y + n + 1), static_cast<uint16_t>(x + n + 1),
                       sign * w);
      total += w;
    }
  }
  return total;
}

}  // namespace

TGaussianBlurFilter::TGaussianBlurFilter(TImageWork* owner) : TGaussianBaseFilter(owner) {
  UpdateKernel();
}

void TGaussianBlurFilter::BuildKernel(const TGaussianMatrix& matrix, int32_t n, float scale) {
  SetScaleFactor(StoreGaussianWeights(*this, matrix, n, scale, 1));
}

TUnsharpMaskFilter::TUnsharpMaskFilter(TImageWork* owner) : TGaussianBaseFilter(owner) {
  UpdateKernel();
}

// Twice the pixel minus its blur: the negated blur weights, 2 x total added at the centre.
void TUnsharpMaskFilter::BuildKernel(const TGaussianMatrix& matrix, int32_t n, float scale) {
  const int32_t total = StoreGaussianWeights(*this, matrix, n, scale, -1);
  const auto centre = static_cast<uint16_t>((GetSquareSize() + 1) / 2);
  SetKernelValue(1, centre, centre, GetKernelValue(1, centre, centre) + 2 * total);
  SetScaleFactor(total);
}

}  // namespace ombrix
