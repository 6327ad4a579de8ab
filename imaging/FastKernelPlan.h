#pragma once
// Private to the fast kernel passes: what the dispatcher (FastKernel.cpp) hands to the
// instruction-set paths (FastKernel<Isa>.cpp). Plain data only: no inline code may live here,
// because the paths are compiled with different instruction sets and the linker keeps one copy
// of any inline function, possibly one the running processor cannot execute.
//
// The arithmetic. A target channel is
//   sum = (sum over the cells whose sample lies inside the picture of weight x sample)
//         + C(x, m) x centre sample,
// where C is the sum of the weights of the cells whose samples fall outside the picture: the
// engine's edge rule puts the centre sample in their place. Samples outside the picture thus
// count as 0 in the first part, which lets every source row be prepared once, zero-padded, and
// read by every target row that needs it. A centre weight beyond twice the 16-bit range moves
// from the first part into C. Every sum here stays in 32 bits (the dispatcher proved it), so any
// order of exact integer additions gives the reference's result.

// Prepared rows. Each source row of a strip becomes, per channel (blue, green, red), Pairs
// planes of 32-bit lanes, one lane per pixel; a lane holds two 16-bit samples (low half, high
// half) that one 16-bit multiply-add pairs with two weights. With q(x) the channel of pixel x
// (0 outside the picture):
//   folded (HFolded, a kernel mirror-symmetric left to right, odd width): plane k holds
//     (h(2k), h(2k + 1)) with h(0) = q(x), h(d) = q(x - d) + q(x + d); written out per row;
//   direct: plane k holds (q(x + XMin + 2k), q(x + XMin + 2k + 1)); not written out, since
//     one line of adjacent pairs (q(e), q(e + 1)) read at offset XMin + 2k is every plane.
// Plane k of channel ch for the lanes from `lane` on starts at record element
//   ch x ChannelStride + PlaneBase + k x PlaneStride + lane,
// and the centre sample q(x) is the low half at ch x ChannelStride + CentreBase + lane.
// Halves are at most 1020 even after adding two prepared rows, so adding the 32-bit lanes adds
// both halves without a carry between them. A high half beyond the kernel's last column holds
// samples too, weighed by 0.

#include <cstdint>

namespace ombrix {

// The largest kernel side the fast passes take.
constexpr int32_t kMaxFastKernelSide = 127;
// The largest half-height of the unrolled folded sweep: the live view's strongest sharpening
// (23 x 23 cells) has 11.
constexpr int32_t kMaxFoldedHalf = 12;
// The most pair planes per channel that the spread sweep holds in registers: the live view's
// strongest sharpening has 6.
constexpr int32_t kMaxSpreadPairs = 6;
// The rows above and below a target of the live view's strongest sharpening (23 x 23 cells).
constexpr int32_t kStrongestSpreadHalf = 11;
// The most target rows of a chunk (steps computed lane vector by lane vector).
constexpr int32_t kMaxChunkRows = 64;
// The most kernels merged by magnitudes, differences or squares (a sum of kernels is one).
constexpr int32_t kMaxMergedKernels = 16;

// How a sum s becomes the quotient trunc(s / S) of the scale factor S, exactly.
//   kdOne:    S = 1.
//   kdShift:  S = 2^Shift: an arithmetic shift, with 2^Shift - 1 added to negative sums so that
//             it truncates toward zero.
//   kdFloat:  trunc(float(s) x RecipF) with RecipF = 1 / S rounded away from zero to float,
//             when 3|s| + |S| < 2^24. Then s x RecipF lies at or just beyond s / S, by less
//             than the gap of 1 / |S| between a quotient that is not whole and the next whole
//             number, and its rounding can neither fall below s / S's whole part (a float) nor
//             reach the next whole number.
//   kdDouble: the same with doubles, RecipD; the condition 3|s| + |S| < 2^53 always holds.
//   kdClampedFloat: kdFloat's way after clamping s to SumLow .. SumHigh, the sums whose
//             quotients plus Bias are 0 and 255 (in either order). The quotient never moves
//             against its sum, so a sum beyond them gives a value beyond 0 .. 255 on the same
//             side, where the final clamp to 0..255 gives the same byte; within them
//             3|s| + |S| < 2^24. It serves where the sums themselves are too large for floats.
enum TKernelDivision : uint8_t { kdOne, kdShift, kdFloat, kdDouble, kdClampedFloat };

struct TKernelPlan {
  // The picture: Width x Height pixels, stored row m (0 = the picture's bottom row) starting at
  // pixel m x Width. Dest is written in bytes 0..2 only.
  const uint32_t* Source = nullptr;
  uint32_t* Dest = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;

  // Prepared rows (see above).
  bool HFolded = false;
  int32_t XMin = 0;
  int32_t XMax = 0;
  int32_t Pairs = 0;
  int32_t ChannelStride = 0;
  int32_t PlaneStride = 0;
  int32_t PlaneBase = 0;
  int32_t CentreBase = 0;

  // Kernel rows as offsets t of stored rows: the target in stored row m reads stored rows
  // m + TMin .. m + TMax.
  int32_t TMin = 0;
  int32_t TMax = 0;
  // VFolded: one kernel, mirror-symmetric top to bottom, odd height, TMax <= the path's
  // MaxFoldedHalf; Weights holds Pairs x (TMax + 1) packed weight pairs, plane by plane, for
  // |t| = 0 .. TMax (a plane's pairs lie together, at fixed offsets from one address).
  // Spread (below) instead lays them out |t| by |t|: Pairs pairs for each |t| = 0 .. TMax.
  // Otherwise Weights holds Kernels x (TMax - TMin + 1) x Pairs pairs for t = TMin .. TMax.
  // A pair packs the weights of a plane's low and high halves.
  bool VFolded = false;
  // Spread (VFolded, Pairs <= kMaxSpreadPairs): the rows are swept one at a time instead of in
  // chunks of steps. Each prepared row s gives, per lane, the weighted row sums
  //   H_t(s) = sum over planes k of the pairs of plane k times the weights of |t|, t = -N .. N,
  // and H_t(s) is added at once to the running sum of target row s - t; target row m is
  // complete, and is written, once row m + N is spread. The running sums lie in 3 x
  // StripWidth / lanes columns, one per channel and lane vector (channel ch, lanes from x on
  // in column ch x StripWidth / lanes + x / lanes), each of SumRows slots of one lane vector:
  // the rows m - N .. m + N in 2N + 1 slots in a row. Each source row moves the sweep one slot
  // on; at a column's end the open sums move back to its start.
  bool Spread = false;
  int32_t Kernels = 1;
  const int32_t* Weights = nullptr;

  // CentreInSums: every kernel's centre weight is in the sums, so C reduces to the weights of
  // the cells outside the picture, and only targets near the picture's edges need it. A centre
  // weight fits 16 bits, or two: then Weights holds the part that fits (-32768 or 32767) and
  // CentreExtra[k] packs the rest with 0 (kernel k), for one more multiply-add with the
  // centre's lanes (q(x) in the low half); CentreExtra is null when no centre needs it.
  // Otherwise the centre cell's weight in Weights is 0 and C adds it for every target.
  // C for kernel k, stored row m, pixel x: CentreRows[k x Height + m][x]; each row is readable
  // up to a whole vector beyond Width.
  // CentreHalved (Spread and HFolded only; CentreExtra is then null): the centre weight is
  // even and beyond 16 bits, so the first pair of distance 0 holds half of it, which fits, and
  // H_0 reads plane 0 with its low half doubled, 2 q(x) <= 510. The other distances, whose
  // weights for that half need not be even, read the plane with q(x) put back. This spares the
  // split's second multiply-add.
  bool CentreInSums = false;
  bool CentreHalved = false;
  const int32_t* CentreExtra = nullptr;
  const int32_t* const* CentreRows = nullptr;

  // Several kernels: the engine's merge rule (0 sum, 1 magnitudes, 2 differences, 3 root of
  // squares). Then quotient, + Bias, clamped to 0..255.
  int32_t MergeOp = 0;
  TKernelDivision Division = kdOne;
  int32_t Shift = 0;
  float RecipF = 1.0f;
  double RecipD = 1.0;
  int32_t SumLow = 0;
  int32_t SumHigh = 0;
  int32_t Bias = 0;

  // A band sweeps the picture in strips of StripWidth pixels (a multiple of the path's lanes),
  // keeping the prepared rows of the strip in a ring. Sizes and offsets count int32 elements
  // of the band's scratch block, whose start is aligned to 64 bytes.
  int32_t StripWidth = 0;
  int32_t LinePad = 0;     // pixels left and right of a strip's line, a multiple of lanes
  int32_t LineInts = 0;    // StripWidth + 2 x LinePad
  int32_t ChunkSteps = 1;  // steps of a chunk, at most kMaxChunkRows target rows
  int32_t RingRows = 0;    // prepared rows kept: kernel height + ChunkSteps x Rows - 1;
                           // spread: 1
  int64_t RecordInts = 0;  // one prepared row of a strip
  int64_t RingOffset = 0;
  int64_t ZeroOffset = 0;   // a record of zeros for rows outside the picture
  int64_t LineOffset = 0;   // the strip's pixels of one row, LineInts + 2 vectors
  int64_t PairsOffset = 0;  // folded rows: the lines (q(e), q(e + 1)) and (q(e), q(e - 1))
  int64_t OutOffset = 0;    // channel values of one step, 3 x rows x lanes
  int32_t SumRows = 0;      // spread: the slots of a column of running sums, at least 3N
  int64_t SumsOffset = 0;   // spread: SumRows x 3 x StripWidth
  int64_t ScratchInts = 0;  // the whole block of one band
};

// Sets plan.Division and its figures for the scale factor `scale` (not 0), plan.Bias and
// merged values of magnitude at most `bound` (below 2^31).
void ChooseKernelDivision(TKernelPlan& plan, int64_t bound, int64_t scale);

// One instruction-set path.
struct TKernelIsaImpl {
  int32_t Lanes = 0;          // pixels per vector
  int32_t Rows = 0;           // target rows computed together
  int32_t MaxFoldedHalf = 0;  // largest TMax the folded sweep handles
  // Computes the target rows firstRow .. endRow - 1 (stored rows) of the strips that start at
  // pixels firstColumn, firstColumn + StripWidth, .. below endColumn into plan.Dest, using
  // scratch (plan.ScratchInts elements, 64-byte aligned) as its own. Runs on a pool thread;
  // bands never share targets or scratch.
  void (*RunBand)(const TKernelPlan& plan, int32_t firstRow, int32_t endRow, int32_t firstColumn,
                  int32_t endColumn, int32_t* scratch) = nullptr;
};

extern const TKernelIsaImpl kKernelPlain;
#if defined(OMBRIX_FAST_KERNEL_X86)
extern const TKernelIsaImpl kKernelAvx2;
extern const TKernelIsaImpl kKernelAvx512;
extern const TKernelIsaImpl kKernelAvx512Vnni;
#endif

}  // namespace ombrix
