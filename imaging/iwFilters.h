#pragma once
// The filters: the kernel engine (TImageBaseFilter), the kernel-less base, the user-defined
// kernel filter with its stream format, and the Gaussian blur and unsharp mask. The fixed-kernel
// and kernel-less catalogue is included at the end so that this header is the whole unit.
// Everything runs on the GUI thread.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <typeinfo>
#include <vector>

#include "FastKernel.h"
#include "FastRank.h"
#include "Graphics.h"
#include "iwMisc.h"

namespace ombrix {

// How the channel sums of several kernels become one (one byte in the stream format).
enum TKernelMergeOp : uint8_t { opSUM = 0, opABS = 1, opDIF = 2, opRMS = 3 };

// The channel sums of one kernel for one pixel.
struct TKernelSums {
  int32_t Blue = 0;
  int32_t Green = 0;
  int32_t Red = 0;
};

// Base of every filter: KernelCount integer kernels of KernelWidth x KernelHeight cells, a
// scale factor, a bias and a merge rule, applied as one pass over the picture.
//
// Kernel storage order (Kernel(), the stream and "Kernel" property): interleaved per cell, so
// kernel k at row r, column c (all from 1) is element ((r-1) * width + (c-1)) * count + (k-1).
// Array order (LoadKernel, GetKernel, DefineKernel): kernel 1 row by row, then kernel 2, ...
//
// Placement: cell (r, c) weighs the source pixel at column X + XMin() + c - 1 and picture row
// Y - YMax() + r - 1 (row 0 at the top); a sample outside the picture is replaced by the target
// pixel's own source pixel, with that cell's weight.
//
// Arithmetic is 32-bit signed with wrap-around: weights that drive a sum out of that range
// give an unspecified result, never undefined behaviour or a trap.
class TImageBaseFilter : public TImageBaseProcess {
 public:
  static constexpr const char* kClassName = "TImageBaseFilter";

  // Bias 0, ScaleFactor 1, opSUM, no kernel (0 x 0 x 0).
  explicit TImageBaseFilter(TImageWork* owner);
  ~TImageBaseFilter() override;
  const char* ClassName() const override { return kClassName; }

  // Setters store a different value and call Changed().
  int32_t Bias() const { return bias_; }
  void SetBias(int32_t value);
  // Divisor of every channel sum. 0 is accepted here; a pass then raises EDivByZero.
  int32_t ScaleFactor() const { return scaleFactor_; }
  void SetScaleFactor(int32_t value);
  // Announces a change only when there are several kernels (one kernel ignores the rule).
  TKernelMergeOp KernelMergeOp() const { return kernelMergeOp_; }
  void SetKernelMergeOp(TKernelMergeOp value);

  // Dimension setters resize (clearing every value) and announce a change when they change
  // something. Raise EOutOfMemory when the buffer cannot be had; the filter is then unchanged.
  uint16_t KernelCount() const { return kernelCount_; }
  void SetKernelCount(uint16_t value);
  uint16_t KernelWidth() const { return kernelWidth_; }
  void SetKernelWidth(uint16_t value);
  uint16_t KernelHeight() const { return kernelHeight_; }
  void SetKernelHeight(uint16_t value);
  // Buffer size in bytes: count x width x height x 4.
  int32_t KernelBytes() const { return kernelBytes_; }

  // Window offsets: -(width div 2), (width - 1) div 2, -(height div 2), (height - 1) div 2,
  // truncating toward zero.
  int32_t XMin() const { return xMin_; }
  int32_t XMax() const { return xMax_; }
  int32_t YMin() const { return yMin_; }
  int32_t YMax() const { return yMax_; }

  // The raw kernel buffer in storage order (empty when there are no values).
  std::span<const int32_t> Kernel() const { return kernel_; }

  // Returns false and changes nothing when all three equal the current ones; otherwise sizes
  // the buffer, clears every value to 0 and returns true. Never announces a change itself.
  // Raises EOutOfMemory (filter unchanged) when the buffer cannot be had, which includes any
  // buffer of more than 2^31 - 1 bytes.
  virtual bool SetKernelDimensions(uint16_t count, uint16_t width, uint16_t height);

  // KernelWidth when it equals KernelHeight, else 0.
  uint16_t GetSquareSize() const;
  // Makes the kernels size x size (count unchanged), announcing a change when it resized.
  void SetSquareSize(uint16_t size);

  // Value of kernel k at row, column (all from 1). Raises EListError for an index outside
  // 1..KernelCount, 1..KernelHeight or 1..KernelWidth.
  int32_t GetKernelValue(uint16_t k, uint16_t row, uint16_t column) const;
  // Stores a different value and announces it; same index rule.
  void SetKernelValue(uint16_t k, uint16_t row, uint16_t column, int32_t value);

  // Sets every value from `values` in array order, announcing one change at most. Raises
  // EListError, changing nothing, when `values` holds fewer than count x height x width
  // elements; elements beyond those are not read.
  virtual void LoadKernel(std::span<const int32_t> values);

  // Merges one record per kernel into result, channel by channel, by KernelMergeOp(): opSUM
  // sum, opABS sum of magnitudes, opDIF |..|kernel 1 - kernel 2| - kernel 3|..|, opRMS the
  // truncated square root of the sum of squares (a total that wrapped negative gives 0); any
  // other op gives 0.
  virtual void MergeKernels(std::span<const TKernelSums> sums, TKernelSums& result) const;

  // The single-kernel pass over a whole picture (kernel 1; the engine runs it when KernelCount
  // is below 2). dst and src are width x height working-image blocks; byte 3 of dst is not
  // written. Kernel-less filters override it with their own pass, which may write src.
  // Raises EDivByZero before writing any pixel when ScaleFactor is 0. Does nothing when there
  // are no kernel values.
  virtual void ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height);
  // The multi-kernel pass: each kernel's sums merged by MergeKernels. Same contract; also
  // raises EOutOfMemory when the per-kernel records cannot be had.
  virtual void ApplyKernels(uint8_t* dst, uint8_t* src, int32_t width, int32_t height);

  // The plain per-pixel arithmetic of ApplyKernel and ApplyKernels, callable on their own as
  // the reference that any faster pass must equal bit for bit.
  void ReferenceKernelPass(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height) const;
  void ReferenceKernelsPass(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height) const;

  // The kernels, scale factor, bias and merge rule as the fast passes take them; the values
  // point into the kernel buffer and are valid until the kernel changes.
  TKernelPass KernelPass() const;
  // True when Apply computes this filter with the fast passes: its class runs the engine's
  // own ApplyKernel, ApplyKernels and MergeKernels (RunsEnginePasses; a class that replaces or
  // extends one keeps its own), and FastKernelEligible accepts the pass. The result is the
  // same either way.
  bool TakesFastPass() const;
  // The kernel-less pass as the fast passes take it (kind, box, hysteresis); empty for a
  // filter that has none (every kernel filter). Apply runs it through FastRankPass, which
  // equals the class's own ApplyKernel in every byte, wherever that pass accepts it.
  virtual std::optional<TRankPass> RankPass() const { return std::nullopt; }

  // Filters source into target: target becomes a 32-bit bitmap of the source's size and every
  // pixel's colour bytes are computed. Returns true when the filter ran; false, leaving target
  // untouched, when the source yields no pixels, target is null, or a kernel filter has no
  // kernel values (count, width or height 0) or a kernel-less filter no square window of at
  // least one cell (SamplingBox 0). Target and source may be the same bitmap.
  // Errors of the pass (EDivByZero, EOutOfMemory) propagate after target was resized.
  bool Apply(TBitmap* target, TGraphic* source);

 protected:
  // False for filters whose pass needs no kernel values (the kernel-less ones), which then run
  // even with KernelCount 0.
  virtual bool UsesKernelValues() const { return true; }
  // Whether this object's class runs the engine's own ApplyKernel, ApplyKernels and
  // MergeKernels, so that the fast passes may stand in for them. A class that runs them
  // answers for itself alone (IsExactly<itself>()): a class derived from it that does not
  // answer again keeps its own virtual passes, whatever it replaced. The engine itself
  // answers for TImageBaseFilter.
  virtual bool RunsEnginePasses() const;
  // Whether this object's dynamic class is T itself, not a class derived from it.
  template <class T>
  bool IsExactly() const {
    return typeid(*this) == typeid(T);
  }
  // Writes ScaleFactor without announcing it (passes that derive it from the window size).
  void StoreScaleFactor(int32_t value) { scaleFactor_ = value; }
  // The buffer in storage order, writable.
  std::span<int32_t> KernelBuffer() { return kernel_; }
  // Replaces the dimensions and values at once; values must hold count x width x height
  // elements in storage order. Does not allocate and does not announce.
  void ReplaceKernel(uint16_t count, uint16_t width, uint16_t height,
                     std::vector<int32_t>&& values) noexcept;

 private:
  // Chooses and runs the pass, once Apply has sized the target. This is the single place where a
  // faster convolution may take over from the virtual passes; it may do so only where those passes
  // are the engine's own, since kernel-less filters replace ApplyKernel and others extend it.
  void RunPasses(uint8_t* dst, uint8_t* src, int32_t width, int32_t height);
  std::size_t ValueIndex(uint16_t k, uint16_t row, uint16_t column) const;
  std::size_t ValueCount() const { return kernel_.size(); }

  int32_t bias_ = 0;
  int32_t scaleFactor_ = 1;
  std::vector<int32_t> kernel_;
  uint16_t kernelCount_ = 0;
  uint16_t kernelWidth_ = 0;
  uint16_t kernelHeight_ = 0;
  TKernelMergeOp kernelMergeOp_ = opSUM;
  int32_t kernelBytes_ = 0;
  int32_t xMin_ = 0;
  int32_t xMax_ = 0;
  int32_t yMin_ = 0;
  int32_t yMax_ = 0;
};

// Base of the filters that use no kernel values: KernelCount 0 and a SamplingBox x SamplingBox
// window placed like a kernel of that size. Subclasses override ApplyKernel.
class TWithoutKernelBaseFilter : public TImageBaseFilter {
 public:
  static constexpr const char* kClassName = "TWithoutKernelBaseFilter";

  // Count 0, a 3 x 3 box, Bias and ScaleFactor 0.
  explicit TWithoutKernelBaseFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }

  uint16_t SamplingBox() const { return GetSquareSize(); }
  void SetSamplingBox(uint16_t value) { SetSquareSize(value); }

  // From any filter: its square size; then the base rules.
  void Assign(const TPersistent* source) override;

 protected:
  bool UsesKernelValues() const override { return false; }
};

// User-defined kernels with every setting exposed, and a binary stream format:
// Bias (int32), ScaleFactor (int32), KernelMergeOp (1 byte), KernelCount, KernelWidth,
// KernelHeight (uint16 each), then the values (int32) in storage order; little-endian.
class TCustomFilter : public TImageBaseFilter {
 public:
  static constexpr const char* kClassName = "TCustomFilter";

  // One 3 x 3 kernel of zeros, Bias 0, ScaleFactor 1.
  explicit TCustomFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }

  // From any filter: Bias, ScaleFactor, KernelMergeOp, dimensions and values; one change at
  // most. Then the base rules.
  void Assign(const TPersistent* source) override;

  // Sizes the kernels and, when values is not empty, loads them in array order; one change
  // at most. Raises EListError, changing nothing, when values is not empty but shorter than
  // count x height x width; EOutOfMemory as SetKernelDimensions.
  virtual void DefineKernel(uint16_t count, uint16_t width, uint16_t height,
                            std::span<const int32_t> values = {});
  // Writes every value in array order into values. Raises EListError, writing nothing, when
  // it holds fewer than count x height x width elements.
  virtual void GetKernel(std::span<int32_t> values) const;

  // Writes the stream format. Raises EWriteError ("Erreur d'écriture du flux") when the
  // stream fails.
  virtual void SaveToStream(std::ostream& stream) const;
  // Reads the stream format and announces exactly one change. All or nothing: a short stream
  // or a merge operation
  // out of range raises EReadError and a kernel too large for memory EOutOfMemory, leaving the
  // filter as it was and announcing nothing.
  virtual void LoadFromStream(std::istream& stream);

  // Content of the binary "Kernel" property: exactly KernelBytes() bytes, storage order.
  // ReadKernel raises EReadError on a short stream, leaving the values as they were; it does
  // not announce a change. WriteKernel raises as SaveToStream.
  void ReadKernel(std::istream& stream);
  void WriteKernel(std::ostream& stream) const;
  // True when "Kernel" is written: the buffer exists and holds a non-zero value.
  bool KernelStored() const;

 protected:
  bool RunsEnginePasses() const override { return IsExactly<TCustomFilter>(); }
};

// The matrix of ComputeGaussian: 101 x 101 single-precision values for y and x from -50 to 50.
struct TGaussianMatrix {
  static constexpr int32_t kHalf = 50;
  static constexpr int32_t kSide = 2 * kHalf + 1;
  std::vector<float> Values = std::vector<float>(kSide * kSide, 0.0f);
  float& At(int32_t y, int32_t x) {
    return Values[static_cast<std::size_t>((y + kHalf) * kSide + (x + kHalf))];
  }
  float At(int32_t y, int32_t x) const {
    return Values[static_cast<std::size_t>((y + kHalf) * kSide + (x + kHalf))];
  }
};

// One kernel derived from a Gaussian of radius Radius(): (2N + 1) x (2N + 1) cells.
class TGaussianBaseFilter : public TImageBaseFilter {
 public:
  static constexpr const char* kClassName = "TGaussianBaseFilter";
  // Radii below this are ignored: their weights or channel sums leave the 32-bit range.
  static constexpr float kMinRadius = 0.27f;

  const char* ClassName() const override { return kClassName; }

  float Radius() const { return radius_; }
  // Stores a different radius of at least kMinRadius and rebuilds the kernel (one change at
  // most); any other value is ignored without error.
  void SetRadius(float value);
  // True when Radius is persisted (it differs from its default 1.0).
  bool RadiusStored() const { return radius_ != 1.0f; }

  // From any Gaussian filter: its radius; then the base rules.
  void Assign(const TPersistent* source) override;

  // The normalised Gaussian of radius, single precision, and the half-size N (1 to 49) of
  // the window that holds all but 1/510 of it; the window is renormalised to sum 1.
  static void ComputeGaussian(float radius, TGaussianMatrix& matrix, int32_t& n);

 protected:
  // Radius 1.0, one kernel. The concrete class's constructor builds the kernel.
  explicit TGaussianBaseFilter(TImageWork* owner);

  // Recomputes the kernel from the radius; one change at most.
  virtual void UpdateKernel();
  // Writes the (2N + 1)^2 weights of kernel 1 and ScaleFactor from the matrix.
  virtual void BuildKernel(const TGaussianMatrix& matrix, int32_t n, float scale) = 0;

 private:
  float radius_ = 1.0f;
};

// "Gaussian Blur": the weighted mean of the window, weights round(scale x M).
class TGaussianBlurFilter : public TGaussianBaseFilter {
 public:
  static constexpr const char* kClassName = "TGaussianBlurFilter";
  explicit TGaussianBlurFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }

 protected:
  bool RunsEnginePasses() const override { return IsExactly<TGaussianBlurFilter>(); }
  void BuildKernel(const TGaussianMatrix& matrix, int32_t n, float scale) override;
};

// "Unsharp Mask": twice the pixel minus its Gaussian blur.
class TUnsharpMaskFilter : public TGaussianBaseFilter {
 public:
  static constexpr const char* kClassName = "TUnsharpMaskFilter";
  explicit TUnsharpMaskFilter(TImageWork* owner);
  const char* ClassName() const override { return kClassName; }

 protected:
  bool RunsEnginePasses() const override { return IsExactly<TUnsharpMaskFilter>(); }
  void BuildKernel(const TGaussianMatrix& matrix, int32_t n, float scale) override;
};

// The factory of a filter class, as the registry keeps it.
using TFilterFactory = std::unique_ptr<TImageBaseFilter> (*)(TImageWork* owner);

// The factory of class T: a new T with the given owner.
template <class T>
std::unique_ptr<TImageBaseFilter> MakeFilter(TImageWork* owner) {
  return std::make_unique<T>(owner);
}

}  // namespace ombrix

#if __has_include("iwFiltersCatalogue.h")
#include "iwFiltersCatalogue.h"
#endif
