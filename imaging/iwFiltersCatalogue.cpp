#include "iwFiltersCatalogue.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "Errors.h"
#include "iwRGB32.h"

namespace ombrix {

// ---------------------------------------------------------------------------------------------
// Fixed kernels

void LoadFixedKernel(TImageBaseFilter& filter, const TFixedKernel& definition) {
  filter.SetBias(definition.Bias);
  filter.SetScaleFactor(definition.ScaleFactor);
  if (definition.Count > 1) filter.SetKernelMergeOp(definition.MergeOp);
  filter.SetKernelDimensions(definition.Count, definition.Width, definition.Height);
  filter.LoadKernel(definition.Values);
}

TEmbossFilter::TEmbossFilter(TImageWork* owner) : TImageBaseFilter(owner) {
  LoadFixedKernel(*this, kernels::Emboss);
}

void TEmbossFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  TImageBaseFilter::ApplyKernel(dst, src, width, height);
  MakeGrey(dst, width, height);
}

// ---------------------------------------------------------------------------------------------
// Kernel-less passes

namespace {

// One working-image block: width x height pixels of 4 bytes, stored rows bottom-up.
struct TBlock {
  uint8_t* bits;
  int32_t width;
  int32_t height;

  bool Contains(int32_t x, int32_t m) const { return x >= 0 && x < width && m >= 0 && m < height; }
  uint8_t* At(int32_t x, int32_t m) const {
    return bits + (static_cast<std::size_t>(m) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)) *
                      4;
  }
};

// The window around a pixel in stored rows: `above` rows above it are higher stored rows.
struct TWindow {
  int32_t left;
  int32_t right;
  int32_t above;
  int32_t below;

  int64_t Area() const { return int64_t{left + right + 1} * (above + below + 1); }
};

// The filter's square window; false when it has none (a box of 0, or one that is not square).
bool WindowOf(const TImageBaseFilter& filter, TWindow& window) {
  if (filter.GetSquareSize() == 0) return false;
  window = {-filter.XMin(), filter.XMax(), filter.YMax(), -filter.YMin()};
  return true;
}

// Calls visit(pixel) for each in-range position of the window around (x, m), in window order:
// rows from the top (the highest stored row) down, each from the left.
template <class Visit>
void ForEachInWindow(const TBlock& block, const TWindow& window, int32_t x, int32_t m,
                     Visit&& visit) {
  const int32_t top = std::min(m + window.above, block.height - 1);
  const int32_t bottom = std::max(m - window.below, 0);
  const int32_t first = std::max(x - window.left, 0);
  const int32_t last = std::min(x + window.right, block.width - 1);
  for (int32_t row = top; row >= bottom; --row) {
    for (int32_t column = first; column <= last; ++column) visit(block.At(column, row));
  }
}

uint8_t Lum(const uint8_t* pixel) {
  return pixel[3];
}

void CopyPixel(uint8_t* dst, const uint8_t* pixel) {
  std::memcpy(dst, pixel, 4);
}

// The channel sums of a window whose positions outside the picture count as `stand`.
struct TWindowSums {
  int64_t blue = 0;
  int64_t green = 0;
  int64_t red = 0;
  int64_t inside = 0;

  void Add(const uint8_t* pixel) {
    blue += pixel[0];
    green += pixel[1];
    red += pixel[2];
    ++inside;
  }
  void AddMissing(const uint8_t* stand, int64_t area) {
    const int64_t missing = area - inside;
    blue += missing * stand[0];
    green += missing * stand[1];
    red += missing * stand[2];
  }
};

// Stores the average: each colour byte the truncated quotient (an average of bytes, so never
// out of range); byte 3 not written. The sums are 64-bit so that no box size overflows them.
void StoreAverage(uint8_t* dst, const TWindowSums& sums, int64_t divisor) {
  const auto channel = [divisor](int64_t sum) {
    return ClampByte(static_cast<int32_t>(sum / divisor));
  };
  dst[2] = channel(sums.red);
  dst[1] = channel(sums.green);
  dst[0] = channel(sums.blue);
}

// ScaleFactor of a window pass: the area, or the largest 32-bit value for a box so large that
// its area does not fit (the pass divides by the true area either way).
int32_t AreaScale(int64_t area) {
  return static_cast<int32_t>(std::min<int64_t>(area, std::numeric_limits<int32_t>::max()));
}

// The pass that copies, for every pixel, the centre or its window's extreme by luminance:
// `better(a, b)` tells when a sample of luminance a replaces a candidate of luminance b. Strict
// comparisons leave ties to the centre, then to the first sample in window order.
template <class Better>
auto ExtremePass(Better better) {
  return [better](const TBlock& dst, const TBlock& src, const TWindow& window) {
    for (int32_t m = 0; m < src.height; ++m) {
      for (int32_t x = 0; x < src.width; ++x) {
        const uint8_t* candidate = src.At(x, m);
        ForEachInWindow(src, window, x, m, [&](const uint8_t* sample) {
          if (better(Lum(sample), Lum(candidate))) candidate = sample;
        });
        CopyPixel(dst.At(x, m), candidate);
      }
    }
  };
}

// The minimum and maximum of one arm of the cross; both start as the centre.
struct TArm {
  const uint8_t* darkest;
  const uint8_t* brightest;
};

// Scans `count` positions (x + d * dx, m + d * dm) for d = first, first + step, ..., ignoring
// those outside the picture.
TArm ScanArm(const TBlock& src, int32_t x, int32_t m, int32_t dx, int32_t dm, int32_t first,
             int32_t count, int32_t step) {
  const uint8_t* centre = src.At(x, m);
  TArm arm{centre, centre};
  for (int32_t i = 0, d = first; i < count; ++i, d += step) {
    const int32_t sx = x + d * dx;
    const int32_t sm = m + d * dm;
    if (!src.Contains(sx, sm)) continue;
    const uint8_t* sample = src.At(sx, sm);
    if (Lum(sample) < Lum(arm.darkest)) arm.darkest = sample;
    if (Lum(sample) > Lum(arm.brightest)) arm.brightest = sample;
  }
  return arm;
}

// The four arms, each scanned in its own order: up from the farthest to the nearest, down from
// the nearest, left from the farthest, right from the nearest. Up is towards higher stored rows.
struct TCross {
  TArm up;
  TArm down;
  TArm left;
  TArm right;
};

TCross ScanCross(const TBlock& src, const TWindow& window, int32_t x, int32_t m) {
  return {ScanArm(src, x, m, 0, 1, window.above, window.above, -1),
          ScanArm(src, x, m, 0, -1, 1, window.below, 1),
          ScanArm(src, x, m, -1, 0, window.left, window.left, -1),
          ScanArm(src, x, m, 1, 0, 1, window.right, 1)};
}

// The brightest of the four arm minima; the right arm wins ties, the others need to be
// strictly brighter.
const uint8_t* DegrainBright(const TCross& cross, const uint8_t* /*centre*/) {
  const uint8_t* result = cross.up.darkest;
  if (Lum(cross.down.darkest) > Lum(result)) result = cross.down.darkest;
  if (Lum(cross.left.darkest) > Lum(result)) result = cross.left.darkest;
  if (Lum(cross.right.darkest) >= Lum(result)) result = cross.right.darkest;
  return result;
}

// The darkest of the four arm maxima, with the mirrored tie rule.
const uint8_t* DegrainDark(const TCross& cross, const uint8_t* /*centre*/) {
  const uint8_t* result = cross.up.brightest;
  if (Lum(cross.down.brightest) < Lum(result)) result = cross.down.brightest;
  if (Lum(cross.left.brightest) < Lum(result)) result = cross.left.brightest;
  if (Lum(cross.right.brightest) <= Lum(result)) result = cross.right.brightest;
  return result;
}

// Degrain Dark's choice when it is another position than the centre (then a brighter arm
// maximum was found), otherwise Degrain Bright's.
const uint8_t* DegrainBoth(const TCross& cross, const uint8_t* centre) {
  const uint8_t* dark = DegrainDark(cross, centre);
  return dark != centre ? dark : DegrainBright(cross, centre);
}

// The pass that copies, for every pixel, the pixel that choose(cross, centre) returns.
auto DegrainPass(const uint8_t* (*choose)(const TCross&, const uint8_t*)) {
  return [choose](const TBlock& dst, const TBlock& src, const TWindow& window) {
    for (int32_t m = 0; m < src.height; ++m) {
      for (int32_t x = 0; x < src.width; ++x) {
        CopyPixel(dst.At(x, m), choose(ScanCross(src, window, x, m), src.At(x, m)));
      }
    }
  };
}

// One Mosaic tile: the average of the anchor (x, m)'s window, stored at the anchor and copied
// with all four bytes over the window's positions. Positions outside count as the anchor when
// it lies inside the picture. Anchors past the top or right edge stand for the bands that the
// anchors inside do not reach: their tiles average only the pixels inside, and the anchor moved
// into the picture is the pixel written first.
void MosaicTile(const TBlock& dst, const TBlock& src, const TWindow& window, int32_t x, int32_t m) {
  TWindowSums sums;
  ForEachInWindow(src, window, x, m, [&](const uint8_t* pixel) { sums.Add(pixel); });
  int64_t divisor = sums.inside;
  if (src.Contains(x, m)) {
    divisor = window.Area();
    sums.AddMissing(src.At(x, m), divisor);
  }
  uint8_t* tile = dst.At(std::min(x, src.width - 1), std::min(m, src.height - 1));
  StoreAverage(tile, sums, divisor);
  ForEachInWindow(dst, window, x, m, [&](uint8_t* pixel) {
    if (pixel != tile) CopyPixel(pixel, tile);
  });
}

// One pixel of Max Min (nearer) or Min Max (farther): the chosen extreme when the window's
// luminance spread exceeds hysteresis, otherwise the average with positions outside counting
// as the centre.
void BoundaryPixel(uint8_t* target, const TBlock& src, const TWindow& window, int32_t x, int32_t m,
                   int32_t hysteresis, bool nearer) {
  const uint8_t* centre = src.At(x, m);
  const uint8_t* dark = centre;
  const uint8_t* bright = centre;
  TWindowSums sums;
  ForEachInWindow(src, window, x, m, [&](const uint8_t* sample) {
    sums.Add(sample);
    if (Lum(sample) < Lum(dark)) dark = sample;
    if (Lum(sample) > Lum(bright)) bright = sample;
  });
  if (Lum(bright) - Lum(dark) > hysteresis) {
    const int32_t toDark = Lum(centre) - Lum(dark);
    const int32_t toBright = Lum(bright) - Lum(centre);
    // Equal distances take the bright extreme either way.
    const bool takeDark = nearer ? toDark < toBright : toDark > toBright;
    CopyPixel(target, takeDark ? dark : bright);
  } else {
    sums.AddMissing(centre, window.Area());
    StoreAverage(target, sums, window.Area());
  }
}

// The Median pass. Every window position, in window order, those outside standing for the
// centre, goes into a list ordered by decreasing luminance before the first entry strictly
// darker than itself, so equal ones keep their arrival order; the entry at area div 2 is copied.
void MedianPass(const TBlock& dst, const TBlock& src, const TWindow& window) {
  const int64_t area = window.Area();
  std::vector<const uint8_t*> list;  // one for the whole pass
  try {
    list.reserve(static_cast<std::size_t>(area));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
  const auto strictlyDarker = [](const uint8_t* sample, const uint8_t* entry) {
    return Lum(entry) < Lum(sample);
  };
  const std::size_t middle = static_cast<std::size_t>(area / 2);
  for (int32_t m = 0; m < src.height; ++m) {
    for (int32_t x = 0; x < src.width; ++x) {
      const uint8_t* centre = src.At(x, m);
      list.clear();
      for (int32_t row = m + window.above; row >= m - window.below; --row) {
        for (int32_t column = x - window.left; column <= x + window.right; ++column) {
          const uint8_t* sample = src.Contains(column, row) ? src.At(column, row) : centre;
          list.insert(std::upper_bound(list.begin(), list.end(), sample, strictlyDarker), sample);
        }
      }
      CopyPixel(dst.At(x, m), list[middle]);
    }
  }
}

// Runs pass(dst block, src block, window) when there are pixels and the filter has a window,
// after writing the source's luminance into byte 3 when the pass reads it.
enum class TLuminance { Ignore, Store };

template <class Pass>
void RunWindowPass(const TImageBaseFilter& filter, uint8_t* dst, uint8_t* src, int32_t width,
                   int32_t height, TLuminance luminance, Pass&& pass) {
  TWindow window{};
  if (dst == nullptr || src == nullptr || width <= 0 || height <= 0) return;
  if (!WindowOf(filter, window)) return;
  if (luminance == TLuminance::Store) StoreLuminance(src, width, height);
  pass(TBlock{dst, width, height}, TBlock{src, width, height}, window);
}

}  // namespace

std::optional<TRankPass> TMosaicFilter::RankPass() const {
  return TRankPass{rkMosaic, GetSquareSize(), 0};
}

void TMosaicFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Ignore,
                [this](const TBlock& out, const TBlock& in, const TWindow& window) {
                  StoreScaleFactor(AreaScale(window.Area()));
                  const int32_t side = KernelWidth();
                  // Anchors continue past the top and right edges while their tiles reach in.
                  for (int32_t m = 0; m - window.below < in.height; m += side) {
                    for (int32_t x = 0; x - window.left < in.width; x += side) {
                      MosaicTile(out, in, window, x, m);
                    }
                  }
                });
}

std::optional<TRankPass> TMinimumFilter::RankPass() const {
  return TRankPass{rkMinimum, GetSquareSize(), 0};
}

void TMinimumFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store,
                ExtremePass([](uint8_t l, uint8_t best) { return l < best; }));
}

std::optional<TRankPass> TMaximumFilter::RankPass() const {
  return TRankPass{rkMaximum, GetSquareSize(), 0};
}

void TMaximumFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store,
                ExtremePass([](uint8_t l, uint8_t best) { return l > best; }));
}

TBoundaryBaseFilter::TBoundaryBaseFilter(TImageWork* owner) : TWithoutKernelBaseFilter(owner) {
  SetHysteresis(3);
}

void TBoundaryBaseFilter::SetHysteresis(uint8_t value) {
  ChangeSetting(hysteresis_, value);
}

void TBoundaryBaseFilter::Assign(const TPersistent* source) {
  WithUpdate([&] {
    if (const auto* boundary = dynamic_cast<const TBoundaryBaseFilter*>(source)) {
      SetHysteresis(boundary->Hysteresis());
    }
    TWithoutKernelBaseFilter::Assign(source);
  });
}

void TBoundaryBaseFilter::BoundaryPass(uint8_t* dst, uint8_t* src, int32_t width, int32_t height,
                                       TSnap snap) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store,
                [this, snap](const TBlock& out, const TBlock& in, const TWindow& window) {
                  StoreScaleFactor(AreaScale(window.Area()));
                  for (int32_t m = 0; m < in.height; ++m) {
                    for (int32_t x = 0; x < in.width; ++x) {
                      BoundaryPixel(out.At(x, m), in, window, x, m, hysteresis_,
                                    snap == TSnap::Nearer);
                    }
                  }
                });
}

std::optional<TRankPass> TMaxMinFilter::RankPass() const {
  return TRankPass{rkMaxMin, GetSquareSize(), Hysteresis()};
}

void TMaxMinFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  BoundaryPass(dst, src, width, height, TSnap::Nearer);
}

std::optional<TRankPass> TMinMaxFilter::RankPass() const {
  return TRankPass{rkMinMax, GetSquareSize(), Hysteresis()};
}

void TMinMaxFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  BoundaryPass(dst, src, width, height, TSnap::Farther);
}

std::optional<TRankPass> TMedianFilter::RankPass() const {
  return TRankPass{rkMedian, GetSquareSize(), 0};
}

void TMedianFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store, MedianPass);
}

std::optional<TRankPass> TDegrainBrightFilter::RankPass() const {
  return TRankPass{rkDegrainBright, GetSquareSize(), 0};
}

void TDegrainBrightFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store, DegrainPass(DegrainBright));
}

std::optional<TRankPass> TDegrainDarkFilter::RankPass() const {
  return TRankPass{rkDegrainDark, GetSquareSize(), 0};
}

void TDegrainDarkFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store, DegrainPass(DegrainDark));
}

std::optional<TRankPass> TDegrainFilter::RankPass() const {
  return TRankPass{rkDegrain, GetSquareSize(), 0};
}

void TDegrainFilter::ApplyKernel(uint8_t* dst, uint8_t* src, int32_t width, int32_t height) {
  RunWindowPass(*this, dst, src, width, height, TLuminance::Store, DegrainPass(DegrainBoth));
}

}  // namespace ombrix
