#pragma once
// The renderer behind the drawing surface: draws a 32-bit picture into a bitmap through an
// axis-aligned mapping (a scale and an offset per axis), resampling it separably with a
// nearest, linear or cubic kernel and adjusting its colours through a 256-entry table first.
//
// Sampling model: pixel edges lie at integer coordinates, so source pixel k covers [k, k + 1)
// and its centre is k + 0.5. A target pixel is drawn when its centre lies inside the image of
// the whole source, and takes the value the kernel gives at its centre's inverse image. Source
// pixels past the borders repeat the border pixel. Everything is fixed-point with 14-bit
// weights that sum exactly to one, so a flat area stays exactly flat and an unscaled draw at
// an integer offset reproduces the source exactly.

#include <array>
#include <cstdint>
#include <vector>

#include "Graphics.h"
#include "PlgBlt.h"

namespace ombrix {

// One axis of the mapping: source coordinate u lands at target coordinate Scale * u + Offset.
struct TAxisMap {
  double Scale = 1;
  double Offset = 0;
};

enum TResampleKernel : uint8_t { rkNearest, rkLinear, rkCubic };

struct TResampleOptions {
  TResampleKernel Kernel = rkCubic;
  // Widen the kernel by 1 / |Scale| on an axis that shrinks, so shrinking averages the source.
  bool Prefilter = true;
  // Colour table applied to the blue, green and red bytes of the source before resampling;
  // nullptr leaves the colours unchanged. Holds 256 entries.
  const uint8_t* Colors = nullptr;
};

// The table of c' = round(255 * (c / 255)^gamma). Gamma 1 gives the identity.
// Precondition: gamma > 0 and finite.
std::array<uint8_t, 256> GammaTable(float gamma);

// 14-bit fixed-point weights of one axis: for each target index, `Taps` weights that apply to
// the source indices First[i] .. First[i] + Taps - 1, all inside the source, summing to 16384.
struct TAxisWeights {
  static constexpr int kOne = 1 << 14;
  int Taps = 0;
  std::vector<int32_t> First;
  std::vector<int16_t> Weights;  // Taps per target index
};

// The weights for target indices begin .. end - 1 of an axis whose source has `length` pixels.
// Taps is rounded up to a multiple of tapMultiple with zero weights when the source is long
// enough, so that fast kernels can take their taps in fixed groups.
// Preconditions: length > 0, map.Scale != 0 and finite.
TAxisWeights AxisWeights(const TAxisMap& map, int length, int begin, int end,
                         TResampleKernel kernel, bool prefilter, int tapMultiple = 1);

// The range [begin, end) of target indices whose centres lie inside the image of the source
// [0, length), clipped to [0, limit). Empty (begin == end) when nothing is drawn.
struct TIndexRange {
  int begin = 0;
  int end = 0;
};
TIndexRange DrawnRange(const TAxisMap& map, int length, int limit);

// Which row kernels carry out the passes. Automatic picks the fastest the processor runs;
// the others exist so that tests can hold each fast kernel against the plain one.
// rsAvx512 needs AVX-512 BW, VBMI and VNNI: wider passes and a colour-table copy by byte
// permutes.
enum TResampleKernels : uint8_t { rsAutomatic, rsPlain, rsSse2, rsAvx2, rsAvx512 };

// True when this processor and build can run the kernels.
bool KernelsAvailable(TResampleKernels kernels);

// Draws `source` into `target` (24 or 32 bits per pixel) within `clip` (target coordinates,
// clipped to the bitmap). Drawn pixels get the resampled blue, green and red and a fourth byte
// of 0; every other target pixel keeps its value. Nothing happens when the source or target is
// empty or a scale is 0 or not finite. Rows are split over the shared thread pool and joined
// before return. Raises std::bad_alloc when its buffers cannot be had (the target is then
// partly drawn). Preconditions: source.top addresses width x height 32-bit pixels at stride.
void Resample(const TPixelView& source, TBitmap& target, const TRect& clip, const TAxisMap& x,
              const TAxisMap& y, const TResampleOptions& options,
              TResampleKernels kernels = rsAutomatic);

}  // namespace ombrix
