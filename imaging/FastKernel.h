#pragma once
// Fast kernel passes: the filter engine's integer convolution (one or more kernels, the edge
// rule that puts the target's own pixel in place of a sample outside the picture, merge, scale
// factor, bias, clamp) computed with SIMD multiply-adds and split over the shared thread pool,
// with results equal bit for bit to the plain per-pixel passes of TImageBaseFilter.
//
// The equality is proven per pass, not hoped for: FastKernelEligible accepts only kernels whose
// weights, sums and quotients stay inside the ranges where the packed 16-bit products, the
// 32-bit sums and the division used here are exact; every other pass is left to the caller's
// reference. Called from one thread at a time (the GUI thread); the work itself runs on the
// shared pool and has finished when the call returns.

#include <cstdint>
#include <optional>

namespace ombrix {

// The instruction-set paths. kiPlain runs on any processor (on x86-64 it uses SSE2, which
// every such processor has); the others need the named extensions.
enum TKernelIsa : uint8_t { kiPlain, kiAvx2, kiAvx512, kiAvx512Vnni };

// "plain", "avx2", "avx512", "avx512vnni".
const char* KernelIsaName(TKernelIsa isa);
// True when this build has the path and this processor (and its OS) can run it.
bool KernelIsaSupported(TKernelIsa isa);
// The fastest supported path.
TKernelIsa BestKernelIsa();

// One pass as the engine describes it. Values holds Count x Width x Height weights in the
// engine's storage order (interleaved per cell: kernel k at row r, column c, all from 1, is
// element ((r - 1) x Width + (c - 1)) x Count + (k - 1)). MergeOp is the engine's merge rule
// (0 sum, 1 magnitudes, 2 differences, 3 root of squares) and matters only when Count > 1.
struct TKernelPass {
  const int32_t* Values = nullptr;
  int32_t Count = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t ScaleFactor = 1;
  int32_t Bias = 0;
  int32_t MergeOp = 0;
};

struct TFastKernelOptions {
  // Threads to split the rows over; 0 or less: every thread of the shared pool.
  int Threads = 0;
  // The path to use; empty: BestKernelIsa(). A path that is not supported is never run: the
  // pass then reports that it did nothing.
  std::optional<TKernelIsa> Isa;
  // Pixels per strip of the sweep, rounded up to whole vectors; 0 or less: sized to the cache.
  int StripWidth = 0;
  // Kernels mirror-symmetric both ways: each source row's weighted sums go once to every target
  // row that reads them (the faster sweep). False folds the rows anew for each target instead;
  // it is kept for the kernels the spread sweep does not take, and for comparing the two.
  bool SpreadRows = true;
};

// True when FastKernelPass computes this pass exactly as the reference does: at least one
// kernel of at least one cell; a known merge rule (for several kernels); every weight but the
// centre cell's within 16 bits (for a sum of kernels, of their sum); no channel sum, merged
// value, square or total of squares, quotient plus bias that could leave the 32-bit range for
// any picture. ScaleFactor 0 is eligible (the pass raises the division error).
bool FastKernelEligible(const TKernelPass& pass);

// Computes the pass from src into dst, both width x height working-image blocks (4 bytes a
// pixel, rows bottom-up without padding), writing bytes 0..2 of every target pixel and never
// byte 3, exactly as the reference passes of TImageBaseFilter do.
// Returns false, touching nothing, when the pass is not eligible, the blocks overlap, or the
// chosen path is not supported. Nothing is computed when width or height is not positive.
// Raises EDivByZero before writing any pixel when ScaleFactor is 0 and there are pixels, and
// EOutOfMemory when its working memory cannot be had.
bool FastKernelPass(const TKernelPass& pass, uint8_t* dst, const uint8_t* src, int32_t width,
                    int32_t height, const TFastKernelOptions& options = {});

}  // namespace ombrix
