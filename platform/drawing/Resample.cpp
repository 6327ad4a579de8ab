#include "Resample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>

#include "ResampleRows.h"
#include "ThreadPool.h"

namespace ombrix {
namespace {

// Keys' cubic convolution with a = -0.5: interpolates (1 at 0, 0 at the other integers) and
// reproduces straight ramps, so enlarging keeps gradients smooth without ringing much.
double Cubic(double x) {
  x = std::fabs(x);
  if (x < 1) return (1.5 * x - 2.5) * x * x + 1;
  if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
  return 0;
}

double Linear(double x) {
  return std::max(0.0, 1 - std::fabs(x));
}

bool Finite(const TAxisMap& map) {
  return std::isfinite(map.Scale) && std::isfinite(map.Offset) && map.Scale != 0;
}

// The source index under target index i, and the source pixel-centre coordinate there.
double SourceCoordinate(const TAxisMap& map, int i) {
  return (i + 0.5 - map.Offset) / map.Scale;
}

int ClampInt(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;  // also NaN
  if (v > hi) return hi;
  return static_cast<int>(v);
}

bool IsWhole(double v) {
  return std::floor(v) == v;
}

const resample::RowKernels& Choose(TResampleKernels kernels) {
  switch (kernels) {
    case rsPlain:
      return resample::PlainKernels();
    case rsSse2:
      if (const auto* k = resample::Sse2Kernels()) return *k;
      return resample::PlainKernels();
    case rsAvx2:
      if (const auto* k = resample::Avx2Kernels()) return *k;
      return resample::PlainKernels();
    case rsAvx512:
      if (const auto* k = resample::Avx512Kernels()) return *k;
      return resample::PlainKernels();
    case rsAutomatic:
      break;
  }
  static const resample::RowKernels& best = []() -> const resample::RowKernels& {
    if (const auto* k = resample::Avx512Kernels()) return *k;
    if (const auto* k = resample::Avx2Kernels()) return *k;
    if (const auto* k = resample::Sse2Kernels()) return *k;
    return resample::PlainKernels();
  }();
  return best;
}

// Where drawn pixels go: row `row` of the target starts at top + row * stride.
struct Destination {
  uint8_t* top;
  std::ptrdiff_t stride;
  bool packed24;
  uint8_t* Row(int row, int column) const {
    return top + row * stride + static_cast<std::ptrdiff_t>(column) * (packed24 ? 3 : 4);
  }
};

// Drops the fourth byte of `count` 32-bit pixels into a 24-bit row.
void Pack24(const uint8_t* from, int count, uint8_t* to) {
  for (int i = 0; i < count; ++i, from += 4, to += 3) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  }
}

// Splits rows begin .. end - 1 into bands, one per thread, and runs band(first, last) on each.
template <typename Band>
void ForBands(int begin, int end, Band band) {
  ThreadPool& pool = ThreadPool::Shared();
  const int rows = end - begin;
  // Each band costs a few rows of setup; below this, more bands only add overhead.
  constexpr int kMinimumRows = 16;
  const int parts = std::clamp(rows / kMinimumRows, 1, pool.Size());
  pool.Run(parts, [&](int part) {
    band(begin + static_cast<int>(static_cast<int64_t>(rows) * part / parts),
         begin + static_cast<int>(static_cast<int64_t>(rows) * (part + 1) / parts));
  });
}

// Narrows the taps to the widest run of non-zero weights any target index has: an
// interpolating kernel at whole-pixel positions needs one tap, not four. Each index keeps its
// own non-zero run, moved to the front of its narrower window. The count stays a multiple of
// `multiple` unless it drops to one.
void TrimZeroTaps(TAxisWeights& w, int multiple, int length) {
  const std::size_t count = w.First.size();
  const std::size_t taps = static_cast<std::size_t>(w.Taps);
  if (count == 0 || taps <= 1) return;
  std::size_t span = 1;
  for (std::size_t i = 0; i < count; ++i) {
    const int16_t* row = w.Weights.data() + i * taps;
    std::size_t lo = taps, hi = 0;
    for (std::size_t t = 0; t < taps; ++t)
      if (row[t] != 0) {
        lo = std::min(lo, t);
        hi = t;
      }
    if (lo < taps) span = std::max(span, hi - lo + 1);
  }
  if (span > 1)
    span = (span + static_cast<std::size_t>(multiple) - 1) / static_cast<std::size_t>(multiple) *
           static_cast<std::size_t>(multiple);
  if (span >= taps) return;
  std::vector<int16_t> narrow(count * span, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const int16_t* row = w.Weights.data() + i * taps;
    std::size_t lo = 0;
    while (lo + 1 < taps && row[lo] == 0) ++lo;
    // The window still lies inside the source, and holds every non-zero weight of the row.
    const int start = std::min(w.First[i] + static_cast<int>(lo), length - static_cast<int>(span));
    for (std::size_t t = 0; t < taps; ++t)
      if (row[t] != 0)
        narrow[i * span + static_cast<std::size_t>(w.First[i] + static_cast<int>(t) - start)] =
            row[t];
    w.First[i] = start;
  }
  w.Weights.swap(narrow);
  w.Taps = static_cast<int>(span);
}

// Everything AxisWeights reads; the map compared bit for bit.
struct TAxisKey {
  uint64_t scale = 0;
  uint64_t offset = 0;
  int length = 0, begin = 0, end = 0, tapMultiple = 0;
  TResampleKernel kernel = rkNearest;
  bool prefilter = false;
  friend bool operator==(const TAxisKey&, const TAxisKey&) = default;
};

// AxisWeights through the last few axes drawn on this thread: the live view draws the same two
// axes frame after frame, and working their weights out again each time costs about a
// twentieth of its zoom.
const TAxisWeights& CachedAxisWeights(const TAxisMap& map, int length, int begin, int end,
                                      TResampleKernel kernel, bool prefilter, int tapMultiple) {
  struct TEntry {
    TAxisKey key;
    TAxisWeights weights;
  };
  // Two axes a draw, and room for one other draw between two frames.
  constexpr std::size_t kEntries = 4;
  thread_local std::array<std::optional<TEntry>, kEntries> entries;
  thread_local std::size_t next = 0;
  TAxisKey key;
  std::memcpy(&key.scale, &map.Scale, sizeof key.scale);
  std::memcpy(&key.offset, &map.Offset, sizeof key.offset);
  key.length = length, key.begin = begin, key.end = end, key.tapMultiple = tapMultiple;
  key.kernel = kernel;
  key.prefilter = prefilter;
  for (const std::optional<TEntry>& entry : entries)
    if (entry && entry->key == key) return entry->weights;
  std::optional<TEntry>& entry = entries[next];
  next = (next + 1) % kEntries;
  // Made before the old entry goes, so that a failure leaves the cache as it was.
  TAxisWeights weights = AxisWeights(map, length, begin, end, kernel, prefilter, tapMultiple);
  entry = TEntry{key, std::move(weights)};
  return entry->weights;
}

}  // namespace

std::array<uint8_t, 256> GammaTable(float gamma) {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const double v = gamma == 1.0f ? c : std::round(255.0 * std::pow(c / 255.0, double{gamma}));
    table[static_cast<std::size_t>(c)] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
  }
  return table;
}

TIndexRange DrawnRange(const TAxisMap& map, int length, int limit) {
  const double a = map.Offset;
  const double b = map.Scale * length + map.Offset;
  // Target pixel i is drawn when its centre i + 0.5 lies in [lo, hi).
  const double lo = std::min(a, b) - 0.5;
  const double hi = std::max(a, b) - 0.5;
  TIndexRange range;
  range.begin = ClampInt(std::ceil(lo), 0, limit);
  range.end = std::max(range.begin, ClampInt(std::ceil(hi), 0, limit));
  return range;
}

TAxisWeights AxisWeights(const TAxisMap& map, int length, int begin, int end,
                         TResampleKernel kernel, bool prefilter, int tapMultiple) {
  TAxisWeights result;
  const int count = std::max(0, end - begin);
  const double scale = std::fabs(map.Scale);
  const double stretch = prefilter && scale < 1 ? 1 / scale : 1;
  const double radius = (kernel == rkCubic ? 2.0 : 1.0) * stretch;
  // An open interval of length 2 * radius holds at most ceil(2 * radius) integers. A kernel
  // many times wider than the source (a picture shrunk to a pixel or two) is cut there, which
  // keeps the count an int; its far taps would all fold onto the border pixels anyway.
  const double wanted = std::ceil(2 * radius - 1e-9);
  const int limit = 2 * length + 8;
  const int taps = kernel == rkNearest ? 1 : wanted > limit ? limit : static_cast<int>(wanted);
  const int multiple = std::max(1, tapMultiple);
  result.Taps = std::min((taps + multiple - 1) / multiple * multiple, length);
  result.First.resize(static_cast<std::size_t>(count));
  result.Weights.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(result.Taps), 0);
  std::vector<double> raw(static_cast<std::size_t>(taps));
  std::vector<double> folded(static_cast<std::size_t>(result.Taps));
  const std::size_t stride = static_cast<std::size_t>(result.Taps);
  // Away from the borders the weights depend only on where between two source pixels the
  // target pixel falls; scaling by a whole factor has just a few such phases, so weights once
  // made are reused (this runs on every frame, before the rows are split over threads).
  struct Phase {
    double phase;
    std::size_t from;
  };
  Phase phases[16];
  int phaseCount = 0;

  for (int i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    const double u = SourceCoordinate(map, begin + i);
    int16_t* w = result.Weights.data() + at * stride;
    if (kernel == rkNearest) {
      result.First[at] = ClampInt(std::floor(u), 0, length - 1);
      w[0] = TAxisWeights::kOne;
      continue;
    }
    const double t = u - 0.5;  // in source pixel-centre coordinates
    const int low = wanted > limit ? ClampInt(std::floor(t), -1, length) - taps / 2 + 1
                                   : ClampInt(std::floor(t - radius), -taps - 1, length) + 1;
    const bool interior = low >= 0 && low + result.Taps <= length;
    const double phase = t - std::floor(t);
    if (interior) {
      const Phase* known = std::find_if(phases, phases + phaseCount,
                                        [&](const Phase& p) { return p.phase == phase; });
      if (known != phases + phaseCount) {
        result.First[at] = low;
        std::copy_n(result.Weights.data() + known->from * stride, stride, w);
        continue;
      }
    }
    double sum = 0;
    for (int k = 0; k < taps; ++k) {
      const double d = (low + k - t) / stretch;
      raw[static_cast<std::size_t>(k)] = kernel == rkCubic ? Cubic(d) : Linear(d);
      sum += raw[static_cast<std::size_t>(k)];
    }
    // Past a border the border pixel repeats: fold those weights onto it, keeping the window
    // inside the source.
    const int first = std::clamp(low, 0, length - result.Taps);
    std::fill(folded.begin(), folded.end(), 0.0);
    for (int k = 0; k < taps; ++k)
      folded[static_cast<std::size_t>(std::clamp(low + k, 0, length - 1) - first)] +=
          raw[static_cast<std::size_t>(k)];
    result.First[at] = first;
    // Quantise so that the weights sum exactly to one; the rounding residue goes to the
    // largest weight, where it matters least.
    int total = 0;
    std::size_t largest = 0;
    for (std::size_t k = 0; k < stride; ++k) {
      const double v = sum > 0 ? folded[k] / sum : (k == 0 ? 1.0 : 0.0);
      w[k] = static_cast<int16_t>(std::floor(v * TAxisWeights::kOne + 0.5));
      total += w[k];
      if (std::fabs(folded[k]) > std::fabs(folded[largest])) largest = k;
    }
    w[largest] = static_cast<int16_t>(w[largest] + TAxisWeights::kOne - total);
    if (interior && phaseCount < 16) phases[phaseCount++] = Phase{phase, at};
  }
  TrimZeroTaps(result, multiple, length);
  return result;
}

bool KernelsAvailable(TResampleKernels kernels) {
  switch (kernels) {
    case rsSse2:
      return resample::Sse2Kernels() != nullptr;
    case rsAvx2:
      return resample::Avx2Kernels() != nullptr;
    case rsAvx512:
      return resample::Avx512Kernels() != nullptr;
    case rsAutomatic:
    case rsPlain:
      return true;
  }
  return false;
}

void Resample(const TPixelView& source, TBitmap& target, const TRect& clip, const TAxisMap& x,
              const TAxisMap& y, const TResampleOptions& options, TResampleKernels kernels) {
  if (!source.top || source.width <= 0 || source.height <= 0 || target.Empty()) return;
  if (!Finite(x) || !Finite(y)) return;
  TIndexRange cols = DrawnRange(x, source.width, target.Width());
  TIndexRange rows = DrawnRange(y, source.height, target.Height());
  cols.begin = std::max(cols.begin, clip.Left);
  cols.end = std::min(cols.end, clip.Right);
  rows.begin = std::max(rows.begin, clip.Top);
  rows.end = std::min(rows.end, clip.Bottom);
  if (cols.begin >= cols.end || rows.begin >= rows.end) return;

  const resample::RowKernels& k = Choose(kernels);
  const Destination dest{target.ScanLine(0), -static_cast<std::ptrdiff_t>(target.RowBytes()),
                         target.PixelFormat() == pf24bit};
  const int count = cols.end - cols.begin;
  const uint8_t* colors = options.Colors;

  // Unscaled at a whole-pixel offset every kernel is the identity: copy through the colours.
  if (x.Scale == 1 && y.Scale == 1 && IsWhole(x.Offset) && IsWhole(y.Offset)) {
    const int dx = static_cast<int>(x.Offset), dy = static_cast<int>(y.Offset);
    ForBands(rows.begin, rows.end, [&](int from, int to) {
      std::vector<uint8_t> packed(dest.packed24 ? static_cast<std::size_t>(count) * 4 : 0);
      for (int row = from; row < to; ++row) {
        const uint8_t* s = source.top + (row - dy) * source.stride +
                           static_cast<std::ptrdiff_t>(cols.begin - dx) * 4;
        if (dest.packed24) {
          k.copy(s, count, colors, packed.data());
          Pack24(packed.data(), count, dest.Row(row, cols.begin));
        } else {
          k.copy(s, count, colors, dest.Row(row, cols.begin));
        }
      }
    });
    return;
  }

  // The fast horizontal kernels take their taps four at a time.
  TAxisWeights xw = CachedAxisWeights(x, source.width, cols.begin, cols.end, options.Kernel,
                                      options.Prefilter, options.Kernel == rkNearest ? 1 : 4);
  const TAxisWeights yw = CachedAxisWeights(y, source.height, rows.begin, rows.end, options.Kernel,
                                            options.Prefilter, 1);
  // Only the source columns some target pixel reads are fetched (and colour-adjusted).
  const auto [minFirst, maxFirst] = std::minmax_element(xw.First.begin(), xw.First.end());
  const int left = *minFirst;
  const int span = *maxFirst + xw.Taps - left;
  for (int32_t& f : xw.First) f -= left;

  ForBands(rows.begin, rows.end, [&](int from, int to) {
    const std::size_t rowValues = static_cast<std::size_t>(count) * 4;
    const int taps = yw.Taps;
    // Horizontal results of the last `taps` source rows, slot = source row % taps; a target
    // row needs `taps` consecutive source rows, which always fall into distinct slots.
    std::vector<int16_t> ring(rowValues * static_cast<std::size_t>(taps));
    std::vector<int> held(static_cast<std::size_t>(taps), -1);
    std::vector<const int16_t*> sources(static_cast<std::size_t>(taps));
    std::vector<uint8_t> adjusted(colors ? static_cast<std::size_t>(span) * 4 : 0);
    std::vector<uint8_t> packed(dest.packed24 ? rowValues : 0);
    for (int row = from; row < to; ++row) {
      const std::size_t index = static_cast<std::size_t>(row - rows.begin);
      const int firstRow = yw.First[index];
      for (int t = 0; t < taps; ++t) {
        const int sourceRow = firstRow + t;
        const std::size_t slot = static_cast<std::size_t>(sourceRow % taps);
        int16_t* line = ring.data() + slot * rowValues;
        if (held[slot] != sourceRow) {
          const uint8_t* s =
              source.top + sourceRow * source.stride + static_cast<std::ptrdiff_t>(left) * 4;
          if (colors) {
            k.copy(s, span, colors, adjusted.data());
            s = adjusted.data();
          }
          k.horizontal(s, count, xw.Taps, xw.First.data(), xw.Weights.data(), line);
          held[slot] = sourceRow;
        }
        sources[static_cast<std::size_t>(t)] = line;
      }
      const int16_t* weights = yw.Weights.data() + index * static_cast<std::size_t>(taps);
      if (dest.packed24) {
        k.vertical(sources.data(), weights, taps, count, packed.data());
        Pack24(packed.data(), count, dest.Row(row, cols.begin));
      } else {
        k.vertical(sources.data(), weights, taps, count, dest.Row(row, cols.begin));
      }
    }
  });
}

}  // namespace ombrix
