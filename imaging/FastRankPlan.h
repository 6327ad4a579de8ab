#pragma once
// Private to the fast kernel-less passes: what the dispatcher (FastRank.cpp) hands to the
// instruction-set paths (FastRank<Isa>.cpp). Plain data only, for the reason FastKernelPlan.h
// gives: the paths are compiled for different processors.
//
// Keys. A position at column x and stored row m has the place p = ((PlaceTop - m) << WidthBits)
// | x, which grows in window order (rows from the top, each from the left). The key of a
// minimum is L << 24 | p, that of a maximum L << 24 | (kPlaceMask - p), so that the least
// (greatest) key is the darkest (brightest) position and, among equals, the earliest. Places
// are counted from PlaceTop, the top row of the strip of rows one run of PrepareRows and
// FinishRows reads; the dispatcher cuts the picture into strips so that every place of a strip
// stays below kPlaceMask, so no key equals the empty minimum 0xFFFFFFFF or the empty maximum 0.

#include <cstdint>

#include "FastRank.h"

namespace ombrix {

constexpr uint32_t kPlaceMask = 0xFFFFFFu;

// Target rows of a Median (boxes 4 to 255) that share one slide of the window histogram.
constexpr int32_t kMedianRowsPerPass = 3;

struct TRankPlan {
  TRankKind Kind = rkMinimum;
  uint32_t* Source = nullptr;  // byte 3 receives the luminance (all kinds but Mosaic)
  uint32_t* Dest = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t WidthBits = 0;
  // The stored row whose places start at 0 (see Keys above); rows above it have no place.
  int32_t PlaceTop = 0;
  // The window of a pixel: Left columns to its left, Right to its right, Above stored rows
  // above (higher stored rows), Below below; Box = Left + Right + 1 = Above + Below + 1.
  int32_t Box = 0;
  int32_t Left = 0;
  int32_t Right = 0;
  int32_t Above = 0;
  int32_t Below = 0;
  int32_t Hysteresis = 0;
  // Median (boxes above 3): target columns per strip that one run of its column histograms
  // covers (see MedianRows).
  int32_t StripColumns = 0;
  // 1 / (Box x Box) rounded up to float (Max Min and Min Max).
  float AreaReciprocal = 1.0f;
  // Width x Height planes, filled row by row by PrepareRows and read by FinishRows:
  //   Luminance: every kind but Mosaic, Minimum and Maximum (which read byte 3 of the source
  //     and make their keys band by band; at box 3 they make byte 3 as they go) and the 3 x 3
  //     Median (which makes its keys and byte 3 as it goes);
  //   Planes[0], [1]: Max Min and Min Max: the row minimum and maximum; Degrain family: the
  //     minimum and maximum keys themselves.
  uint8_t* Luminance = nullptr;
  uint32_t* Planes[2] = {};
  // Elements of uint32_t scratch that one call of PrepareRows or FinishRows needs, and the
  // number of bands FinishRows is split into.
  int64_t ScratchInts = 0;
};

struct TRankIsaImpl {
  // Stored rows first .. end - 1: luminance and the row-wise planes.
  void (*PrepareRows)(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch);
  // Target rows first .. end - 1 from the planes.
  void (*FinishRows)(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch);
  // Mosaic: the tiles whose anchors lie in stored rows first x Box .. end x Box - 1.
  void (*MosaicTileRows)(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch);
};

extern const TRankIsaImpl kRankPlain;
#if defined(OMBRIX_FAST_KERNEL_X86)
extern const TRankIsaImpl kRankAvx2;
extern const TRankIsaImpl kRankAvx512;
#endif

}  // namespace ombrix
