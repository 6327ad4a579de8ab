#pragma once
// Fast passes of the kernel-less filters (Mosaic, Minimum, Maximum, Max Min, Min Max, Median,
// Degrain Bright, Degrain Dark, Degrain), equal in every byte to their plain passes, the
// ApplyKernel overrides of the catalogue classes, which stay the reference. Their cost per pixel
// does not grow with the square of the box:
// - the extremes are minima and maxima of keys that pack a pixel's luminance above its place
//   in window order (rows from the top, each from the left), so that a separable running
//   extreme (van Herk / Gil-Werman) keeps the rule "lowest luminance, then the earliest
//   position"; the centre's own precedence on ties is applied afterwards;
// - the averages are running window sums;
// - the Median keeps a sliding luminance histogram (column histograms added and removed as the
//   window moves) that gives the median luminance and its rank among equals, then finds the
//   position of that rank in window order, counting the positions outside the picture as the
//   centre; a 3 x 3 window instead sorts each column of 16-bit keys that pack the luminance
//   above the window index once for the three targets that read it, and takes the median of the
//   nine from the three sorted columns, sixteen pixels at a time;
// - the 3 x 3 Minimum and Maximum take, on whole pixels compared by their luminance byte alone,
//   the first extreme along each row, then over three rows and the centre, without the keys
//   and places of the larger boxes;
// - the Minimum and Maximum of boxes up to 16 keep 16-bit keys throughout, the luminance above
//   the position's row and column within the window in 4 bits each;
// - the Degrain arms are one-dimensional running extremes of the same keys.
// Called from one thread at a time; the work runs on the shared pool and has finished when the
// call returns.

#include <cstdint>
#include <optional>

#include "FastKernel.h"

namespace ombrix {

enum TRankKind : uint8_t {
  rkMosaic,
  rkMinimum,
  rkMaximum,
  rkMaxMin,
  rkMinMax,
  rkMedian,
  rkDegrainBright,
  rkDegrainDark,
  rkDegrain
};

// One kernel-less pass: the filter, its SamplingBox and (Max Min, Min Max) its Hysteresis.
struct TRankPass {
  TRankKind Kind = rkMinimum;
  int32_t Box = 3;
  uint8_t Hysteresis = 3;
};

struct TFastRankOptions {
  // Threads to split the rows over; 0 or less: every thread of the shared pool.
  int Threads = 0;
  // The path to use; empty: BestKernelIsa(). A path that is not supported is never run.
  std::optional<TKernelIsa> Isa;
  // At most this many target rows per strip of restarting places (see FastRankPass); 0 or
  // less: as many as the keys hold. Tests set a few to cross strip seams in small pictures.
  int32_t StripRows = 0;
  // A Median of a box above 3 goes down its bands in strips of at most this many target
  // columns; 0 or less: strips whose column histograms stay in the second-level cache. Tests
  // set a few to cross strip seams in small pictures.
  int32_t StripColumns = 0;
};

// Computes the pass from src into dst, both width x height working-image blocks (4 bytes a
// pixel, rows bottom-up without padding), exactly as the plain pass of the filter does: every
// pixel it writes gets the same four bytes, a byte it leaves alone stays, and, for every kind
// but Mosaic, byte 3 of each source pixel becomes its luminance first.
// The keys of the extremes pack a position in 24 bits, the row in the high bits and the column
// in as many low bits as the width needs; a taller picture runs in strips of target rows whose
// positions restart, each with the window's rows above and below it, so the cost stays that
// of its pixels. Returns false, touching nothing, when the box is below 1, the blocks overlap,
// the chosen path is not supported, or (every kind but Median and Mosaic) the picture is
// taller than one strip's keys hold and not even one target row with its window's Box - 1
// other rows fits them (from a width of 2^23; at a width of 4096, from a box of 4096), or a
// Median of a box above 3 is wider than 2^20 (its column histograms would take gigabytes).
// Nothing is computed when width or height is not positive. Raises EOutOfMemory when its
// working memory cannot be had.
// True for the kinds whose pass sets ScaleFactor to the window's area (Mosaic, Max Min,
// Min Max), which FastRankPass leaves to its caller.
bool RankScalesByArea(TRankKind kind);
// That ScaleFactor: Box x Box, or the largest 32-bit value for a box whose area does not fit.
int32_t AreaScaleFactor(int32_t box);

bool FastRankPass(const TRankPass& pass, uint8_t* dst, uint8_t* src, int32_t width, int32_t height,
                  const TFastRankOptions& options = {});

}  // namespace ombrix
