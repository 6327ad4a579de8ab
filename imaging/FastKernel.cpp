#include "FastKernel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "Errors.h"
#include "FastKernelPlan.h"
#include "ThreadPool.h"

namespace ombrix {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
// The weights a 16-bit multiply-add takes.
constexpr int64_t kMinWeight = -32768;
constexpr int64_t kMaxWeight = 32767;
// The float reciprocal is exact when three times the sum plus the divisor stays below this.
constexpr int64_t kFloatExact = int64_t{1} << 24;
// A strip's ring of prepared rows is sized to stay in the second-level cache; a chunk holds
// about this many target rows.
constexpr int64_t kRingBudgetInts = 48 * 1024;
constexpr int32_t kChunkRows = 32;
// The spread sweep's running sums are sized to stay in the first-level cache beside the lines
// of the row being spread (wider strips save preparation but spill the sums).
constexpr int64_t kSpreadSumsInts = 4 * 1024;
// Slots of the spread sweep's sum columns beyond a kernel's height: the open sums move back to
// a column's start once every this many rows.
constexpr int32_t kSpreadSlack = 16;
// The narrowest mirror-symmetric kernel whose rows are folded left to right.
constexpr int32_t kMinFoldedWidth = 7;
// Bands: at least this many rows, and this many per kernel row beyond the first (each band
// prepares those rows again); at most this many bands per thread.
constexpr int32_t kMinBandRows = 16;
constexpr int32_t kBandRowsPerKernelRow = 24;
constexpr int kBandsPerThread = 4;

const TKernelIsaImpl* ImplOf(TKernelIsa isa) {
  switch (isa) {
    case kiPlain:
      return &kKernelPlain;
#if defined(OMBRIX_FAST_KERNEL_X86)
    case kiAvx2:
      return &kKernelAvx2;
    case kiAvx512:
      return &kKernelAvx512;
    case kiAvx512Vnni:
      return &kKernelAvx512Vnni;
#endif
    default:
      return nullptr;
  }
}

bool ProcessorHas(TKernelIsa isa) {
#if defined(OMBRIX_FAST_KERNEL_X86)
  __builtin_cpu_init();
  switch (isa) {
    case kiPlain:
      return true;
    case kiAvx2:
      return __builtin_cpu_supports("avx2");
    case kiAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    case kiAvx512Vnni:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vnni");
  }
  return false;
#else
  return isa == kiPlain;
#endif
}

// The pass as this file works with it: effective kernels in 64-bit weights, rows top to bottom,
// columns left to right; several kernels under opSUM become their sum, one kernel.
struct TAnalysis {
  int32_t kw = 0;
  int32_t kh = 0;
  int32_t xMin = 0;
  int32_t yMin = 0;
  int32_t yMax = 0;
  std::vector<std::vector<int64_t>> kernels;
  int32_t mergeOp = 0;
  int64_t bound = 0;  // no merged value of any picture exceeds it in magnitude
  bool hSymmetric = false;
  bool vSymmetric = false;

  int64_t At(std::size_t e, int32_t r, int32_t c) const {
    return kernels[e][static_cast<std::size_t>(r * kw + c)];
  }
};

int64_t Abs64(int64_t v) {
  return v < 0 ? -v : v;
}

// The whole part of the square root of 0 <= v < 2^62.
int64_t FloorSqrt(int64_t v) {
  int64_t r = static_cast<int64_t>(std::sqrt(static_cast<double>(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

bool Analyse(const TKernelPass& pass, TAnalysis& a) {
  if (pass.Values == nullptr || pass.Count < 1 || pass.Width < 1 || pass.Height < 1) return false;
  if (pass.Width > kMaxFastKernelSide || pass.Height > kMaxFastKernelSide) return false;
  const bool several = pass.Count > 1;
  if (several && (pass.MergeOp < 0 || pass.MergeOp > 3)) return false;
  const bool combine = !several || pass.MergeOp == 0;
  if (!combine && pass.Count > kMaxMergedKernels) return false;

  a.kw = pass.Width;
  a.kh = pass.Height;
  a.xMin = -(pass.Width / 2);
  a.yMin = -(pass.Height / 2);
  a.yMax = (pass.Height - 1) / 2;
  a.mergeOp = combine ? 0 : pass.MergeOp;
  const std::size_t cells = static_cast<std::size_t>(a.kw) * static_cast<std::size_t>(a.kh);
  const std::size_t count = static_cast<std::size_t>(pass.Count);
  a.kernels.assign(combine ? 1 : count, std::vector<int64_t>(cells, 0));
  for (std::size_t cell = 0; cell < cells; ++cell) {
    for (std::size_t k = 0; k < count; ++k) {
      a.kernels[combine ? 0 : k][cell] += pass.Values[cell * count + k];
    }
  }

  // Every sum must stay in 32 bits for any picture; then any order of exact integer additions
  // gives the reference's result. A sum of kernels is checked as the one kernel it adds up to:
  // the reference's sums of its parts may wrap around, but wrapping additions give the same
  // total.
  const int32_t centre = a.yMax * a.kw - a.xMin;
  int64_t sumOfBounds = 0;
  int64_t sumOfSquares = 0;
  for (const std::vector<int64_t>& kernel : a.kernels) {
    int64_t magnitude = 0;
    for (std::size_t cell = 0; cell < cells; ++cell) {
      const int64_t w = kernel[cell];
      if (static_cast<int32_t>(cell) != centre && (w < kMinWeight || w > kMaxWeight)) {
        return false;
      }
      magnitude += Abs64(w);
    }
    const int64_t bound = 255 * magnitude;
    if (bound > kInt32Max) return false;
    sumOfBounds += bound;
    sumOfSquares += bound * bound;
    if (sumOfBounds > kInt32Max) return false;
  }
  if (a.mergeOp == 3) {
    if (sumOfSquares > kInt32Max) return false;
    a.bound = FloorSqrt(sumOfSquares);
  } else {
    a.bound = sumOfBounds;
  }
  if (pass.ScaleFactor != 0 && a.bound / Abs64(pass.ScaleFactor) + Abs64(pass.Bias) > kInt32Max) {
    return false;
  }

  a.hSymmetric = a.kw % 2 == 1;
  a.vSymmetric = a.kh % 2 == 1;
  for (std::size_t e = 0; e < a.kernels.size(); ++e) {
    for (int32_t r = 0; r < a.kh; ++r) {
      for (int32_t c = 0; c < a.kw; ++c) {
        if (a.At(e, r, c) != a.At(e, r, a.kw - 1 - c)) a.hSymmetric = false;
        if (a.At(e, r, c) != a.At(e, a.kh - 1 - r, c)) a.vSymmetric = false;
      }
    }
  }
  return true;
}

int32_t PackPair(int64_t low, int64_t high) {
  const uint32_t bits = static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                        static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16;
  return static_cast<int32_t>(bits);
}

int32_t RoundUp(int32_t v, int32_t multiple) {
  return (v + multiple - 1) / multiple * multiple;
}

// Everything a pass needs besides the picture, owned here, pointed to by the plan.
struct TPassData {
  TKernelPlan plan;
  std::vector<int32_t> weights;
  std::vector<int32_t> centreExtra;
  std::vector<int32_t> centreValues;
  std::vector<const int32_t*> centreRows;
};

// C of every kernel for every target pixel: the weights of the cells that fall outside the
// picture, plus the centre weight unless the sums hold it. Rows whose kernel rows meet the
// picture alike share one row.
void BuildCentreRows(const TAnalysis& a, int32_t width, int32_t height, int32_t lanes,
                     bool centreInSums, TPassData& data) {
  const int32_t tMin = a.yMin;
  const int32_t tMax = a.yMax;
  const std::size_t rowInts = static_cast<std::size_t>(RoundUp(width, lanes) + lanes);
  // The distinct ranges of inside kernel-row offsets, in order of the stored rows.
  std::vector<std::pair<int32_t, int32_t>> ranges;
  std::vector<std::size_t> rangeOf(static_cast<std::size_t>(height));
  for (int32_t m = 0; m < height; ++m) {
    const std::pair<int32_t, int32_t> range{std::max(tMin, -m), std::min(tMax, height - 1 - m)};
    if (ranges.empty() || ranges.back() != range) {
      auto found = std::find(ranges.begin(), ranges.end(), range);
      if (found == ranges.end()) {
        ranges.push_back(range);
        found = ranges.end() - 1;
      }
      rangeOf[static_cast<std::size_t>(m)] = static_cast<std::size_t>(found - ranges.begin());
    } else {
      rangeOf[static_cast<std::size_t>(m)] = ranges.size() - 1;
    }
  }
  const std::size_t kernels = a.kernels.size();
  data.centreValues.assign(kernels * ranges.size() * rowInts, 0);
  data.centreRows.resize(kernels * static_cast<std::size_t>(height));
  std::vector<int64_t> prefix(static_cast<std::size_t>(a.kw) + 1);
  for (std::size_t e = 0; e < kernels; ++e) {
    int64_t total = 0;
    for (const int64_t w : a.kernels[e]) total += w;
    const int64_t centreWeight = centreInSums ? 0 : a.At(e, a.yMax, -a.xMin);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      // Kernel row r samples stored row offset t = yMax - r.
      for (int32_t c = 0; c < a.kw; ++c) {
        int64_t column = 0;
        for (int32_t t = ranges[i].first; t <= ranges[i].second; ++t) {
          column += a.At(e, a.yMax - t, c);
        }
        prefix[static_cast<std::size_t>(c) + 1] = prefix[static_cast<std::size_t>(c)] + column;
      }
      int32_t* row = data.centreValues.data() + (e * ranges.size() + i) * rowInts;
      for (int32_t x = 0; x < width; ++x) {
        const int32_t first = std::max(0, -x - a.xMin);
        const int32_t last = std::min(a.kw - 1, width - 1 - x - a.xMin);
        const int64_t inside = first <= last ? prefix[static_cast<std::size_t>(last) + 1] -
                                                   prefix[static_cast<std::size_t>(first)]
                                             : 0;
        row[x] = static_cast<int32_t>(centreWeight + total - inside);
      }
    }
    for (int32_t m = 0; m < height; ++m) {
      data.centreRows[e * static_cast<std::size_t>(height) + static_cast<std::size_t>(m)] =
          data.centreValues.data() +
          (e * ranges.size() + rangeOf[static_cast<std::size_t>(m)]) * rowInts;
    }
  }
}

// 1 / |scale| rounded up, with the scale's sign (see TKernelDivision).
float ReciprocalF(int64_t scale) {
  const double magnitude = static_cast<double>(Abs64(scale));
  float r = 1.0f / static_cast<float>(magnitude);
  // A float times a number below 2^25 is exact in double, so the comparison is exact.
  if (static_cast<double>(r) * magnitude < 1.0) r = std::nextafter(r, 2.0f);
  return scale < 0 ? -r : r;
}

double ReciprocalD(int64_t scale) {
  const double magnitude = static_cast<double>(Abs64(scale));
  double r = 1.0 / magnitude;
  if (std::fma(r, magnitude, -1.0) < 0.0) r = std::nextafter(r, 2.0);
  return scale < 0 ? -r : r;
}

void BuildPlan(const TAnalysis& a, const TKernelPass& pass, const TKernelIsaImpl& impl,
               int32_t width, int32_t height, int32_t stripWidth, bool spread, TPassData& data) {
  TKernelPlan& p = data.plan;
  const int32_t lanes = impl.Lanes;
  p.Width = width;
  p.Height = height;
  p.XMin = a.xMin;
  p.XMax = (a.kw - 1) / 2;
  p.TMin = a.yMin;
  p.TMax = a.yMax;
  p.Kernels = static_cast<int32_t>(a.kernels.size());
  p.MergeOp = a.mergeOp;
  // Folding left and right halves the multiply-adds but costs more preparation per row than
  // it saves on narrow kernels.
  p.HFolded = a.hSymmetric && a.kw >= kMinFoldedWidth;
  p.VFolded = a.vSymmetric && p.Kernels == 1 && a.yMax >= 1 && a.yMax <= impl.MaxFoldedHalf;
  const int32_t half = a.kw / 2;
  p.Pairs = p.HFolded ? (half + 2) / 2 : (a.kw + 1) / 2;
  p.Spread = spread && p.VFolded && p.Pairs <= kMaxSpreadPairs;
  const int32_t centreColumn = -a.xMin;
  // A centre weight beyond 16 bits but within two such weights stays in the sums: the part
  // that fits goes with the centre cell, the rest multiplies the centre sample once more. Only
  // larger ones go through C for every target.
  p.CentreInSums = true;
  bool split = false;
  for (std::size_t e = 0; e < a.kernels.size(); ++e) {
    const int64_t w = a.At(e, a.yMax, centreColumn);
    if (w < 2 * kMinWeight || w > 2 * kMaxWeight) p.CentreInSums = false;
    if (w < kMinWeight || w > kMaxWeight) split = true;
  }
  data.centreExtra.clear();
  const int64_t centreWeight = a.At(0, a.yMax, centreColumn);
  p.CentreHalved = p.Spread && p.HFolded && p.CentreInSums && split && centreWeight % 2 == 0;
  if (p.CentreInSums && split && !p.CentreHalved) {
    for (std::size_t e = 0; e < a.kernels.size(); ++e) {
      const int64_t w = a.At(e, a.yMax, centreColumn);
      data.centreExtra.push_back(PackPair(w - std::clamp(w, kMinWeight, kMaxWeight), 0));
    }
    p.CentreExtra = data.centreExtra.data();
  }

  // Weight pairs; a centre weight left out of them goes through C instead.
  const auto weight = [&](std::size_t e, int32_t r, int32_t k, int32_t part) -> int64_t {
    const int32_t c = (p.HFolded ? centreColumn : 0) + 2 * k + part;
    if (c >= a.kw) return 0;
    if (r == a.yMax && c == centreColumn) {
      if (p.CentreHalved) return a.At(e, r, c) / 2;
      return p.CentreInSums ? std::clamp(a.At(e, r, c), kMinWeight, kMaxWeight) : 0;
    }
    return a.At(e, r, c);
  };
  const auto pair = [&](std::size_t e, int32_t r, int32_t k) {
    return PackPair(weight(e, r, k, 0), weight(e, r, k, 1));
  };
  data.weights.clear();
  if (p.Spread) {
    for (int32_t d = 0; d <= a.yMax; ++d) {
      for (int32_t k = 0; k < p.Pairs; ++k) data.weights.push_back(pair(0, a.yMax - d, k));
    }
  } else if (p.VFolded) {
    for (int32_t k = 0; k < p.Pairs; ++k) {
      for (int32_t d = 0; d <= a.yMax; ++d) data.weights.push_back(pair(0, a.yMax - d, k));
    }
  } else {
    for (std::size_t e = 0; e < a.kernels.size(); ++e) {
      for (int32_t t = a.yMin; t <= a.yMax; ++t) {
        for (int32_t k = 0; k < p.Pairs; ++k) data.weights.push_back(pair(e, a.yMax - t, k));
      }
    }
  }
  p.Weights = data.weights.data();

  BuildCentreRows(a, width, height, lanes, p.CentreInSums, data);
  p.CentreRows = data.centreRows.data();

  p.Bias = pass.Bias;
  ChooseKernelDivision(p, a.bound, pass.ScaleFactor);

  // Strips: wide enough to keep the vector loops long, narrow enough for the ring of prepared
  // rows to stay close to the core.
  p.ChunkSteps = std::max(1, std::min(kChunkRows, kMaxChunkRows) / impl.Rows);
  p.RingRows = p.Spread ? 1 : a.kh + p.ChunkSteps * impl.Rows - 1;
  p.SumRows = p.Spread ? a.kh + std::max(kSpreadSlack, p.TMax) : 0;
  p.LinePad = RoundUp(half + 1, lanes);
  if (stripWidth <= 0 && p.Spread) {
    // Whole pairs of vectors: the sweep spreads two at a time.
    const int64_t pairs = kSpreadSumsInts / (int64_t{3} * a.kh) / (2 * lanes);
    stripWidth = static_cast<int32_t>(std::max<int64_t>(1, pairs) * 2 * lanes);
  } else if (stripWidth <= 0) {
    const int64_t perRow = kRingBudgetInts / p.RingRows / 3;
    const int64_t strip = p.HFolded ? perRow / p.Pairs : perRow - 2 * p.LinePad;
    stripWidth = static_cast<int32_t>(std::max<int64_t>(4 * lanes, strip));
  }
  p.StripWidth = std::min(RoundUp(stripWidth, lanes), RoundUp(width, lanes));
  p.LineInts = p.StripWidth + 2 * p.LinePad;
  if (p.HFolded) {
    p.ChannelStride = p.Pairs * p.StripWidth;
    p.PlaneStride = p.StripWidth;
    p.PlaneBase = 0;
    p.CentreBase = 0;
  } else {
    p.ChannelStride = p.LineInts;
    p.PlaneStride = 2;
    p.PlaneBase = p.LinePad + a.xMin;
    p.CentreBase = p.LinePad;
  }
  p.RecordInts = int64_t{3} * p.ChannelStride;
  const auto aligned = [](int64_t ints) { return (ints + 15) / 16 * 16; };
  p.RingOffset = 0;
  p.ZeroOffset = p.RingOffset + aligned(p.RecordInts * p.RingRows);
  p.LineOffset = p.ZeroOffset + aligned(p.RecordInts);
  p.PairsOffset = p.LineOffset + aligned(int64_t{p.LineInts} + 2 * lanes);
  p.OutOffset = p.PairsOffset + aligned(p.HFolded ? int64_t{6} * p.LineInts : 0);
  p.SumsOffset = p.OutOffset + aligned(int64_t{3} * impl.Rows * lanes);
  p.ScratchInts = p.SumsOffset + aligned(int64_t{3} * p.SumRows * p.StripWidth);
}

// The calling thread's scratch, kept between passes so that a frame does not fault in fresh
// pages each time; every thread of the pool has its own.
int32_t* Scratch(std::size_t ints) {
  thread_local std::vector<int32_t> block;
  const std::size_t needed = ints + 16;
  if (block.size() < needed) {
    try {
      block.assign(needed, 0);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    }
  }
  const auto address = reinterpret_cast<std::uintptr_t>(block.data());
  return block.data() + ((64 - address % 64) % 64) / sizeof(int32_t);
}

}  // namespace

const char* KernelIsaName(TKernelIsa isa) {
  switch (isa) {
    case kiPlain:
      return "plain";
    case kiAvx2:
      return "avx2";
    case kiAvx512:
      return "avx512";
    case kiAvx512Vnni:
      return "avx512vnni";
  }
  return "unknown";
}

bool KernelIsaSupported(TKernelIsa isa) {
  return ImplOf(isa) != nullptr && ProcessorHas(isa);
}

TKernelIsa BestKernelIsa() {
  for (const TKernelIsa isa : {kiAvx512Vnni, kiAvx512, kiAvx2}) {
    if (KernelIsaSupported(isa)) return isa;
  }
  return kiPlain;
}

void ChooseKernelDivision(TKernelPlan& plan, int64_t bound, int64_t scale) {
  // The sums whose quotients plus Bias are 0 and 255: beyond them the clamp decides. Only a
  // scale below kFloatExact can make them small enough for floats, and only there are their
  // figures computed, since a bias near 2^31 times a larger scale would overflow.
  const bool clampable = Abs64(scale) < kFloatExact;
  const int64_t zero = clampable ? -int64_t{plan.Bias} * scale : 0;
  const int64_t top = clampable ? (255 - int64_t{plan.Bias}) * scale : 0;
  const int64_t low = std::min(zero, top);
  const int64_t high = std::max(zero, top);
  if (scale == 1) {
    plan.Division = kdOne;
  } else if (scale > 0 && (scale & (scale - 1)) == 0) {
    plan.Division = kdShift;
    plan.Shift = __builtin_ctzll(static_cast<unsigned long long>(scale));
  } else if (3 * bound + Abs64(scale) < kFloatExact) {
    plan.Division = kdFloat;
    plan.RecipF = ReciprocalF(scale);
  } else if (clampable && 3 * std::max(-low, high) + Abs64(scale) < kFloatExact) {
    plan.Division = kdClampedFloat;
    plan.RecipF = ReciprocalF(scale);
    plan.SumLow = static_cast<int32_t>(low);
    plan.SumHigh = static_cast<int32_t>(high);
  } else {
    plan.Division = kdDouble;
    plan.RecipD = ReciprocalD(scale);
  }
}

bool FastKernelEligible(const TKernelPass& pass) {
  TAnalysis analysis;
  return Analyse(pass, analysis);
}

bool FastKernelPass(const TKernelPass& pass, uint8_t* dst, const uint8_t* src, int32_t width,
                    int32_t height, const TFastKernelOptions& options) {
  TAnalysis analysis;
  if (!Analyse(pass, analysis)) return false;
  const TKernelIsa isa = options.Isa ? *options.Isa : BestKernelIsa();
  if (!KernelIsaSupported(isa)) return false;
  if (width <= 0 || height <= 0) return true;
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (dst < src + bytes && src < dst + bytes) return false;
  // The reference divides the first pixel's sum before it writes anything.
  if (pass.ScaleFactor == 0) throw EDivByZero();

  const TKernelIsaImpl& impl = *ImplOf(isa);
  TPassData data;
  try {
    BuildPlan(analysis, pass, impl, width, height, options.StripWidth, options.SpreadRows, data);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  TKernelPlan& plan = data.plan;
  plan.Source = reinterpret_cast<const uint32_t*>(src);
  plan.Dest = reinterpret_cast<uint32_t*>(dst);

  // Bands of whole steps, handed out one at a time to `threads` threads. More bands than
  // threads let the caller take work while a woken worker is still getting ready; a band is
  // kept tall enough that re-preparing the kernel's rows above and below it costs little.
  ThreadPool& pool = ThreadPool::Shared();
  const int threads = std::max(1, options.Threads > 0 ? options.Threads : pool.Size());
  const int32_t step = impl.Rows;
  const int32_t steps = (height + step - 1) / step;
  const int32_t bandRows = std::max(kMinBandRows, kBandRowsPerKernelRow * (analysis.kh - 1));
  // The spread sweep's strips are independent from top to bottom, so each of its bands is one
  // whole strip over every row: a band of rows would spread the kernel's rows above and below
  // it once more (about 6 % of a 23 x 23 pass in two bands). Bands of one strip, rather than
  // runs of two or three, let the threads finish within a strip's time of each other.
  const int32_t strips = (width + plan.StripWidth - 1) / plan.StripWidth;
  const bool byStrips = plan.Spread && strips >= threads;
  const int bands =
      byStrips ? strips
               : std::clamp(height / bandRows, std::min(threads, steps), threads * kBandsPerThread);
  std::atomic<int> nextBand{0};
  pool.Run(std::min(threads, bands), [&](int) {
    int32_t* scratch = Scratch(static_cast<std::size_t>(plan.ScratchInts));
    for (int band = nextBand++; band < bands; band = nextBand++) {
      if (byStrips) {
        const int32_t first = band * plan.StripWidth;
        impl.RunBand(plan, 0, height, first, std::min(width, first + plan.StripWidth), scratch);
        continue;
      }
      const int32_t first = static_cast<int32_t>(int64_t{steps} * band / bands) * step;
      const int32_t end =
          std::min(height, static_cast<int32_t>(int64_t{steps} * (band + 1) / bands) * step);
      if (first < end) impl.RunBand(plan, first, end, 0, width, scratch);
    }
  });
  return true;
}

}  // namespace ombrix
