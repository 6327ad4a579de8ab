#pragma once
// Private to the fast kernel-less passes: the row computations, written once and compiled once
// per instruction set by FastRank<Isa>.cpp (the loops over whole rows are left to the
// compiler's vectoriser). Everything here has internal linkage, so each instruction set's copy
// stays in its own file; for that reason it calls no library template (std::fill, std::min),
// of which the linker would keep one copy, possibly one the running processor cannot execute.

#include <cstddef>
#include <cstdint>

#if defined(__AVX2__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FastRankPlan.h"

namespace ombrix {
namespace {

using std::ptrdiff_t;

template <class T>
inline T Lesser(T a, T b) {
  return a < b ? a : b;
}
template <class T>
inline T Greater(T a, T b) {
  return a > b ? a : b;
}
template <class T>
inline void FillWith(T* begin, T* end, T value) {
  for (; begin != end; ++begin) *begin = value;
}

inline uint32_t Luma(uint32_t pixel) {
  const uint32_t blue = pixel & 0xFFu;
  const uint32_t green = (pixel >> 8) & 0xFFu;
  const uint32_t red = (pixel >> 16) & 0xFFu;
  return (30 * red + 59 * green + 11 * blue) / 100;
}

// The luminance of each of the n pixels into their byte 3 and, unless lum is null, into lum.
inline void StoreLuminance(uint32_t* __restrict src, uint8_t* __restrict lum, ptrdiff_t n) {
  ptrdiff_t x = 0;
#if defined(__AVX2__)
  // 32 pixels at a time: the weighted sum of each pixel's bytes by two multiply-adds, then
  // s div 100 = s x 5243 >> 19, exact for every s up to 255 x 100.
  const __m256i weights = _mm256_set1_epi32(30 << 16 | 59 << 8 | 11);
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i colours = _mm256_set1_epi32(0xFFFFFF);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (; x + 32 <= n; x += 32) {
    __m256i levels[4];
    for (int k = 0; k < 4; ++k) {
      auto* at = reinterpret_cast<__m256i*>(src + x + 8 * k);
      const __m256i pixels = _mm256_loadu_si256(at);
      const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, weights), ones);
      levels[k] = _mm256_srli_epi32(_mm256_mullo_epi32(sum, _mm256_set1_epi32(5243)), 19);
      _mm256_storeu_si256(
          at, _mm256_or_si256(_mm256_and_si256(pixels, colours), _mm256_slli_epi32(levels[k], 24)));
    }
    if (lum == nullptr) continue;
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(levels[0], levels[1]),
                                              _mm256_packus_epi32(levels[2], levels[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lum + x),
                        _mm256_permutevar8x32_epi32(bytes, order));
  }
#endif
  for (; x < n; ++x) {
    const uint32_t l = Luma(src[x]);
    src[x] = (src[x] & 0xFFFFFFu) | l << 24;
    if (lum != nullptr) lum[x] = static_cast<uint8_t>(l);
  }
}

template <bool kMin>
constexpr uint32_t kEmpty = kMin ? 0xFFFFFFFFu : 0u;

template <bool kMin>
inline uint32_t Ext(uint32_t a, uint32_t b) {
  if constexpr (kMin) {
    return a < b ? a : b;
  } else {
    return a > b ? a : b;
  }
}

// Narrows the offsets a .. b of a window along a line of n positions to those that can meet the
// line from some position of it; false when none can.
inline bool ClipOffsets(int32_t n, int32_t& a, int32_t& b) {
  a = Greater(a, -(n - 1));
  b = Lesser(b, n - 1);
  return a <= b;
}

// Windows up to this long are scanned directly; longer ones by van Herk / Gil-Werman.
constexpr int32_t kDirectWindow = 4;

// Scratch elements LineExtreme needs for a line of n positions.
inline int64_t LineExtremeInts(int32_t n) {
  return 3 * (3 * int64_t{n} + 64);
}

// out[i] := the extreme of in[i + a .. i + b] that lie in 0 .. n - 1, for i in 0 .. n - 1,
// in[j] being load(j). The line is copied between runs of the empty extreme, then extremes over
// 2, 4, 8 .. positions are built by doubling (each a vector loop without branches), and the
// window's extreme is that of two overlapping runs of the largest power of two it holds.
template <bool kMin, class Load>
void LineExtremeOf(Load load, uint32_t* out, int32_t n, int32_t a, int32_t b, uint32_t* work) {
  if (!ClipOffsets(n, a, b)) {
    FillWith(out, out + n, kEmpty<kMin>);
    return;
  }
  const int32_t w = b - a + 1;
  // padded[j] is position a + j, for j in 0 .. n + w - 2.
  const int32_t length = n + w - 1;
  uint32_t* padded = work;
  uint32_t* spare = work + length + 32;
  const int32_t before = Lesser(Greater(-a, 0), length);
  FillWith(padded, padded + before, kEmpty<kMin>);
  const int32_t inside = Greater(Lesser(n - Greater(a, 0), length - before), 0);
  const int32_t from = Greater(a, 0);
  for (int32_t j = 0; j < inside; ++j) padded[before + j] = load(from + j);
  FillWith(padded + before + inside, padded + length, kEmpty<kMin>);
  if (w == 1) {
    for (int32_t i = 0; i < n; ++i) out[i] = padded[i];
    return;
  }
  if (w <= kDirectWindow) {
    // A short window in one pass over the padded line.
    const uint32_t* __restrict p = padded;
    if (w == 2) {
      for (int32_t i = 0; i < n; ++i) out[i] = Ext<kMin>(p[i], p[i + 1]);
    } else if (w == 3) {
      for (int32_t i = 0; i < n; ++i) out[i] = Ext<kMin>(Ext<kMin>(p[i], p[i + 1]), p[i + 2]);
    } else {
      for (int32_t i = 0; i < n; ++i) {
        out[i] = Ext<kMin>(Ext<kMin>(p[i], p[i + 1]), Ext<kMin>(p[i + 2], p[i + 3]));
      }
    }
    return;
  }
  int32_t span = 1;
  uint32_t* runs = padded;
  while (2 * span <= w) {
    // runs[j] covers padded[j .. j + span - 1]; the next covers twice as many.
    const int32_t valid = length - 2 * span + 1;
    for (int32_t j = 0; j < valid; ++j) spare[j] = Ext<kMin>(runs[j], runs[j + span]);
    uint32_t* made = spare;
    spare = runs == padded ? work + 2 * (length + 32) : runs;
    runs = made;
    span *= 2;
  }
  const int32_t shift = w - span;
  for (int32_t i = 0; i < n; ++i) out[i] = Ext<kMin>(runs[i], runs[i + shift]);
}

template <bool kMin>
void LineExtreme(const uint32_t* in, uint32_t* out, int32_t n, int32_t a, int32_t b,
                 uint32_t* work) {
  LineExtremeOf<kMin>([in](int32_t j) { return in[j]; }, out, n, a, b, work);
}

// Row windows up to this long run RowKeyExtreme on 16-bit keys.
constexpr int32_t kNarrowWindow = 128;

// The least of the 16-bit keys of each window of positions i + a .. i + b (a and b clipped by
// ClipOffsets) along a stored row of n positions, its luminance read from byte 3 of `src`. A
// position's key is its level above its distance d from the start of the run of positions the
// key stands for, level << kShift | d, the level being the luminance for a minimum and 255 less
// it for a maximum, so that the least key is the first darkest (brightest) position of its run:
// when two runs join, the later run's keys move by the earlier's length. Empty positions take
// keys above every position's that stay clear of 2^16 however far they move. Window i's key is
// Lesser(last[i], last[i + shift] + shift), d counted from position a + i. Windows up to
// 2^kShift / 2 long; work: LineExtremeInts(n) elements.
struct TRowRuns {
  const uint16_t* last;
  int32_t shift;
};

template <bool kMin, int kShift>
TRowRuns RowRuns(const uint32_t* __restrict src, int32_t n, int32_t a, int32_t b, uint32_t* work) {
  static_assert(kShift == 7 || kShift == 8);
  // Above 255 << 7 | 127 (with room for 127 more), or 255 << 8 | 15 (with room for 15).
  constexpr uint16_t kRunEmpty = kShift == 7 ? 0xC000u : 0xFFF0u;
  const int32_t w = b - a + 1;
  // padded[j] is position a + j, for j in 0 .. n + w - 2.
  const int32_t length = n + w - 1;
  uint16_t* padded = reinterpret_cast<uint16_t*>(work);
  uint16_t* spare = padded + length + 64;
  const int32_t before = Lesser(Greater(-a, 0), length);
  FillWith(padded, padded + before, kRunEmpty);
  const int32_t inside = Greater(Lesser(n - Greater(a, 0), length - before), 0);
  const uint32_t* __restrict from = src + Greater(a, 0);
  uint16_t* __restrict into = padded + before;
  for (int32_t j = 0; j < inside; ++j) {
    const uint32_t l = from[j] >> 24;
    into[j] = static_cast<uint16_t>((kMin ? l : l ^ 0xFFu) << kShift);
  }
  FillWith(padded + before + inside, padded + length, kRunEmpty);
  int32_t span = 1;
  uint16_t* runs = padded;
  while (2 * span <= w) {
    const int32_t valid = length - 2 * span + 1;
    const uint16_t* __restrict in = runs;
    uint16_t* __restrict made = spare;
    for (int32_t j = 0; j < valid; ++j) {
      made[j] = Lesser(in[j], static_cast<uint16_t>(in[j + span] + span));
    }
    spare = runs == padded ? made + length + 64 : runs;
    runs = made;
    span *= 2;
  }
  return {runs, w - span};
}

// out[i] := the key (luminance << 24 | place, as in FastRankPlan.h) of the extreme of the
// positions i + a .. i + b of a stored row that lie in 0 .. n - 1, its luminance read from byte 3
// of `src`, its places starting at rowPlace (a minimum) or ending there (kPlaceMask - rowPlace,
// a maximum). Windows up to kNarrowWindow long run RowRuns, twice as many keys to a vector;
// longer ones LineExtremeOf on the full keys. work: LineExtremeInts(n) elements.
template <bool kMin>
void RowKeyExtreme(const uint32_t* __restrict src, uint32_t* __restrict out, int32_t n, int32_t a,
                   int32_t b, uint32_t rowPlace, uint32_t* work) {
  ClipOffsets(n, a, b);
  const int32_t w = b - a + 1;
  if (w > kNarrowWindow) {
    if constexpr (kMin) {
      const auto key = [src, rowPlace](int32_t x) {
        return (src[x] & 0xFF000000u) | rowPlace | static_cast<uint32_t>(x);
      };
      LineExtremeOf<true>(key, out, n, a, b, work);
    } else {
      const uint32_t reversed = kPlaceMask - rowPlace;
      const auto key = [src, reversed](int32_t x) {
        return (src[x] & 0xFF000000u) | (reversed - static_cast<uint32_t>(x));
      };
      LineExtremeOf<false>(key, out, n, a, b, work);
    }
    return;
  }
  const TRowRuns runs = RowRuns<kMin, 7>(src, n, a, b, work);
  const uint16_t* __restrict last = runs.last;
  const int32_t shift = runs.shift;
  const uint32_t start = rowPlace + static_cast<uint32_t>(a);
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t k = Lesser(last[i], static_cast<uint16_t>(last[i + shift] + shift));
    const uint32_t level = (k >> 7) & 0xFFu;
    const uint32_t luminance = (kMin ? level : level ^ 0xFFu) << 24;
    const uint32_t place = start + static_cast<uint32_t>(i) + (k & 127u);
    out[i] = luminance | (kMin ? place : kPlaceMask - place);
  }
}

// Takes `ints` elements off the scratch block.
inline uint32_t* Take(uint32_t*& scratch, int64_t ints) {
  uint32_t* taken = scratch;
  scratch += (ints + 15) / 16 * 16;
  return taken;
}

// The extremes of the stored rows r + a .. r + b of a Width-wide plane, for the target rows r
// from `first` on, one row after the other: the same streaming van Herk as LineExtreme, on whole
// rows at once.
template <bool kMin>
class ColumnExtreme {
 public:
  // Scratch elements for a plane of this size and window.
  static int64_t Ints(int32_t width, int32_t height, int32_t a, int32_t b) {
    ClipOffsets(height, a, b);
    const int64_t w = Greater(1, b - a + 1);
    return (w + 2) * width + 48;
  }

  ColumnExtreme(const uint32_t* plane, int32_t width, int32_t height, int32_t a, int32_t b,
                int32_t first, uint32_t*& scratch)
      : plane_(plane), width_(width), height_(height), a_(a), b_(b), first_(first) {
    empty_ = !ClipOffsets(height, a_, b_);
    w_ = empty_ ? 1 : b_ - a_ + 1;
    out_ = Take(scratch, width);
    prefix_ = Take(scratch, width);
    suffix_ = Take(scratch, int64_t{w_} * width);
    if (empty_) FillWith(out_, out_ + width, kEmpty<kMin>);
  }

  // The extremes of target row r; rows must come in order from `first`.
  const uint32_t* Next(int32_t r) {
    if (empty_) return out_;
    const ptrdiff_t n = width_;
    if (w_ <= kDirectWindow) {
      // The rows inside the picture, in one pass over the row.
      const uint32_t* rows[kDirectWindow];
      int count = 0;
      for (int32_t p = r + a_; p <= r + b_; ++p) {
        if (const uint32_t* row = Row(p)) rows[count++] = row;
      }
      if (count == 0) {
        FillWith(out_, out_ + n, kEmpty<kMin>);
        return out_;
      }
      const uint32_t* __restrict r0 = rows[0];
      if (count == 1) return r0;
      const uint32_t* __restrict r1 = rows[1];
      uint32_t* __restrict out = out_;
      if (count == 2) {
        for (ptrdiff_t x = 0; x < n; ++x) out[x] = Ext<kMin>(r0[x], r1[x]);
      } else {
        const uint32_t* __restrict r2 = rows[2];
        for (ptrdiff_t x = 0; x < n; ++x) out[x] = Ext<kMin>(Ext<kMin>(r0[x], r1[x]), r2[x]);
        if (count == 4) Into(out_, rows[3]);
      }
      return out_;
    }
    const int32_t i = (r - first_) % w_;
    const int32_t s0 = r - i + a_;
    if (i == 0) {
      uint32_t* last = suffix_ + static_cast<ptrdiff_t>(w_ - 1) * n;
      FillWith(last, last + n, kEmpty<kMin>);
      Into(last, Row(s0 + w_ - 1));
      for (int32_t j = w_ - 2; j >= 0; --j) {
        uint32_t* row = suffix_ + static_cast<ptrdiff_t>(j) * n;
        const uint32_t* below = row + n;
        const uint32_t* in = Row(s0 + j);
        if (in == nullptr) {
          for (ptrdiff_t x = 0; x < n; ++x) row[x] = below[x];
        } else {
          for (ptrdiff_t x = 0; x < n; ++x) row[x] = Ext<kMin>(in[x], below[x]);
        }
      }
      FillWith(prefix_, prefix_ + n, kEmpty<kMin>);
    }
    const uint32_t* suffix = suffix_ + static_cast<ptrdiff_t>(i) * n;
    for (ptrdiff_t x = 0; x < n; ++x) out_[x] = Ext<kMin>(suffix[x], prefix_[x]);
    Into(prefix_, Row(s0 + w_ + i));
    return out_;
  }

 private:
  const uint32_t* Row(int32_t p) const {
    return p >= 0 && p < height_ ? plane_ + static_cast<ptrdiff_t>(p) * width_ : nullptr;
  }
  void Into(uint32_t* acc, const uint32_t* in) const {
    if (in == nullptr) return;
    for (ptrdiff_t x = 0; x < width_; ++x) acc[x] = Ext<kMin>(acc[x], in[x]);
  }

  const uint32_t* plane_;
  int32_t width_;
  int32_t height_;
  int32_t a_;
  int32_t b_;
  int32_t first_;
  bool empty_ = false;
  int32_t w_ = 1;
  uint32_t* out_ = nullptr;
  uint32_t* prefix_ = nullptr;
  uint32_t* suffix_ = nullptr;
};

// The blue, green and red sums of each column of the source over the stored rows
// r - Below .. r + Above inside the picture, for the target rows r from `first` on, in order.
class ColumnSums {
 public:
  ColumnSums(const TRankPlan& plan, int32_t first, uint32_t*& scratch)
      : plan_(plan), first_(first) {
    for (int c = 0; c < 3; ++c) {
      sums_[c] = Take(scratch, plan.Width);
      FillWith(sums_[c], sums_[c] + plan.Width, 0u);
    }
    for (int32_t p = first - plan.Below; p <= first + plan.Above; ++p) Add<true>(p);
  }

  // Blue, green and red sums of target row r.
  uint32_t* const* Next(int32_t r) {
    if (r > first_) {
      Add<true>(r + plan_.Above);
      Add<false>(r - 1 - plan_.Below);
    }
    return sums_;
  }

 private:
  template <bool kAdd>
  void Add(int32_t p) {
    if (p < 0 || p >= plan_.Height) return;
    const ptrdiff_t n = plan_.Width;
    const uint32_t* __restrict in = plan_.Source + static_cast<ptrdiff_t>(p) * n;
    uint32_t* __restrict blue = sums_[0];
    uint32_t* __restrict green = sums_[1];
    uint32_t* __restrict red = sums_[2];
    for (ptrdiff_t x = 0; x < n; ++x) {
      const uint32_t pixel = in[x];
      if constexpr (kAdd) {
        blue[x] += pixel & 0xFFu;
        green[x] += (pixel >> 8) & 0xFFu;
        red[x] += (pixel >> 16) & 0xFFu;
      } else {
        blue[x] -= pixel & 0xFFu;
        green[x] -= (pixel >> 8) & 0xFFu;
        red[x] -= (pixel >> 16) & 0xFFu;
      }
    }
  }

  const TRankPlan& plan_;
  int32_t first_;
  uint32_t* sums_[3] = {};
};

// Exact n div d for the sums of d bytes (n <= 255 d). Up to d = 255 x 255: n x ceil(2^40 / d)
// >> 40, whose error n / 2^40 stays below 1 / d as n d < 2^40; beyond, a rounded double
// reciprocal and one correction step, exact for n below 2^52.
struct TDivider {
  explicit TDivider(uint64_t divisor)
      : d(divisor),
        magic(((uint64_t{1} << 40) + divisor - 1) / divisor),
        small(divisor <= 255 * 255),
        inverse(1.0 / static_cast<double>(divisor)) {}
  uint64_t operator()(uint64_t n) const {
    if (small) return (n * magic) >> 40;
    uint64_t q = static_cast<uint64_t>(static_cast<double>(n) * inverse);
    if (q * d > n) {
      --q;
    } else if ((q + 1) * d <= n) {
      ++q;
    }
    return q;
  }
  uint64_t d;
  uint64_t magic;
  bool small;
  double inverse;
};

// dst[x] := the source pixel at offsets[x], for the pixels of a row whose offset is not
// negative.
inline void CopyFromOffsets(const TRankPlan& plan, uint32_t* __restrict dst,
                            const int32_t* __restrict offsets) {
  const uint32_t* __restrict source = plan.Source;
  const int32_t width = plan.Width;
  for (int32_t x = 0; x < width; ++x) {
    if (offsets[x] >= 0) dst[x] = source[offsets[x]];
  }
}

// dst[x] := the source pixel at offsets[x], every offset of the row being valid. (AVX2's gather
// measured slower than these loads on the processors at hand.)
inline void GatherFromOffsets(const TRankPlan& plan, uint32_t* __restrict dst,
                              const int32_t* __restrict offsets) {
  const uint32_t* __restrict source = plan.Source;
  const int32_t width = plan.Width;
  for (int32_t x = 0; x < width; ++x) dst[x] = source[offsets[x]];
}

// The places in the keys of minima and of maxima.
inline uint32_t PlaceOfMin(uint32_t key) {
  return key & kPlaceMask;
}
inline uint32_t PlaceOfMax(uint32_t key) {
  return kPlaceMask - (key & kPlaceMask);
}

// Number of window positions of row r (x) that lie inside the picture.
inline int64_t RowsInside(const TRankPlan& plan, int32_t r) {
  return Lesser(r + plan.Above, plan.Height - 1) - Greater(r - plan.Below, 0) + 1;
}
inline int64_t ColumnsInside(const TRankPlan& plan, int32_t x) {
  return Lesser(x + plan.Right, plan.Width - 1) - Greater(x - plan.Left, 0) + 1;
}

// ---------------------------------------------------------------------------------------------
// Rows of the planes

void PrepareRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  uint32_t* keyMin = Take(scratch, n);
  uint32_t* keyMax = Take(scratch, n);
  uint32_t* suffix = Take(scratch, LineExtremeInts(plan.Width));
  for (int32_t m = first; m < end; ++m) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(m) * n;
    uint32_t* src = plan.Source + at;
    uint8_t* lum = plan.Luminance != nullptr ? plan.Luminance + at : nullptr;
    StoreLuminance(src, lum, n);
    // The Median and the extremes need no planes: the Median reads the luminance, the larger
    // extremes make their keys from byte 3 when the target rows are.
    if (plan.Planes[0] == nullptr) continue;
    const uint32_t rowPlace = static_cast<uint32_t>(plan.PlaceTop - m) << plan.WidthBits;
    const auto row = [&](int plane) { return plan.Planes[plane] + at; };
    const bool degrain =
        plan.Kind == rkDegrainBright || plan.Kind == rkDegrainDark || plan.Kind == rkDegrain;
    uint32_t* mins = degrain ? row(0) : keyMin;
    uint32_t* maxs = degrain ? row(1) : keyMax;
    for (ptrdiff_t x = 0; x < n; ++x) {
      const uint32_t place = rowPlace | static_cast<uint32_t>(x);
      const uint32_t l = static_cast<uint32_t>(lum[x]) << 24;
      mins[x] = l | place;
      maxs[x] = l | (kPlaceMask - place);
    }
    switch (plan.Kind) {
      case rkMinimum:
        LineExtreme<true>(mins, row(0), plan.Width, -plan.Left, plan.Right, suffix);
        break;
      case rkMaximum:
        LineExtreme<false>(maxs, row(0), plan.Width, -plan.Left, plan.Right, suffix);
        break;
      case rkMaxMin:
      case rkMinMax:
        LineExtreme<true>(mins, row(0), plan.Width, -plan.Left, plan.Right, suffix);
        LineExtreme<false>(maxs, row(1), plan.Width, -plan.Left, plan.Right, suffix);
        break;
      default:
        // The degrain arms along the row are taken row by row when the targets are made.
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Target rows

// Minimum and Maximum over a band of target rows in one pass: each stored row's extreme along
// the row is made when the column pass first needs it, into a ring of a window's height of rows
// that the running column extreme (van Herk, as in ColumnExtreme) then folds in place. No plane
// of keys goes through memory, and the rows a band works on stay in the cache. The keys take
// the luminance from byte 3 of the source, which PrepareRows has written.
// Boxes up to this side run NarrowExtremeRows.
constexpr int32_t kNarrowBox = 16;

// ExtremeRows for boxes up to kNarrowBox, on 16-bit keys throughout, sixteen to a vector: the
// level (as RowRuns makes it) over 4 bits of window row and 4 of window column. Stored row p
// takes the row field w - 1 - (p - lowest) mod w, lowest being the band's first stored row, so
// that within a block of w rows, and within the rows after it, the least key is the first
// extreme in window order. The block's part of a target's window (its suffix) lies below the
// part after the block (its prefix), so a target takes its suffix's extreme only when that is
// strictly darker (brighter) than its prefix's. Rows outside the picture take the top key: the
// suffix always holds a row of the picture, and a prefix without one wins only where the
// suffix's level is the last one too, so that every position of the window has it and the
// centre is taken.
template <bool kMin>
void NarrowExtremeRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  int32_t a = -plan.Below;
  int32_t b = plan.Above;
  ClipOffsets(plan.Height, a, b);
  const int32_t w = b - a + 1;
  int32_t left = -plan.Left;
  int32_t right = plan.Right;
  ClipOffsets(plan.Width, left, right);
  const ptrdiff_t n = plan.Width;
  const int32_t width = plan.Width;
  // Keys of rows outside the picture: above every key of a position.
  constexpr uint16_t kOutside = 0xFFFFu;
  uint16_t* ring = reinterpret_cast<uint16_t*>(Take(scratch, (int64_t{w} * n + 1) / 2));
  uint16_t* __restrict prefix = reinterpret_cast<uint16_t*>(Take(scratch, (n + 1) / 2));
  int32_t* __restrict offsets = reinterpret_cast<int32_t*>(Take(scratch, n));
  uint32_t* work = Take(scratch, LineExtremeInts(width));
  const int32_t lowest = first + a;
  int32_t made = lowest;
  const auto slot = [&](int32_t p) { return ring + static_cast<ptrdiff_t>((p - lowest) % w) * n; };
  const auto make = [&]() {
    const int32_t p = made++;
    uint16_t* __restrict row = slot(p);
    if (p < 0 || p >= plan.Height) {
      FillWith(row, row + n, kOutside);
      return row;
    }
    const TRowRuns runs =
        RowRuns<kMin, 8>(plan.Source + static_cast<ptrdiff_t>(p) * n, width, left, right, work);
    const uint16_t* __restrict last = runs.last;
    const int32_t shift = runs.shift;
    const auto field = static_cast<uint16_t>((w - 1 - (p - lowest) % w) << 4);
    for (ptrdiff_t x = 0; x < n; ++x) {
      row[x] = Lesser(last[x], static_cast<uint16_t>(last[x + shift] + shift)) | field;
    }
    return row;
  };
  for (int32_t r = first; r < end; ++r) {
    const int32_t i = (r - first) % w;
    const int32_t s0 = r - i + a;
    if (i == 0) {
      while (made < s0 + w) make();
      for (int32_t j = w - 2; j >= 0; --j) {
        uint16_t* __restrict row = slot(s0 + j);
        const uint16_t* __restrict above = slot(s0 + j + 1);
        for (ptrdiff_t x = 0; x < n; ++x) row[x] = Lesser(row[x], above[x]);
      }
      FillWith(prefix, prefix + n, kOutside);
    }
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* __restrict src = plan.Source + at;
    const uint16_t* __restrict suffix = slot(s0 + i);
    // The offsets of row s0 + w - 1 (field 0 of the suffix) and s0 + 2w - 1 (of the prefix),
    // at the window's first column.
    const int32_t suffixBase = (s0 + w - 1) * width + left;
    const int32_t prefixBase = suffixBase + w * width;
    const auto centre = static_cast<int32_t>(at);
    const auto offsetOf = [&](uint32_t key, int32_t base, int32_t x) {
      // The centre wins every tie, so only a strictly darker (brighter) extreme is taken.
      const uint32_t level = key >> 8;
      const uint32_t own = src[x] >> 24;
      const int32_t offset = base - static_cast<int32_t>((key >> 4) & 15u) * width + x +
                             static_cast<int32_t>(key & 15u);
      return level == (kMin ? own : own ^ 0xFFu) ? centre + x : offset;
    };
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t low = suffix[x];
      const uint32_t high = prefix[x];
      const bool below = (low | 0xFFu) < high;
      offsets[x] = offsetOf(below ? low : high, below ? suffixBase : prefixBase, x);
    }
    GatherFromOffsets(plan, plan.Dest + at, offsets);
    if (r + 1 < end) {
      // Row s0 + w + i replaces s0 + i, whose suffix is spent, and joins the prefix.
      const uint16_t* __restrict row = make();
      for (ptrdiff_t x = 0; x < n; ++x) prefix[x] = Lesser(prefix[x], row[x]);
    }
  }
}

template <bool kMin>
void ExtremeRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  if (plan.Box <= kNarrowBox) {
    NarrowExtremeRows<kMin>(plan, first, end, scratch);
    return;
  }
  int32_t a = -plan.Below;
  int32_t b = plan.Above;
  // Rows beyond the picture add nothing; the window keeps its own row, so it never empties.
  ClipOffsets(plan.Height, a, b);
  const int32_t w = b - a + 1;
  const ptrdiff_t n = plan.Width;
  const int32_t width = plan.Width;
  uint32_t* ring = Take(scratch, int64_t{w} * n);
  uint32_t* __restrict prefix = Take(scratch, n);
  uint32_t* spare = Take(scratch, n);
  int32_t* __restrict offsets = reinterpret_cast<int32_t*>(Take(scratch, n));
  uint32_t* work = Take(scratch, LineExtremeInts(width));
  const uint32_t widthBits = static_cast<uint32_t>(plan.WidthBits);
  const uint32_t columnMask = (1u << widthBits) - 1u;
  const int32_t placeTop = plan.PlaceTop;
  // Stored row p lives in ring row (p - lowest) mod w, so the rows of one window fill the ring.
  const int32_t lowest = first + a;
  int32_t made = lowest;
  const auto slot = [&](int32_t p) { return ring + static_cast<ptrdiff_t>((p - lowest) % w) * n; };
  // Makes the next stored row's extremes along the row.
  const auto make = [&]() {
    const int32_t p = made++;
    uint32_t* row = slot(p);
    if (p < 0 || p >= plan.Height) {
      FillWith(row, row + n, kEmpty<kMin>);
      return row;
    }
    RowKeyExtreme<kMin>(plan.Source + static_cast<ptrdiff_t>(p) * n, row, width, -plan.Left,
                        plan.Right, static_cast<uint32_t>(placeTop - p) << widthBits, work);
    return row;
  };
  for (int32_t r = first; r < end; ++r) {
    // The window's extreme is that of the rows `one` and `other`.
    const uint32_t* one = nullptr;
    const uint32_t* other = nullptr;
    const int32_t i = (r - first) % w;
    const int32_t s0 = r - i + a;
    if (w <= kDirectWindow) {
      while (made <= r + b) make();
      one = ring;
      other = ring + (w - 1) * n;
      if (w > 2) {
        uint32_t* __restrict folded = spare;
        const uint32_t* __restrict r0 = ring;
        const uint32_t* __restrict r1 = ring + n;
        for (ptrdiff_t x = 0; x < n; ++x) folded[x] = Ext<kMin>(r0[x], r1[x]);
        if (w == 4) {
          const uint32_t* __restrict r2 = ring + 2 * n;
          for (ptrdiff_t x = 0; x < n; ++x) folded[x] = Ext<kMin>(folded[x], r2[x]);
        }
        one = folded;
      }
    } else {
      // Rows s0 .. s0 + w - 1 hold, from row s0 + i on, the suffix extremes of this block;
      // `prefix` those of s0 + w .. s0 + w + i - 1, made while the block's targets went by.
      if (i == 0) {
        while (made < s0 + w) make();
        for (int32_t j = w - 2; j >= 0; --j) {
          uint32_t* __restrict row = slot(s0 + j);
          const uint32_t* __restrict above = slot(s0 + j + 1);
          for (ptrdiff_t x = 0; x < n; ++x) row[x] = Ext<kMin>(row[x], above[x]);
        }
        FillWith(prefix, prefix + n, kEmpty<kMin>);
      }
      one = slot(s0 + i);
      other = prefix;
    }
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* __restrict src = plan.Source + at;
    const uint32_t* __restrict low = one;
    const uint32_t* __restrict high = other;
    const auto centre = static_cast<int32_t>(at);
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t key = Ext<kMin>(low[x], high[x]);
      const uint32_t place = kMin ? PlaceOfMin(key) : PlaceOfMax(key);
      const int32_t offset = (placeTop - static_cast<int32_t>(place >> widthBits)) * width +
                             static_cast<int32_t>(place & columnMask);
      // The centre wins every tie, so only a strictly darker (brighter) extreme is taken.
      offsets[x] = key >> 24 == src[x] >> 24 ? centre + x : offset;
    }
    GatherFromOffsets(plan, plan.Dest + at, offsets);
    if (w > kDirectWindow && r + 1 < end) {
      // Row s0 + w + i replaces s0 + i, whose suffix is spent, and joins the prefix.
      const uint32_t* __restrict row = make();
      for (ptrdiff_t x = 0; x < n; ++x) prefix[x] = Ext<kMin>(prefix[x], row[x]);
    }
  }
}

// Boxes up to this side average in float: a window sum s <= 255 x area, and 3 s + area < 2^24
// keeps trunc(s x AreaReciprocal) exact (see TKernelDivision).
constexpr int32_t kFloatAverageBox = 127;

// The averages of target row r into the pixels whose offset is negative: column sums `sum`
// added along the row (directly for narrow windows, else by running sums in `prefix`, Width + 1
// elements), positions outside counting as the centre. colours: Width elements of scratch.
void AverageRow(const TRankPlan& plan, int32_t r, uint32_t* const* sum, uint32_t* prefix,
                uint32_t* __restrict colours, const int32_t* __restrict offsets) {
  const int32_t width = plan.Width;
  const uint32_t* __restrict src = plan.Source + static_cast<ptrdiff_t>(r) * width;
  uint32_t* __restrict dst = plan.Dest + static_cast<ptrdiff_t>(r) * width;
  const auto area = static_cast<uint32_t>(plan.Box * plan.Box);
  const auto rowsInside = static_cast<uint32_t>(RowsInside(plan, r));
  const float reciprocal = plan.AreaReciprocal;
  for (int32_t x = 0; x < width; ++x) colours[x] = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t* __restrict columns = sum[c];
    // colours holds the packed quotients so far; window sums go through `prefix`.
    uint32_t* __restrict window = prefix;
    if (plan.Box <= 8) {
      for (int32_t x = 0; x < width; ++x) window[x] = 0;
      for (int32_t d = -plan.Left; d <= plan.Right; ++d) {
        const int32_t lo = Greater(0, -d);
        const int32_t hi = Lesser(width, width - d);
        for (int32_t x = lo; x < hi; ++x) window[x] += columns[x + d];
      }
    } else {
      // Running sums, then differences; the running sums stay below 255 x Width x Height.
      uint32_t running = 0;
      uint32_t* __restrict ends = window + width + 16;
      for (int32_t x = 0; x < width; ++x) {
        running += columns[x];
        ends[x] = running;
      }
      for (int32_t x = 0; x < width; ++x) {
        const int32_t x0 = Greater(x - plan.Left, 0);
        const int32_t x1 = Lesser(x + plan.Right, width - 1);
        window[x] = ends[x1] - (x0 > 0 ? ends[x0 - 1] : 0u);
      }
    }
    for (int32_t x = 0; x < width; ++x) {
      const int32_t x0 = Greater(x - plan.Left, 0);
      const int32_t x1 = Lesser(x + plan.Right, width - 1);
      const uint32_t missing = area - rowsInside * static_cast<uint32_t>(x1 - x0 + 1);
      const uint32_t total = window[x] + missing * ((src[x] >> (8 * c)) & 0xFFu);
      const auto quotient = static_cast<uint32_t>(static_cast<float>(total) * reciprocal);
      colours[x] |= quotient << (8 * c);
    }
  }
  for (int32_t x = 0; x < width; ++x) {
    dst[x] = offsets[x] < 0 ? (dst[x] & 0xFF000000u) | colours[x] : dst[x];
  }
}

void BoundaryRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  ColumnExtreme<true> darkest(plan.Planes[0], plan.Width, plan.Height, -plan.Below, plan.Above,
                              first, scratch);
  ColumnExtreme<false> brightest(plan.Planes[1], plan.Width, plan.Height, -plan.Below, plan.Above,
                                 first, scratch);
  ColumnSums sums(plan, first, scratch);
  int32_t* offsets = reinterpret_cast<int32_t*>(Take(scratch, plan.Width));
  uint64_t* prefix[3];
  for (uint64_t*& channel : prefix) {
    channel = reinterpret_cast<uint64_t*>(Take(scratch, 2 * (int64_t{plan.Width} + 1)));
  }
  uint32_t* colours = Take(scratch, plan.Width);
  const int64_t area = int64_t{plan.Box} * plan.Box;
  const TDivider divide(static_cast<uint64_t>(area));
  const bool nearer = plan.Kind == rkMaxMin;
  const ptrdiff_t n = plan.Width;
  const auto hysteresis = static_cast<uint32_t>(plan.Hysteresis);
  const uint32_t widthBits = static_cast<uint32_t>(plan.WidthBits);
  const uint32_t columnMask = (1u << widthBits) - 1u;
  const int32_t placeTop = plan.PlaceTop;
  const int32_t width = plan.Width;
  for (int32_t r = first; r < end; ++r) {
    const uint32_t* dark = darkest.Next(r);
    const uint32_t* bright = brightest.Next(r);
    uint32_t* const* sum = sums.Next(r);
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* src = plan.Source + at;
    uint32_t* dst = plan.Dest + at;
    const uint32_t rowPlace = static_cast<uint32_t>(placeTop - r) << widthBits;
    const uint32_t* __restrict darkRow = dark;
    const uint32_t* __restrict brightRow = bright;
    int32_t* __restrict offsetRow = offsets;
    uint32_t averages = 0;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t lc = src[x] >> 24;
      const uint32_t ld = darkRow[x] >> 24;
      const uint32_t lb = brightRow[x] >> 24;
      const uint32_t centre = rowPlace | static_cast<uint32_t>(x);
      // The nearer (farther) extreme; equal distances take the bright one.
      const bool takeDark = nearer ? lc - ld < lb - lc : lc - ld > lb - lc;
      const uint32_t darkPlace = ld == lc ? centre : PlaceOfMin(darkRow[x]);
      const uint32_t brightPlace = lb == lc ? centre : PlaceOfMax(brightRow[x]);
      const uint32_t place = takeDark ? darkPlace : brightPlace;
      const int32_t offset = (placeTop - static_cast<int32_t>(place >> widthBits)) * width +
                             static_cast<int32_t>(place & columnMask);
      offsetRow[x] = lb - ld > hysteresis ? offset : -1;
      averages |= static_cast<uint32_t>(lb - ld <= hysteresis);
    }
    CopyFromOffsets(plan, dst, offsets);
    if (averages == 0) continue;
    if (plan.Box <= kFloatAverageBox) {
      AverageRow(plan, r, sum, reinterpret_cast<uint32_t*>(prefix[0]), colours, offsets);
      continue;
    }
    // Window sums from running sums along the row of column sums; narrow windows add theirs.
    const bool narrow = plan.Box <= 8;
    for (int c = 0; c < 3 && !narrow; ++c) {
      prefix[c][0] = 0;
      for (int32_t x = 0; x < width; ++x) prefix[c][x + 1] = prefix[c][x] + sum[c][x];
    }
    const int64_t rowsInside = RowsInside(plan, r);
    for (int32_t x = 0; x < width; ++x) {
      if (offsets[x] >= 0) continue;
      // The average, positions outside counting as the centre.
      const uint32_t centre = src[x];
      const int32_t x0 = Greater(x - plan.Left, 0);
      const int32_t x1 = Lesser(x + plan.Right, width - 1);
      const auto missing = static_cast<uint64_t>(area - rowsInside * (x1 - x0 + 1));
      uint32_t average = 0;
      for (int c = 0; c < 3; ++c) {
        uint64_t inside = 0;
        if (narrow) {
          for (int32_t p = x0; p <= x1; ++p) inside += sum[c][p];
        } else {
          inside = prefix[c][x1 + 1] - prefix[c][x0];
        }
        const uint64_t total = inside + missing * ((centre >> (8 * c)) & 0xFFu);
        average |= static_cast<uint32_t>(divide(total)) << (8 * c);
      }
      dst[x] = (dst[x] & 0xFF000000u) | average;
    }
  }
}

// Bit i set when p[i] == v, for i in 0 .. 31 (reads 32 bytes).
inline uint32_t EqualMask32(const uint8_t* p, uint8_t v) {
#if defined(__AVX2__)
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  return static_cast<uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(v)))));
#elif defined(__SSE2__)
  const __m128i level = _mm_set1_epi8(static_cast<char>(v));
  const auto half = [&](const uint8_t* q) {
    return static_cast<uint32_t>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), level)));
  };
  return half(p) | half(p + 16) << 16;
#else
  uint32_t mask = 0;
  for (int i = 0; i < 32; ++i) mask |= static_cast<uint32_t>(p[i] == v) << i;
  return mask;
#endif
}

// The pixel of rank `rank` (0 = first) among the window positions of luminance v in window
// order, positions outside the picture standing for the centre. `total` is their number; a
// rank in the later half is counted from the end of the window backwards, so at most half of
// its rows are read.
const uint32_t* LocateRank(const TRankPlan& plan, int32_t r, int32_t x, uint32_t v, int64_t rank,
                           int64_t total) {
  const uint32_t* centre = plan.Source + static_cast<ptrdiff_t>(r) * plan.Width + x;
  const bool centreLevel = plan.Luminance[static_cast<ptrdiff_t>(r) * plan.Width + x] == v;
  const int64_t box = plan.Box;
  const int32_t top = Lesser(r + plan.Above, plan.Height - 1);
  const int32_t bottom = Greater(r - plan.Below, 0);
  const int32_t x0 = Greater(x - plan.Left, 0);
  const int32_t x1 = Lesser(x + plan.Right, plan.Width - 1);
  const int64_t leftOut = x0 - (x - plan.Left);
  const int64_t rightOut = (x + plan.Right) - x1;
  const int32_t count = x1 - x0 + 1;
  if (2 * rank >= total) {
    int64_t back = total - 1 - rank;
    if (centreLevel) {
      const int64_t below = int64_t{bottom - (r - plan.Below)} * box;
      if (back < below) return centre;
      back -= below;
    }
    for (int32_t row = bottom; row <= top; ++row) {
      if (centreLevel) {
        if (back < rightOut) return centre;
        back -= rightOut;
      }
      const uint8_t* lum = plan.Luminance + static_cast<ptrdiff_t>(row) * plan.Width + x0;
      for (int32_t c = (count - 1) / 32 * 32; c >= 0; c -= 32) {
        uint32_t mask = EqualMask32(lum + c, static_cast<uint8_t>(v));
        if (count - c < 32) mask &= (1u << (count - c)) - 1u;
        const int here = __builtin_popcount(mask);
        if (back < here) {
          for (; back > 0; --back) mask &= ~(0x80000000u >> __builtin_clz(mask));
          return plan.Source + static_cast<ptrdiff_t>(row) * plan.Width + x0 + c + 31 -
                 __builtin_clz(mask);
        }
        back -= here;
      }
      if (centreLevel) {
        if (back < leftOut) return centre;
        back -= leftOut;
      }
    }
    // What remains are the rows above the picture, all standing for the centre.
    return centre;
  }
  if (centreLevel) {
    const int64_t above = int64_t{r + plan.Above - top} * box;
    if (rank < above) return centre;
    rank -= above;
  }
  for (int32_t row = top; row >= bottom; --row) {
    if (centreLevel) {
      if (rank < leftOut) return centre;
      rank -= leftOut;
    }
    const uint8_t* lum = plan.Luminance + static_cast<ptrdiff_t>(row) * plan.Width + x0;
    for (int32_t c = 0; c < count; c += 32) {
      uint32_t mask = EqualMask32(lum + c, static_cast<uint8_t>(v));
      if (count - c < 32) mask &= (1u << (count - c)) - 1u;
      const int here = __builtin_popcount(mask);
      if (rank < here) {
        for (; rank > 0; --rank) mask &= mask - 1u;
        return plan.Source + static_cast<ptrdiff_t>(row) * plan.Width + x0 + c +
               __builtin_ctz(mask);
      }
      rank -= here;
    }
    if (centreLevel) {
      if (rank < rightOut) return centre;
      rank -= rightOut;
    }
  }
  // What remains are the rows below the picture, all standing for the centre.
  return centre;
}

// ---------------------------------------------------------------------------------------------
// 3 x 3 windows: Median, Minimum and Maximum
//
// A window index packs the window row (0: the stored row above the target, 1: its own, 2: the
// one below) over the window column (0: the one to the left, 1: its own, 2: the one to the
// right) as row << 2 | column, so that it grows in window order; the centre is 5. The Median's
// keys are 16 bits wide, a luminance above such an index, and run sixteen at a time.

typedef int16_t TKeys16 __attribute__((vector_size(32)));
typedef uint32_t TWide8 __attribute__((vector_size(32)));
typedef int32_t TMask8 __attribute__((vector_size(32)));

// Vectors go by reference: wider ones than the instruction set's registers would change the
// calling convention (harmless here, as everything is inlined, but warned about).
template <class V>
inline void LoadVector(V& v, const void* from) {
  __builtin_memcpy(&v, from, sizeof v);
}
template <class V>
inline void StoreVector(void* to, const V& v) {
  __builtin_memcpy(to, &v, sizeof v);
}

// a := the lesser (greater) of a and b, for keys and vectors of keys.
template <class T>
inline void KeepLesser(T& a, const T& b) {
  a = b < a ? b : a;
}
template <class T>
inline void KeepGreater(T& a, const T& b) {
  a = b > a ? b : a;
}

// Runs group(x0) for x0 = first, first + kSize, .. while a group of kSize ends before `end`,
// then once for the group that ends there (end - first >= kSize), which may overlap the one
// before it.
template <int kSize, class Index, class Group>
inline void InGroupsOf(Index first, Index end, Group group) {
  for (Index x0 = first; x0 + kSize < end; x0 += kSize) group(x0);
  group(end - kSize);
}

#if defined(__AVX2__)
// b where the sign of `mask` is set, else a. (GCC turns a blend's mask that is used more than
// once into a comparison with zero of its own, an instruction the blend does not need.)
inline __m256 BlendBySign(__m256 a, __m256 b, __m256 mask) {
  __m256 blend;
  __asm__("vblendvps %3, %2, %1, %0" : "=x"(blend) : "x"(a), "xm"(b), "x"(mask));
  return blend;
}
#endif

// dst[k] := the pixel at window index index[k] of the target x0 + k, for k in 0 .. 15, from the
// rows above, own and below (`rows`, in window order), read at x0 - 1 .. x0 + 16. Each bit of
// the index chooses between two candidates in turn: the row among the three of each column,
// then the column.
inline void Pick3(const uint32_t* const* rows, ptrdiff_t x0, const TKeys16& index, uint32_t* dst) {
  for (int half = 0; half < 2; ++half) {
    const ptrdiff_t at = x0 + 8 * half - 1;
#if defined(__AVX2__)
    // Each shift moves one bit of the index into the sign, which is all a blend reads.
    const __m256i keys = reinterpret_cast<__m256i>(index);
    const __m256i bits = _mm256_cvtepu16_epi32(half == 0 ? _mm256_castsi256_si128(keys)
                                                         : _mm256_extracti128_si256(keys, 1));
    const __m256 below = _mm256_castsi256_ps(_mm256_slli_epi32(bits, 28));
    const __m256 own = _mm256_castsi256_ps(_mm256_slli_epi32(bits, 29));
    const __m256 right = _mm256_castsi256_ps(_mm256_slli_epi32(bits, 30));
    const __m256 middle = _mm256_castsi256_ps(_mm256_slli_epi32(bits, 31));
    const auto load = [](const uint32_t* from) {
      return _mm256_loadu_ps(reinterpret_cast<const float*>(from));
    };
    __m256 columns[3];
    for (int c = 0; c < 3; ++c) {
      const __m256 upper = BlendBySign(load(rows[0] + at + c), load(rows[1] + at + c), own);
      columns[c] = BlendBySign(upper, load(rows[2] + at + c), below);
    }
    const __m256 left = BlendBySign(columns[0], columns[1], middle);
    _mm256_storeu_ps(reinterpret_cast<float*>(dst + 8 * half),
                     BlendBySign(left, columns[2], right));
#else
    const TWide8 bits =
        half == 0
            ? __builtin_convertvector(__builtin_shufflevector(index, index, 0, 1, 2, 3, 4, 5, 6, 7),
                                      TWide8)
            : __builtin_convertvector(
                  __builtin_shufflevector(index, index, 8, 9, 10, 11, 12, 13, 14, 15), TWide8);
    const TMask8 below = reinterpret_cast<TMask8>(bits << 28) < 0;
    const TMask8 own = reinterpret_cast<TMask8>(bits << 29) < 0;
    const TMask8 right = reinterpret_cast<TMask8>(bits << 30) < 0;
    const TMask8 middle = reinterpret_cast<TMask8>(bits << 31) < 0;
    TWide8 columns[3];
    for (int c = 0; c < 3; ++c) {
      TWide8 upper;
      TWide8 middleRow;
      TWide8 lower;
      LoadVector(upper, rows[0] + at + c);
      LoadVector(middleRow, rows[1] + at + c);
      LoadVector(lower, rows[2] + at + c);
      upper = own ? middleRow : upper;
      columns[c] = below ? lower : upper;
    }
    const TWide8 left = middle ? columns[1] : columns[0];
    StoreVector(dst + 8 * half, right ? columns[2] : left);
#endif
  }
}

// Sorts three keys: a <= b <= c afterwards.
template <class T>
inline void Sort3(T& a, T& b, T& c) {
  T low = a;
  KeepLesser(low, b);
  T high = a;
  KeepGreater(high, b);
  T lowOfRest = high;
  KeepLesser(lowOfRest, c);
  KeepGreater(c, high);
  a = low;
  KeepLesser(a, lowOfRest);
  b = low;
  KeepGreater(b, lowOfRest);
}

// a := the median of a, b and c.
template <class T>
inline void Middle3(T& a, const T& b, const T& c) {
  T high = a;
  KeepGreater(high, b);
  KeepLesser(high, c);
  KeepLesser(a, b);
  KeepGreater(a, high);
}

// The median of nine distinct keys in three sorted columns (sorted[k][column] the k-th least of
// the column): the median of the columns' greatest low, their middle middle and their least
// high, into `median`. The middles are overwritten.
template <class T>
inline void MedianOfSortedColumns(T (&sorted)[3][3], T& median) {
  median = sorted[0][0];
  KeepGreater(median, sorted[0][1]);
  KeepGreater(median, sorted[0][2]);
  T highs = sorted[2][0];
  KeepLesser(highs, sorted[2][1]);
  KeepLesser(highs, sorted[2][2]);
  Middle3(sorted[1][0], sorted[1][1], sorted[1][2]);
  Middle3(median, sorted[1][0], highs);
}

// sorted[k] + x0 .. x0 + 15 := the k-th least keys of the columns x0 .. x0 + 15 of the rows
// above (the keys `above`), own and below of a target row, each key with its row's part of the
// window index.
inline void SortColumns3(const TKeys16& above, const int16_t* own, const int16_t* below,
                         int16_t* const* sorted, ptrdiff_t x0) {
  TKeys16 k[3] = {above};
  LoadVector(k[1], own + x0);
  LoadVector(k[2], below + x0);
#pragma GCC unroll 3
  for (int row = 0; row < 3; ++row) k[row] |= static_cast<int16_t>(15 - (row << 2));
  Sort3(k[0], k[1], k[2]);
  StoreVector(sorted[0] + x0, k[0]);
  StoreVector(sorted[1] + x0, k[1]);
  StoreVector(sorted[2] + x0, k[2]);
}

// keys[x] := the luminance of pixel x of the row `src`, << 4 (the Median's key less its window
// index); unless words is null, words := the row with each pixel's luminance in byte 3 (words
// may be src). kSort: the row is the one above a target row whose own and lower rows' keys are
// `own` and `below` (width >= 16), and its columns are sorted into `sorted` as they are made.
template <bool kSort>
void MakeKeys3(const uint32_t* src, uint32_t* words, int16_t* __restrict keys, int32_t width,
               const int16_t* own, const int16_t* below, int16_t* const* sorted) {
#if defined(__AVX2__)
  if (width >= 16) {
    // The weighted sums s of sixteen pixels by two multiply-adds and a pairwise add, in the
    // order 0-3, 8-11 | 4-7, 12-15 (which the unpacks below keep for the words). s x 10486 >>
    // 16 exceeds 16 s / 100 by less than 0.1, so its bits above the lowest four are s div 100
    // for every s up to 255 x 100: the key. The last group may overlap the one before it; the
    // luminance does not read byte 3.
    const __m256i weights = _mm256_set1_epi32(30 << 16 | 59 << 8 | 11);
    const __m256i reciprocal = _mm256_set1_epi16(10486);
    const __m256i levelBits = _mm256_set1_epi16(static_cast<short>(0xFFF0));
    const __m256i byte3 = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    InGroupsOf<16>(ptrdiff_t{0}, ptrdiff_t{width}, [&](ptrdiff_t x0) {
      const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x0));
      const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x0 + 8));
      const __m256i sums = _mm256_hadd_epi16(_mm256_maddubs_epi16(low, weights),
                                             _mm256_maddubs_epi16(high, weights));
      const __m256i levels = _mm256_and_si256(_mm256_mulhi_epu16(sums, reciprocal), levelBits);
      const __m256i inOrder = _mm256_permute4x64_epi64(levels, 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys + x0), inOrder);
      if (kSort) SortColumns3(reinterpret_cast<TKeys16>(inOrder), own, below, sorted, x0);
      if (words != nullptr) {
        const __m256i top = _mm256_slli_epi16(levels, 4);
        const __m256i zero = _mm256_setzero_si256();
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + x0),
                            _mm256_blendv_epi8(low, _mm256_unpacklo_epi16(zero, top), byte3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + x0 + 8),
                            _mm256_blendv_epi8(high, _mm256_unpackhi_epi16(zero, top), byte3));
      }
    });
    return;
  }
#endif
  for (int32_t x = 0; x < width; ++x) {
    const uint32_t l = Luma(src[x]);
    keys[x] = static_cast<int16_t>(l << 4);
    if (words != nullptr) words[x] = (src[x] & 0xFFFFFFu) | l << 24;
  }
  if (!kSort) return;
  InGroupsOf<16>(ptrdiff_t{0}, ptrdiff_t{width}, [&](ptrdiff_t x0) {
    TKeys16 above;
    LoadVector(above, keys + x0);
    SortColumns3(above, own, below, sorted, x0);
  });
}

// The Median of the 3 x 3 window of target x, from the keys and pixels of the rows above, own
// and below (null outside the picture) of a row `width` long, positions outside standing for
// the centre. Its list is ordered by decreasing luminance, then by window index, so its entry
// 4 is the median of the nine keys L << 4 | (15 - index), which are all different.
inline uint32_t Median3At(const int16_t* const* keys, const uint32_t* const* pixels, int32_t x,
                          int32_t width) {
  const auto inside = [&](int row, int32_t column) {
    return keys[row] != nullptr && column >= 0 && column < width;
  };
  int16_t sorted[3][3];
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const int32_t c = x - 1 + column;
      sorted[row][column] = static_cast<int16_t>((inside(row, c) ? keys[row][c] : keys[1][x]) |
                                                 (15 - (row << 2 | column)));
    }
  }
  for (int column = 0; column < 3; ++column)
    Sort3(sorted[0][column], sorted[1][column], sorted[2][column]);
  int16_t median = 0;
  MedianOfSortedColumns(sorted, median);
  const int index = 15 - (median & 15);
  const int32_t c = x - 1 + (index & 3);
  return inside(index >> 2, c) ? pixels[index >> 2][c] : pixels[1][x];
}

// The 3 x 3 Median of the target rows first .. end - 1. Each column's three keys are sorted
// once for the three targets that read it: the order within a column depends on the luminance
// and the row alone, so the column's part of the index is subtracted afterwards. A row at the
// picture's top or bottom has a row outside that stands for the centre, whose key differs from
// target to target, so there each target sorts its own columns.
// The keys are made here from the colours as the rows are reached (no plane of luminance goes
// through memory), with the luminance stored into byte 3 as the 3 x 3 extremes do (see below):
// in place in the rows that only this band reads, into scratch rows, which the picks read, for
// the band's first and last rows and the rows it reads of its neighbours'.
void Median3Rows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  const int32_t width = plan.Width;
  // Stored rows first - 1 .. end, four at a time: row p in slot p & 3.
  int16_t* keys[4];
  uint32_t* words[4];
  for (int s = 0; s < 4; ++s) {
    keys[s] = reinterpret_cast<int16_t*>(Take(scratch, n / 2 + 16));
    words[s] = Take(scratch, n);
  }
  // Sorted rows, with room for a column on either side.
  int16_t* sorted[3];
  for (int16_t*& row : sorted) row = reinterpret_cast<int16_t*>(Take(scratch, n / 2 + 24)) + 16;
  const uint32_t* wordsOf[4] = {};
  int32_t made = Greater(first - 1, 0);
  const int32_t last = Lesser(end, plan.Height - 1);
  for (int32_t r = first; r < end; ++r) {
    for (; made <= Lesser(r + 1, last); ++made) {
      uint32_t* src = plan.Source + made * n;
      const int s = made & 3;
      // Rows another band reads go to scratch; the dispatcher stores theirs.
      uint32_t* into = made > first && made < end - 1 ? src : words[s];
      // The row above an inner target row sorts that row's columns as it is made.
      if (made == r + 1 && r > 0 && width >= 18) {
        MakeKeys3<true>(src, into, keys[s], width, keys[r & 3], keys[(r - 1) & 3], sorted);
      } else {
        MakeKeys3<false>(src, into, keys[s], width, nullptr, nullptr, nullptr);
      }
      wordsOf[s] = into;
    }
    // The rows above, own and below, null outside the picture.
    const int16_t* key[3];
    const uint32_t* pixels[3];
    for (int row = 0; row < 3; ++row) {
      const int32_t m = r + 1 - row;
      const bool inside = m >= 0 && m < plan.Height;
      key[row] = inside ? keys[m & 3] : nullptr;
      pixels[row] = inside ? wordsOf[m & 3] : nullptr;
    }
    uint32_t* dst = plan.Dest + r * n;
    if (plan.Height < 2 || width < 18) {
      for (int32_t x = 0; x < width; ++x) dst[x] = Median3At(key, pixels, x, width);
      continue;
    }
    if (key[0] == nullptr || key[2] == nullptr) {
      dst[0] = Median3At(key, pixels, 0, width);
      dst[n - 1] = Median3At(key, pixels, width - 1, width);
      // The row outside: its picks read the own row instead and are sent to the centre.
      const int outside = key[0] == nullptr ? 0 : 2;
      const uint32_t* read[3] = {pixels[0], pixels[1], pixels[2]};
      read[outside] = pixels[1];
      InGroupsOf<16>(ptrdiff_t{1}, n - 1, [&](ptrdiff_t x0) {
        TKeys16 centre;
        LoadVector(centre, key[1] + x0);
        TKeys16 k[3][3];
#pragma GCC unroll 3
        for (int row = 0; row < 3; ++row) {
#pragma GCC unroll 3
          for (int column = 0; column < 3; ++column) {
            if (row == outside) {
              k[row][column] = centre;
            } else {
              LoadVector(k[row][column], key[row] + x0 - 1 + column);
            }
            k[row][column] |= static_cast<int16_t>(15 - (row << 2 | column));
          }
        }
#pragma GCC unroll 3
        for (int column = 0; column < 3; ++column) Sort3(k[0][column], k[1][column], k[2][column]);
        TKeys16 median;
        MedianOfSortedColumns(k, median);
        TKeys16 index = 15 - (median & 15);
        const TKeys16 toCentre = TKeys16{} + 5;
        index = (index >> 2) == static_cast<int16_t>(outside) ? toCentre : index;
        Pick3(read, x0, index, dst + x0);
      });
      continue;
    }
    // The first and last targets' columns outside the picture stand for their centres: sorted,
    // their keys pad the sorted rows.
    for (int rank = 0; rank < 3; ++rank) {
      sorted[rank][-1] = static_cast<int16_t>(key[1][0] | (7 + 4 * rank));
      sorted[rank][n] = static_cast<int16_t>(key[1][n - 1] | (7 + 4 * rank));
    }
    // The median keys of the targets x0 .. x0 + 15 from the three columns' lows, middles and
    // highs, each less its column's index.
    const auto medianOf = [&](ptrdiff_t x0, TKeys16& median) {
      TKeys16 k[3][3];
#pragma GCC unroll 3
      for (int rank = 0; rank < 3; ++rank) {
        LoadVector(k[rank][0], sorted[rank] + x0 - 1);
        LoadVector(k[rank][1], sorted[rank] + x0);
        LoadVector(k[rank][2], sorted[rank] + x0 + 1);
        k[rank][1] -= 1;
        k[rank][2] -= 2;
      }
      MedianOfSortedColumns(k, median);
    };
    InGroupsOf<16>(ptrdiff_t{1}, n - 1, [&](ptrdiff_t x0) {
      TKeys16 median;
      medianOf(x0, median);
      Pick3(pixels, x0, 15 - (median & 15), dst + x0);
    });
    // The first and last targets, from a group that holds each.
    const auto pickAt = [&](ptrdiff_t x, int16_t median) {
      const int index = 15 - (median & 15);
      const ptrdiff_t c = x - 1 + (index & 3);
      return c < 0 || c >= n ? pixels[1][x] : pixels[index >> 2][c];
    };
    TKeys16 median;
    medianOf(0, median);
    dst[0] = pickAt(0, median[0]);
    medianOf(n - 16, median);
    dst[n - 1] = pickAt(n - 1, median[15]);
  }
}

// Minimum (kMin) and Maximum of a 3 x 3 window on whole pixels, eight at a time: each stored
// row's first darkest (brightest) pixel of every three neighbours, in window order, is made
// once for the three target rows that read it, then those of the three rows are joined in
// window order, and the centre wins every tie, so a target takes another pixel only when that
// is strictly darker (brighter). Two target rows at a time share the join of the two rows both
// read. The pixels carry their luminance in byte 3 (as the plain pass's copies do), made here
// row by row from the colours: a stored row that only this band reads is done in place; the
// band's first and last rows, which the next bands read, and the rows it reads of theirs are
// made into scratch rows and left to the dispatcher, which stores their luminance when every
// band has finished (no band writes a row another one reads).

// True when `challenger`'s luminance (byte 3) is strictly below (kMin) or above `best`'s.
template <bool kMin>
inline bool Beats(uint32_t challenger, uint32_t best) {
  return kMin ? challenger >> 24 < best >> 24 : challenger >> 24 > best >> 24;
}

// The first extreme of a and of b, a coming first in window order.
template <bool kMin>
inline uint32_t FirstExtreme(uint32_t a, uint32_t b) {
  return Beats<kMin>(b, a) ? b : a;
}

// The eight pixels at `from`, held in a register: GCC would otherwise read them again from
// memory for each instruction that takes them (KeepFirstExtreme has two), and these passes are
// bound by their loads.
inline void LoadPixels8(TWide8& pixels, const uint32_t* from) {
  LoadVector(pixels, from);
#if defined(__AVX2__)
  __asm__("" : "+x"(pixels));
#endif
}

// best := the first extreme of the eight pixels of best and of `later`, which come after them
// in window order: `later` only where its luminance is strictly lower (kMin) or higher.
template <bool kMin>
inline void KeepFirstExtreme(TWide8& best, const TWide8& later) {
#if defined(__AVX2__)
  // Byte 3 of each lane decides, and it is all the blend reads of the comparison: where best's
  // luminance equals the bytewise extreme of the two, best holds.
  const __m256i b = reinterpret_cast<__m256i>(best);
  const __m256i l = reinterpret_cast<__m256i>(later);
  const __m256i extreme = kMin ? _mm256_min_epu8(b, l) : _mm256_max_epu8(b, l);
  const __m256 holds = _mm256_castsi256_ps(_mm256_cmpeq_epi8(extreme, b));
  best = reinterpret_cast<TWide8>(
      _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(l), _mm256_castsi256_ps(b), holds)));
#else
  const TMask8 beats = kMin ? later >> 24 < best >> 24 : later >> 24 > best >> 24;
  best = beats ? later : best;
#endif
}

// Byte 3 of the eight pixels at `to` := the luminance of those at `from` (which may be `to`),
// the other bytes copied.
inline void StoreLuminance8(const uint32_t* from, uint32_t* to) {
#if defined(__AVX2__)
  // The weighted sum s by two multiply-adds, as StoreLuminance; s x 167773 (below 2^32) holds
  // s div 100 in its top byte for every s up to 255 x 100, which a byte blend puts in place.
  const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
  const __m256i sum =
      _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, _mm256_set1_epi32(30 << 16 | 59 << 8 | 11)),
                        _mm256_set1_epi16(1));
  const __m256i level = _mm256_mullo_epi32(sum, _mm256_set1_epi32(167773));
  _mm256_storeu_si256(
      reinterpret_cast<__m256i*>(to),
      _mm256_blendv_epi8(pixels, level, _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
#else
  TWide8 p;
  LoadVector(p, from);
  const TWide8 sum = (p & 0xFFu) * 11u + (p >> 8 & 0xFFu) * 59u + (p >> 16 & 0xFFu) * 30u;
  StoreVector(to, (p & 0xFFFFFFu) | (sum * 167773u & 0xFF000000u));
#endif
}

// words := the row `src` with each pixel's luminance in byte 3 (words may be src); best[x] :=
// the first extreme of words[x - 1 .. x + 1] inside the row.
template <bool kMin>
void MakeRow3(const uint32_t* src, uint32_t* words, uint32_t* __restrict best, int32_t width) {
  if (width < 10) {
    for (int32_t x = 0; x < width; ++x) words[x] = (src[x] & 0xFFFFFFu) | Luma(src[x]) << 24;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t b = x > 0 ? FirstExtreme<kMin>(words[x - 1], words[x]) : words[x];
      best[x] = x + 1 < width ? FirstExtreme<kMin>(b, words[x + 1]) : b;
    }
    return;
  }
  // A group done twice reads its colours again; the luminance does not read byte 3.
  InGroupsOf<8>(0, width, [&](int32_t x0) { StoreLuminance8(src + x0, words + x0); });
  best[0] = FirstExtreme<kMin>(words[0], words[1]);
  best[width - 1] = FirstExtreme<kMin>(words[width - 2], words[width - 1]);
  InGroupsOf<8>(1, width - 1, [&](int32_t x0) {
    TWide8 b;
    TWide8 next;
    LoadPixels8(b, words + x0 - 1);
    LoadPixels8(next, words + x0);
    KeepFirstExtreme<kMin>(b, next);
    LoadPixels8(next, words + x0 + 1);
    KeepFirstExtreme<kMin>(b, next);
    StoreVector(best + x0, b);
  });
}

// The targets of one or two (kPair) rows from the row extremes above .. below (in window order)
// and their centres: `low` (centre lowCentre) takes rows above, own and below; `high` the row
// above `above` (highAbove), `above` and `own`. The centre comes first: it wins every tie.
template <bool kMin, bool kPair>
void JoinRows3(const uint32_t* __restrict highAbove, const uint32_t* __restrict above,
               const uint32_t* __restrict own, const uint32_t* __restrict below,
               const uint32_t* __restrict lowCentre, const uint32_t* __restrict highCentre,
               uint32_t* __restrict low, uint32_t* __restrict high, int32_t width) {
  if (width < 8) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t shared = FirstExtreme<kMin>(above[x], own[x]);
      low[x] = FirstExtreme<kMin>(lowCentre[x], FirstExtreme<kMin>(shared, below[x]));
      if (!kPair) continue;
      high[x] = FirstExtreme<kMin>(highCentre[x], FirstExtreme<kMin>(highAbove[x], shared));
    }
    return;
  }
  // to := the first extreme of the centre and `extreme`.
  const auto store = [](uint32_t* to, const uint32_t* centre, const TWide8& extreme) {
    TWide8 c;
    LoadPixels8(c, centre);
    KeepFirstExtreme<kMin>(c, extreme);
    StoreVector(to, c);
  };
  InGroupsOf<8>(0, width, [&](int32_t x0) {
    TWide8 shared;
    TWide8 next;
    LoadPixels8(shared, above + x0);
    LoadPixels8(next, own + x0);
    KeepFirstExtreme<kMin>(shared, next);
    TWide8 l = shared;
    LoadPixels8(next, below + x0);
    KeepFirstExtreme<kMin>(l, next);
    store(low + x0, lowCentre + x0, l);
    if (!kPair) return;
    TWide8 h;
    LoadPixels8(h, highAbove + x0);
    KeepFirstExtreme<kMin>(h, shared);
    store(high + x0, highCentre + x0, h);
  });
}

template <bool kMin>
void Extreme3Rows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  const int32_t width = plan.Width;
  // Stored rows first - 1 .. end, four at a time: row p in slot p & 3.
  uint32_t* words[4];
  uint32_t* best[4];
  for (int s = 0; s < 4; ++s) {
    words[s] = Take(scratch, n);
    best[s] = Take(scratch, n);
  }
  const uint32_t* wordsOf[4] = {};
  int32_t made = Greater(first - 1, 0);
  const int32_t last = Lesser(end, plan.Height - 1);
  const auto make = [&](int32_t upTo) {
    for (; made <= Lesser(upTo, last); ++made) {
      uint32_t* src = plan.Source + made * n;
      const int s = made & 3;
      // Rows another band reads go to scratch; the dispatcher stores theirs.
      uint32_t* into = made > first && made < end - 1 ? src : words[s];
      MakeRow3<kMin>(src, into, best[s], width);
      wordsOf[s] = into;
    }
  };
  // Row p's extremes; a row outside the picture stands for `instead`.
  const auto row = [&](int32_t p, int32_t instead) {
    return best[(p >= 0 && p < plan.Height ? p : instead) & 3];
  };
  for (int32_t r = first; r < end; r += 2) {
    make(r + 2);
    const bool pair = r + 1 < end;
    const auto join = pair ? &JoinRows3<kMin, true> : &JoinRows3<kMin, false>;
    join(pair ? row(r + 2, r + 1) : nullptr, row(r + 1, r), best[r & 3], row(r - 1, r),
         wordsOf[r & 3], pair ? wordsOf[(r + 1) & 3] : nullptr, plan.Dest + r * n,
         pair ? plan.Dest + (r + 1) * n : nullptr, width);
  }
}

// A luminance histogram with a coarse one of 16 levels beside it.
constexpr int kBins = 256 + 16;

template <class T>
void AddHistogram(T* into, const uint16_t* add) {
  for (int i = 0; i < kBins; ++i) into[i] = static_cast<T>(into[i] + add[i]);
}
template <class T>
void RemoveHistogram(T* into, const uint16_t* remove) {
  for (int i = 0; i < kBins; ++i) into[i] = static_cast<T>(into[i] - remove[i]);
}
template <class T>
void MoveHistogram(T* into, const uint16_t* add, const uint16_t* remove) {
  for (int i = 0; i < kBins; ++i) into[i] = static_cast<T>(into[i] + add[i] - remove[i]);
}

// Sixteen 16-bit counts of a histogram: its coarse levels, or the fine levels of one of them.
// (Passed by reference: the plain path has no registers of this width to pass them in.)
typedef uint16_t TCounts16 __attribute__((vector_size(32)));

// counts := the sixteen counts from `from`, `value` added in lane `lane`.
inline void LoadCounts(TCounts16& counts, const uint16_t* from, uint32_t lane, uint16_t value) {
  const TCounts16 lanes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  __builtin_memcpy(&counts, from, sizeof counts);
  // Nothing to add for the windows inside the picture, most of them, in long runs.
  if (value != 0)
    counts += reinterpret_cast<TCounts16>(lanes == static_cast<uint16_t>(lane)) & value;
}

// Lane i := the sum of lanes i .. 15.
inline void SumFrom(TCounts16& c) {
#if defined(__AVX2__)
  // Within each half first (shifts that stay in their half are quick), then the upper half's
  // sum added to the lower half's lanes.
  __m256i v;
  __builtin_memcpy(&v, &c, sizeof v);
  v = _mm256_add_epi16(v, _mm256_srli_si256(v, 2));
  v = _mm256_add_epi16(v, _mm256_srli_si256(v, 4));
  v = _mm256_add_epi16(v, _mm256_srli_si256(v, 8));
  const __m256i upper = _mm256_permute2x128_si256(v, v, 0x81);
  v = _mm256_add_epi16(v, _mm256_shuffle_epi32(_mm256_shufflelo_epi16(upper, 0), 0));
  __builtin_memcpy(&c, &v, sizeof c);
#else
  const TCounts16 zero = {};
  c += __builtin_shufflevector(c, zero, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
  c += __builtin_shufflevector(c, zero, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16);
  c += __builtin_shufflevector(c, zero, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 16, 16);
  c += __builtin_shufflevector(c, zero, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 16, 16, 16, 16, 16,
                               16);
#endif
}

// The bias that makes counts and sums below 2^16 keep their order as signed 16-bit numbers, so
// that one signed comparison orders them.
constexpr uint16_t kSignBias = 0x8000u;
typedef int16_t TSigned16 __attribute__((vector_size(32)));

// The number of lanes of `sums` (not increasing from lane 0) above `bound`, both biased by
// kSignBias.
inline int32_t LanesAbove(const TCounts16& sums, uint16_t bound) {
  const auto above = reinterpret_cast<const TSigned16&>(sums) > static_cast<int16_t>(bound);
#if defined(__AVX2__)
  __m256i bits;
  __builtin_memcpy(&bits, &above, sizeof bits);
  return __builtin_popcount(static_cast<uint32_t>(_mm256_movemask_epi8(bits))) / 2;
#elif defined(__SSE2__)
  __m128i halves[2];
  __builtin_memcpy(halves, &above, sizeof halves);
  const auto low = static_cast<uint32_t>(_mm_movemask_epi8(halves[0]));
  const auto high = static_cast<uint32_t>(_mm_movemask_epi8(halves[1]));
  return __builtin_popcount(low | high << 16) / 2;
#else
  int32_t lanes = 0;
  for (int i = 0; i < 16; ++i) lanes += above[i] != 0;
  return lanes;
#endif
}

// The level that holds list entry `middle` (counted from the brightest) among sixteen levels
// whose counts are `counts`, `before` entries being brighter than all of them; `before` becomes
// the number brighter than the level found. `before` is biased by kSignBias (modulo 2^16): the
// sums then carry the bias from it, and need no step of their own before the comparison. Without
// branches: the counts from each level up, compared with the entry.
inline int32_t LevelOfEntry(const TCounts16& counts, uint16_t middle, uint16_t& before) {
  TCounts16 from = counts;
  SumFrom(from);
  from += before;
  const int32_t level = LanesAbove(from, static_cast<uint16_t>(middle + kSignBias)) - 1;
  before = static_cast<uint16_t>(from[level] - counts[level]);
  return level;
}

// At[b][k]: the bit of the k-th (0 = first) set bit of byte b.
struct TByteSelect {
  uint8_t At[256][8];
};
constexpr TByteSelect MakeByteSelect() {
  TByteSelect select{};
  for (int b = 0; b < 256; ++b) {
    int k = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (b >> bit & 1) select.At[b][k++] = static_cast<uint8_t>(bit);
    }
  }
  return select;
}
constexpr TByteSelect kByteSelect = MakeByteSelect();

// NthSetBit for a mask below 2^16: the bit of the k-th (0 = first) set bit of mask (k below its
// set bits), without branches: the set bits of the low byte choose the byte, and a table the
// bit in it.
inline int32_t NthSetBit16(uint32_t mask, uint32_t k) {
  const auto below1 = static_cast<uint32_t>(__builtin_popcount(mask & 0xFFu));
  const auto past1 = static_cast<uint32_t>(k >= below1);
  return static_cast<int32_t>(
      8 * past1 + kByteSelect.At[mask >> (8 * past1) & 0xFFu][k - (below1 & (0u - past1))]);
}

// The same for any mask: the set bits of the low half choose the half, then as NthSetBit16
// (fewer steps than choosing among four bytes at once, and by masks: the compiler made a chain
// of conditions a branch, mispredicted whenever a rank's byte changes).
inline int32_t NthSetBit(uint32_t mask, uint32_t k) {
  const auto below = static_cast<uint32_t>(__builtin_popcount(mask & 0xFFFFu));
  const auto past = static_cast<uint32_t>(k >= below);
  return static_cast<int32_t>(16 * past) +
         NthSetBit16(mask >> (16 * past) & 0xFFFFu, k - (below & (0u - past)));
}

#if defined(__AVX2__)
// A window's luminances column by column: 64 bytes a column, stored row s in bytes s mod 32 and
// 32 + s mod 32, so that the rows s .. s + 31 of a column are the 32 bytes from s mod 32 on.
constexpr bool kColumnLuminance = true;

// Stores columns from .. end - 1 of stored row s into the column-wise luminances `into`.
inline void StoreColumnLuminance(const TRankPlan& plan, int32_t s, int32_t from, int32_t end,
                                 uint8_t* into) {
  const uint8_t* __restrict lum = plan.Luminance + static_cast<ptrdiff_t>(s) * plan.Width;
  uint8_t* __restrict at = into + (s & 31);
  for (ptrdiff_t x = from; x < end; ++x) {
    at[64 * x] = lum[x];
    at[64 * x + 32] = lum[x];
  }
}

// The positions of each level in every window row (lane i: stored row r - Below + i) of the
// windows inside the picture along target row r, each kept for the target it was counted at:
// a level met again a few targets on catches up by the columns that entered and left the window
// instead of counting all Box columns again.
class TLevelRows {
 public:
  // A new target row r; `columns`: the luminances column by column.
  void Restart(const TRankPlan& plan, const uint8_t* columns, int32_t r) {
    base_ = columns + ((r - plan.Below) & 31);
    FillWith(at_, at_ + 256, kNever);
  }

  // The positions of level v in every window row of the target at x whose window reaches past
  // the picture's left or right edge: the columns inside counted, `outside` (the columns
  // outside, which stand for the centre, when it is of level v, else 0) added to each row.
  __m256i EdgeCounts(const TRankPlan& plan, int32_t x, uint32_t v, int32_t outside) const {
    const __m256i level = _mm256_set1_epi8(static_cast<char>(v));
    __m256i counts = _mm256_set1_epi8(static_cast<char>(outside));
    const int32_t end = Lesser(x + plan.Right, plan.Width - 1);
    for (int32_t c = Greater(x - plan.Left, 0); c <= end; ++c) {
      counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(Column(c), level));
    }
    return counts;
  }

  __m256i Counts(const TRankPlan& plan, int32_t x, uint32_t v) {
    const __m256i level = _mm256_set1_epi8(static_cast<char>(v));
    __m256i counts;
    if (at_[v] == x - 1) {
      // Most often the target before had the same level: one column in, one out, without the
      // loop's set-up.
      counts = _mm256_add_epi8(
          _mm256_sub_epi8(counts_[v], _mm256_cmpeq_epi8(Column(x + plan.Right), level)),
          _mm256_cmpeq_epi8(Column(x - 1 - plan.Left), level));
    } else if (x - at_[v] <= plan.Box / 2) {
      counts = counts_[v];
      for (int32_t step = at_[v] + 1; step <= x; ++step) {
        counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(Column(step + plan.Right), level));
        counts = _mm256_add_epi8(counts, _mm256_cmpeq_epi8(Column(step - 1 - plan.Left), level));
      }
    } else {
      counts = _mm256_setzero_si256();
#pragma GCC unroll 4
      for (int32_t c = x - plan.Left; c <= x + plan.Right; ++c) {
        counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(Column(c), level));
      }
    }
    counts_[v] = counts;
    at_[v] = x;
    return counts;
  }

 private:
  static constexpr int32_t kNever = -(1 << 30);
  __m256i Column(int32_t c) const {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base_ + 64 * c));
  }

  __m256i counts_[256];
  int32_t at_[256];
  const uint8_t* base_ = nullptr;
};

// The lane (window row, lane i: stored row bottom + i) holding entry `rank` (0 = first in window
// order, rows from the top) given each row's positions in `counts`, and in `within` the rank among
// that row's positions.
inline int32_t LaneOfRank(__m256i counts, uint32_t rank, uint32_t& within) {
  // Lane i := the positions in lanes i and above, saturated at 255 (above any rank):
  // within each half first, then the upper half's sum added to the lower half's lanes.
  __m256i from = counts;
  from = _mm256_adds_epu8(from, _mm256_srli_si256(from, 1));
  from = _mm256_adds_epu8(from, _mm256_srli_si256(from, 2));
  from = _mm256_adds_epu8(from, _mm256_srli_si256(from, 4));
  from = _mm256_adds_epu8(from, _mm256_srli_si256(from, 8));
  from = _mm256_adds_epu8(from, _mm256_shuffle_epi8(_mm256_permute2x128_si256(from, from, 0x81),
                                                    _mm256_setzero_si256()));
  // The lanes whose rows and those above hold more than `rank` positions: 0 .. the row's lane.
  const __m256i past = _mm256_set1_epi8(static_cast<char>(rank + 1));
  const auto more = static_cast<uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(from, past), from)));
  const int32_t lane = __builtin_popcount(more) - 1;
  alignas(32) uint8_t sums[33];
  _mm256_store_si256(reinterpret_cast<__m256i*>(sums), from);
  sums[32] = 0;
  within = rank - sums[lane + 1];
  return lane;
}

// Byte i of the vector is i: the window row of lane i.
inline __m256i WindowRowLanes() {
  return _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                          21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
}

// LocateRank for a window inside the picture and at most 32 columns wide, rank below 255, in two
// steps that a row runs one after the other for all its targets, so that each target's chain
// of dependent steps is short and the targets' chains overlap in the processor. No branch
// depends on the picture.
// First, from the positions of level v in each window row (`counts`, from TLevelRows), their
// running sums from the top row: the window row (0: stored row r - Below) that holds the rank,
// and in `within` the rank among that row's positions.
inline int32_t WindowRowOfRank(const TRankPlan& plan, __m256i counts, uint32_t rank,
                               uint32_t& within) {
  // Lanes from Box on hold other rows.
  const __m256i lanes = WindowRowLanes();
  const __m256i inside = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(plan.Box)), lanes);
  return LaneOfRank(_mm256_and_si256(counts, inside), rank, within);
}

// A place that the general search found, marked so that PlaceInWindowRows keeps it.
constexpr uint32_t kPlaced = 0x80000000u;

// Then, for the targets from .. end - 1 of a row, each place: the target's level v, window row
// and rank `within` among the positions of level v along that row (v | row << 8 | within << 16,
// from WindowRowOfRank) become the offset of the position from the first of the window rows
// (stored row r - Below, column 0), whose luminances start at windowLum.
// kNarrow: the box is at most 16 columns wide; boxBits: its columns' bits (the lowest Box);
// width: the picture's. Not inlined: on its own, its figures stay in registers.
template <bool kNarrow>
__attribute__((noinline)) void PlaceInWindowRows(uint32_t* __restrict places, int32_t from,
                                                 int32_t end, const uint8_t* windowLum,
                                                 int32_t width, int32_t left, uint32_t boxBits) {
  for (int32_t x = from; x < end; ++x) {
    const uint32_t p = places[x];
    if (p & kPlaced) {
      places[x] = p & ~kPlaced;
      continue;
    }
    const auto at = static_cast<uint32_t>(static_cast<int32_t>(p >> 8 & 0xFFu) * width);
    const uint32_t mask =
        EqualMask32(windowLum + at + (x - left), static_cast<uint8_t>(p & 0xFFu)) & boxBits;
    const uint32_t within = p >> 16;
    places[x] =
        static_cast<uint32_t>(x - left) + at +
        static_cast<uint32_t>(kNarrow ? NthSetBit16(mask, within) : NthSetBit(mask, within));
  }
}

// LocateRank for a window at most 32 columns wide that reaches outside the picture, rank below
// 255, from the luminances column by column: each window row's positions of level v, those
// outside the picture counted where the centre is of level v (they stand for it), then as
// WindowRowOfRank and PlaceInWindowRows along the one row that holds the rank.
inline const uint32_t* LocateRankEdge(const TRankPlan& plan, const TLevelRows& levelRows, int32_t r,
                                      int32_t x, uint32_t v, uint32_t rank) {
  const ptrdiff_t n = plan.Width;
  const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n + x;
  const bool centreLevel = plan.Luminance[at] == v;
  const int32_t x0 = Greater(x - plan.Left, 0);
  const int32_t leftOut = x0 - (x - plan.Left);
  const int32_t count = Lesser(x + plan.Right, plan.Width - 1) - x0 + 1;
  const uint32_t boxBits = plan.Box == 32 ? 0xFFFFFFFFu : (1u << plan.Box) - 1u;
  const uint32_t insideBits = (count == 32 ? 0xFFFFFFFFu : (1u << count) - 1u) << leftOut;
  __m256i counts = levelRows.EdgeCounts(plan, x, v, centreLevel ? plan.Box - count : 0);
  const int32_t bottom = r - plan.Below;
  if (bottom < 0 || r + plan.Above >= plan.Height) {
    // Lane i holds window row bottom + i; a row outside the picture (whose lane holds no row
    // of it) stands for the centre in all its positions.
    const __m256i lanes = WindowRowLanes();
    const __m256i rows = _mm256_and_si256(
        _mm256_cmpgt_epi8(lanes, _mm256_set1_epi8(static_cast<char>(Greater(-bottom - 1, -1)))),
        _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(Lesser(plan.Height - bottom, 32))),
                          lanes));
    counts = _mm256_blendv_epi8(_mm256_set1_epi8(static_cast<char>(centreLevel ? plan.Box : 0)),
                                counts, rows);
  }
  uint32_t within = 0;
  const int32_t p = bottom + WindowRowOfRank(plan, counts, rank, within);
  if (p < 0 || p >= plan.Height) return plan.Source + at;
  const ptrdiff_t row = static_cast<ptrdiff_t>(p) * n;
  // Reads up to 31 bytes past column x0: within the picture or its 64 bytes of slack.
  const uint32_t mask =
      (EqualMask32(plan.Luminance + row + x0, static_cast<uint8_t>(v)) << leftOut & insideBits) |
      (centreLevel ? boxBits & ~insideBits : 0u);
  const int32_t c = x - plan.Left + NthSetBit(mask, within);
  return c < 0 || c >= plan.Width ? plan.Source + at : plan.Source + row + c;
}
#else
constexpr bool kColumnLuminance = false;
inline void StoreColumnLuminance(const TRankPlan&, int32_t, int32_t, int32_t, uint8_t*) {}
class TLevelRows {
 public:
  void Restart(const TRankPlan&, const uint8_t*, int32_t) {}
  int Counts(const TRankPlan&, int32_t, uint32_t) { return 0; }
};
inline int32_t WindowRowOfRank(const TRankPlan&, int, uint32_t, uint32_t&) {
  return 0;
}
constexpr uint32_t kPlaced = 0x80000000u;
template <bool kNarrow>
void PlaceInWindowRows(uint32_t*, int32_t, int32_t, const uint8_t*, int32_t, int32_t, uint32_t) {}
inline const uint32_t* LocateRankEdge(const TRankPlan&, const TLevelRows&, int32_t, int32_t,
                                      uint32_t, uint32_t) {
  return nullptr;
}
#endif

// counts += the sixteen counts from `from` (modulo 2^16).
inline void AddCounts(TCounts16& counts, const uint16_t* from) {
  TCounts16 more;
  __builtin_memcpy(&more, from, sizeof more);
  counts += more;
}

// One stored row whose pixels along a target row's window enter or leave the histogram
// difference of a target row of a group. The rows go in pairs, the entering row first, so that
// the sign of each is known from its place; a row outside the picture counts into a histogram
// that nobody reads, so that no row needs a test or a sign of its own.
struct TDeltaRow {
  const uint8_t* Lum;
  uint16_t* Delta;
};

// Adds step (modulo 2^16) to the count of luminance l and to that of its coarse level.
inline void CountLuminance(uint16_t* histogram, uint32_t l, uint16_t step) {
  histogram[l] = static_cast<uint16_t>(histogram[l] + step);
  histogram[256 + (l >> 4)] = static_cast<uint16_t>(histogram[256 + (l >> 4)] + step);
}

// Median: column histograms over the window's rows, slid down the band, and the window's
// histogram slid along each row; T counts a whole window. With 16-bit counts the target rows go
// kMedianRowsPerPass at a time: one window histogram (of the group's middle row) is slid along
// the row for all of them, and each other row keeps only its difference from it, the histogram
// of the few stored rows that enter and leave between the two, slid along with it. Each group
// first finds every target's median level and its rank among equals, then row by row their
// positions, so that the targets' searches overlap in the processor. The band goes down in
// strips of StripColumns target columns, so that the column histograms a strip reads stay in
// the second-level cache; each strip has the columns its windows reach beside it counted too.
template <class T>
void MedianRows(const TRankPlan& shared, int32_t first, int32_t end, uint32_t* scratch) {
  // The plan copied: for all the compiler knows, the stores to the scratch's 32-bit words could
  // change the shared one, and it would read the box's figures again for every target.
  const TRankPlan plan = shared;
  constexpr int32_t kGroup = sizeof(T) == 2 ? kMedianRowsPerPass : 1;
  const ptrdiff_t n = plan.Width;
  uint16_t* columns = reinterpret_cast<uint16_t*>(Take(scratch, n * kBins / 2));
  T* window = reinterpret_cast<T*>(Take(scratch, kBins));
  // The differences of a group's rows, and after them the one that rows outside count into.
  uint16_t* deltas = reinterpret_cast<uint16_t*>(Take(scratch, (kGroup + 1) * kBins / 2));
  uint16_t* const outsideDelta = deltas + kGroup * kBins;
  uint32_t* levels = Take(scratch, kGroup * n);
  uint32_t* totals = Take(scratch, kGroup * n);
  // The column-wise luminances serve the windows inside the picture up to 32 columns wide.
  const bool byColumns = kColumnLuminance && sizeof(T) == 2 && plan.Box <= 32;
  TLevelRows levelRows;
  uint8_t* columnLuminance =
      byColumns ? reinterpret_cast<uint8_t*>(Take(scratch, 16 * n)) : nullptr;
  const int64_t area = int64_t{plan.Box} * plan.Box;
  const int64_t middle = area / 2;
  // (At least four, the rows of a whole group of three.)
  TDeltaRow deltaRows[static_cast<std::size_t>(kGroup == 1 ? 4 : 2 * kGroup * kGroup)];
  const int32_t stripWidth = plan.StripColumns > 0 ? plan.StripColumns : plan.Width;
  for (int32_t xs = 0; xs < plan.Width; xs += stripWidth) {
    // Target columns xs .. xe - 1, whose windows read the columns c0 .. c1 - 1.
    const int32_t xe = Lesser(xs + stripWidth, plan.Width);
    const int32_t c0 = Greater(xs - plan.Left, 0);
    const int32_t c1 = Lesser(xe + plan.Right, plan.Width);
    FillWith(columns + c0 * kBins, columns + c1 * kBins, uint16_t{0});
    const auto column = [&](ptrdiff_t x) { return columns + x * kBins; };
    // (Each luminance is read once: after a store to the histograms, the compiler would read
    // the byte again, as the store could have changed it for all it knows.)
    const auto count = [&](int32_t p, uint16_t step) {
      if (p < 0 || p >= plan.Height) return;
      const uint8_t* lum = plan.Luminance + static_cast<ptrdiff_t>(p) * n;
#pragma GCC unroll 4
      for (ptrdiff_t x = c0; x < c1; ++x) CountLuminance(column(x), lum[x], step);
    };
    // The column histograms hold the window rows of target row `base`.
    int32_t base = first;
    for (int32_t p = first - plan.Below; p <= first + plan.Above; ++p) count(p, 1);
    if (byColumns) {
      for (int32_t p = Greater(first - plan.Below, 0); p < Lesser(first + plan.Above, plan.Height);
           ++p) {
        StoreColumnLuminance(plan, p, c0, c1, columnLuminance);
      }
    }
    for (int32_t group = first; group < end; group += kGroup) {
      const int32_t rows = Lesser(kGroup, end - group);
      const int32_t middleRow = group + (rows - 1) / 2;
      for (; base < middleRow; ++base) {
        count(base - plan.Below, 0xFFFFu);
        count(base + 1 + plan.Above, 1);
      }
      // Target row t = middleRow + d gains the stored rows beyond its side of the middle row's
      // window and loses those beyond the other side.
      int32_t deltaCount = 0;
      // Adds the entering row `in` and the leaving row `out` to the difference `delta`.
      const auto addDeltaRows = [&](int32_t in, int32_t out, uint16_t* delta) {
        for (const int32_t row : {in, out}) {
          const bool inside = row >= 0 && row < plan.Height;
          deltaRows[deltaCount++] = {plan.Luminance + static_cast<ptrdiff_t>(inside ? row : 0) * n,
                                     inside ? delta : outsideDelta};
        }
      };
      for (int32_t g = 0; g < rows; ++g) {
        const int32_t d = group + g - middleRow;
        uint16_t* delta = deltas + g * kBins;
        for (int32_t k = 1; k <= d; ++k) {
          addDeltaRows(middleRow + plan.Above + k, middleRow - plan.Below + k - 1, delta);
        }
        for (int32_t k = 1; k <= -d; ++k) {
          addDeltaRows(middleRow - plan.Below - k, middleRow + plan.Above - k + 1, delta);
        }
      }
      // A whole group of three has four delta rows, copied here so that they stay in registers
      // along the row.
      const bool fourDeltaRows = deltaCount == 4;
      TDeltaRow four[4] = {};
      if (fourDeltaRows) {
        for (int32_t i = 0; i < 4; ++i) four[i] = deltaRows[i];
      }
      // Adds the pixels of column c of the delta rows to their differences, `sign` (1 or 0xFFFF,
      // -1 modulo 2^16) times for the entering rows and minus that for the leaving ones.
      const auto moveDeltas = [&](ptrdiff_t c, uint16_t sign) {
        const auto opposite = static_cast<uint16_t>(0u - sign);
        if (fourDeltaRows) {
          for (int32_t i = 0; i < 4; i += 2) {
            CountLuminance(four[i].Delta, four[i].Lum[c], sign);
            CountLuminance(four[i + 1].Delta, four[i + 1].Lum[c], opposite);
          }
        } else {
          for (int32_t i = 0; i < deltaCount; i += 2) {
            CountLuminance(deltaRows[i].Delta, deltaRows[i].Lum[c], sign);
            CountLuminance(deltaRows[i + 1].Delta, deltaRows[i + 1].Lum[c], opposite);
          }
        }
      };
      FillWith(window, window + kBins, T{0});
      FillWith(deltas, deltas + kGroup * kBins, uint16_t{0});
      for (int32_t x = c0; x <= Lesser(xs + plan.Right, plan.Width - 1); ++x) {
        AddHistogram(window, column(x));
        moveDeltas(x, 1);
      }
      int64_t rowsInside[static_cast<std::size_t>(kGroup)];
      int32_t guesses[static_cast<std::size_t>(kGroup)];
      for (int32_t g = 0; g < rows; ++g) {
        rowsInside[g] = RowsInside(plan, group + g);
        guesses[g] = 0;
      }
      for (int32_t x = xs; x < xe; ++x) {
        if (x > xs) {
          const int32_t in = x + plan.Right;
          const int32_t out = x - 1 - plan.Left;
          if (in < plan.Width && out >= 0) {
            MoveHistogram(window, column(in), column(out));
          } else if (in < plan.Width) {
            AddHistogram(window, column(in));
          } else if (out >= 0) {
            RemoveHistogram(window, column(out));
          }
          if (in < plan.Width) moveDeltas(in, 1);
          if (out >= 0) moveDeltas(out, 0xFFFFu);
        }
        const int64_t columnsInside = ColumnsInside(plan, x);
#pragma GCC unroll 3
        for (int32_t g = 0; g < rows; ++g) {
          const int32_t r = group + g;
          const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n + x;
          // Positions outside the picture count at the centre's luminance.
          const uint32_t lc = plan.Luminance[at];
          const int64_t missing = area - rowsInside[g] * columnsInside;
          if constexpr (sizeof(T) == 2) {
            // Every count and sum of a window fits 16 bits.
            const uint16_t* delta = deltas + g * kBins;
            const auto entry = static_cast<uint16_t>(middle);
            const auto outside = static_cast<uint16_t>(missing);
            uint16_t before = kSignBias;
            TCounts16 counts;
            LoadCounts(counts, window + 256, lc >> 4, outside);
            AddCounts(counts, delta + 256);
            const auto centreCoarse = static_cast<int32_t>(lc >> 4);
            TCounts16 fine;
            const auto loadFine = [&](int32_t c) {
              LoadCounts(fine, window + 16 * c, lc & 15u,
                         c == centreCoarse ? outside : uint16_t{0});
              AddCounts(fine, delta + 16 * c);
            };
            // The fine counts of the coarse level the target before found are read before this
            // one's is known: along a row it seldom changes, and a predicted branch lets the fine
            // search start without waiting for the coarse one.
            int32_t coarse = guesses[g];
            loadFine(coarse);
            const int32_t found = LevelOfEntry(counts, entry, before);
            if (__builtin_expect(found != coarse, 0)) {
              coarse = found;
              guesses[g] = found;
              loadFine(found);
            }
            const int32_t level = LevelOfEntry(fine, entry, before);
            levels[g * n + x] = static_cast<uint32_t>(16 * coarse + level) |
                                static_cast<uint32_t>(entry + kSignBias - before) << 8;
            totals[g * n + x] = fine[level];
          } else {
            int64_t above = 0;
            int coarse = 15;
            for (;; --coarse) {
              const int64_t here =
                  window[256 + coarse] + (static_cast<uint32_t>(coarse) == lc >> 4 ? missing : 0);
              if (above + here > middle || coarse == 0) break;
              above += here;
            }
            uint32_t v = static_cast<uint32_t>(coarse) * 16 + 15;
            for (;; --v) {
              const int64_t here = window[v] + (v == lc ? missing : 0);
              if (above + here > middle || v == static_cast<uint32_t>(coarse) * 16) break;
              above += here;
            }
            const int64_t total = window[v] + (v == lc ? missing : 0);
            plan.Dest[at] = *LocateRank(plan, r, x, v, middle - above, total);
          }
        }
      }
      for (int32_t g = 0; g < rows; ++g) {
        const int32_t r = group + g;
        if (byColumns && r + plan.Above < plan.Height) {
          StoreColumnLuminance(plan, r + plan.Above, c0, c1, columnLuminance);
        }
        if constexpr (sizeof(T) != 2) continue;
        uint32_t* dst = plan.Dest + static_cast<ptrdiff_t>(r) * n;
        const bool rowInside = rowsInside[g] == plan.Box;
        if (byColumns && rowInside) {
          // The pixels are read after the whole row is located: each search then ends at a
          // position instead of waiting for its pixel, and the loads overlap in the gather.
          levelRows.Restart(plan, columnLuminance, r);
          const uint32_t* windowRows = plan.Source + static_cast<ptrdiff_t>(r - plan.Below) * n;
          uint32_t* places = levels + g * n;
          const int32_t inEnd = Greater(plan.Left, plan.Width - plan.Right);
          // Targets whose window reaches past the left or right edge, located at once.
          const auto edges = [&](int32_t from, int32_t to) {
            for (int32_t x = from; x < to; ++x) {
              const uint32_t v = places[x] & 0xFFu;
              const uint32_t rank = places[x] >> 8;
              dst[x] = rank < 255 ? *LocateRankEdge(plan, levelRows, r, x, v, rank)
                                  : *LocateRank(plan, r, x, v, rank, totals[g * n + x]);
            }
          };
          const int32_t insideFrom = Lesser(Greater(plan.Left, xs), xe);
          const int32_t insideEnd = Greater(Lesser(inEnd, xe), insideFrom);
          edges(xs, insideFrom);
          for (int32_t x = insideFrom; x < insideEnd; ++x) {
            const uint32_t v = places[x] & 0xFFu;
            const uint32_t rank = places[x] >> 8;
            if (rank < 255) {
              uint32_t within = 0;
              const int32_t row = WindowRowOfRank(plan, levelRows.Counts(plan, x, v), rank, within);
              places[x] = v | static_cast<uint32_t>(row) << 8 | within << 16;
            } else {
              places[x] = kPlaced |
                          static_cast<uint32_t>(LocateRank(plan, r, x, v, rank, totals[g * n + x]) -
                                                windowRows);
            }
          }
          edges(insideEnd, xe);
          const uint8_t* windowLum = plan.Luminance + static_cast<ptrdiff_t>(r - plan.Below) * n;
          const uint32_t boxBits = plan.Box == 32 ? 0xFFFFFFFFu : (1u << plan.Box) - 1u;
          if (plan.Box <= 16) {
            PlaceInWindowRows<true>(places, insideFrom, insideEnd, windowLum, plan.Width, plan.Left,
                                    boxBits);
          } else {
            PlaceInWindowRows<false>(places, insideFrom, insideEnd, windowLum, plan.Width,
                                     plan.Left, boxBits);
          }
          for (int32_t x = insideFrom; x < insideEnd; ++x) dst[x] = windowRows[places[x]];
          continue;
        }
        if (byColumns) levelRows.Restart(plan, columnLuminance, r);
        for (int32_t x = xs; x < xe; ++x) {
          const uint32_t v = levels[g * n + x] & 0xFFu;
          const uint32_t rank = levels[g * n + x] >> 8;
          dst[x] = byColumns && rank < 255 ? *LocateRankEdge(plan, levelRows, r, x, v, rank)
                                           : *LocateRank(plan, r, x, v, rank, totals[g * n + x]);
        }
      }
    }
  }
}

template <bool kBright, bool kDark>
void DegrainRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const uint32_t* minKeys = plan.Planes[0];
  const uint32_t* maxKeys = plan.Planes[1];
  // Up: the stored rows above, r + 1 .. r + Above; down: r - Below .. r - 1.
  ColumnExtreme<true> upMin(minKeys, plan.Width, plan.Height, 1, kBright ? plan.Above : 0, first,
                            scratch);
  ColumnExtreme<true> downMin(minKeys, plan.Width, plan.Height, kBright ? -plan.Below : 0, -1,
                              first, scratch);
  ColumnExtreme<false> upMax(maxKeys, plan.Width, plan.Height, 1, kDark ? plan.Above : 0, first,
                             scratch);
  ColumnExtreme<false> downMax(maxKeys, plan.Width, plan.Height, kDark ? -plan.Below : 0, -1, first,
                               scratch);
  int32_t* __restrict offsets = reinterpret_cast<int32_t*>(Take(scratch, plan.Width));
  // The arms along the row: left, the Left columns before; right, the Right columns after.
  uint32_t* leftDark = Take(scratch, plan.Width);
  uint32_t* rightDark = Take(scratch, plan.Width);
  uint32_t* leftBright = Take(scratch, plan.Width);
  uint32_t* rightBright = Take(scratch, plan.Width);
  uint32_t* work = Take(scratch, LineExtremeInts(plan.Width));
  const ptrdiff_t n = plan.Width;
  const uint32_t widthBits = static_cast<uint32_t>(plan.WidthBits);
  const uint32_t columnMask = (1u << widthBits) - 1u;
  const int32_t placeTop = plan.PlaceTop;
  const int32_t width = plan.Width;
  for (int32_t r = first; r < end; ++r) {
    const uint32_t* __restrict upDark = upMin.Next(r);
    const uint32_t* __restrict downDark = downMin.Next(r);
    const uint32_t* __restrict upBright = upMax.Next(r);
    const uint32_t* __restrict downBright = downMax.Next(r);
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    if constexpr (kBright) {
      LineExtreme<true>(minKeys + at, leftDark, width, -plan.Left, -1, work);
      LineExtreme<true>(minKeys + at, rightDark, width, 1, plan.Right, work);
    }
    if constexpr (kDark) {
      LineExtreme<false>(maxKeys + at, leftBright, width, -plan.Left, -1, work);
      LineExtreme<false>(maxKeys + at, rightBright, width, 1, plan.Right, work);
    }
    const uint32_t* __restrict src = plan.Source + at;
    const uint32_t rowPlace = static_cast<uint32_t>(placeTop - r) << widthBits;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t lc = src[x] >> 24;
      const uint32_t place = rowPlace | static_cast<uint32_t>(x);
      // Each arm's extreme as a key, the centre's own key when the arm has nothing strictly
      // darker (brighter); the keys compare by luminance alone below.
      const uint32_t centreMin = lc << 24 | place;
      const uint32_t centreMax = lc << 24 | (kPlaceMask - place);
      uint32_t darkKey = centreMax;
      if constexpr (kDark) {
        uint32_t t = upBright[x];
        uint32_t result = t >> 24 > lc ? t : centreMax;
        t = downBright[x];
        t = t >> 24 > lc ? t : centreMax;
        result = t >> 24 < result >> 24 ? t : result;
        t = leftBright[x];
        t = t >> 24 > lc ? t : centreMax;
        result = t >> 24 < result >> 24 ? t : result;
        t = rightBright[x];
        t = t >> 24 > lc ? t : centreMax;
        darkKey = t >> 24 <= result >> 24 ? t : result;
      }
      uint32_t chosen = PlaceOfMax(darkKey);
      if constexpr (kBright) {
        uint32_t t = upDark[x];
        uint32_t result = t >> 24 < lc ? t : centreMin;
        t = downDark[x];
        t = t >> 24 < lc ? t : centreMin;
        result = t >> 24 > result >> 24 ? t : result;
        t = leftDark[x];
        t = t >> 24 < lc ? t : centreMin;
        result = t >> 24 > result >> 24 ? t : result;
        t = rightDark[x];
        t = t >> 24 < lc ? t : centreMin;
        result = t >> 24 >= result >> 24 ? t : result;
        // Degrain takes the dark result when it is another pixel than the centre.
        chosen = darkKey != centreMax ? chosen : PlaceOfMin(result);
      }
      offsets[x] = (placeTop - static_cast<int32_t>(chosen >> widthBits)) * width +
                   static_cast<int32_t>(chosen & columnMask);
    }
    CopyFromOffsets(plan, plan.Dest + at, offsets);
  }
}

void FinishRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  switch (plan.Kind) {
    case rkMinimum:
      if (plan.Box == 3) {
        Extreme3Rows<true>(plan, first, end, scratch);
      } else {
        ExtremeRows<true>(plan, first, end, scratch);
      }
      break;
    case rkMaximum:
      if (plan.Box == 3) {
        Extreme3Rows<false>(plan, first, end, scratch);
      } else {
        ExtremeRows<false>(plan, first, end, scratch);
      }
      break;
    case rkMaxMin:
    case rkMinMax:
      BoundaryRows(plan, first, end, scratch);
      break;
    case rkMedian:
      if (plan.Box == 3) {
        Median3Rows(plan, first, end, scratch);
      } else if (plan.Box <= 255) {
        MedianRows<uint16_t>(plan, first, end, scratch);
      } else {
        MedianRows<uint32_t>(plan, first, end, scratch);
      }
      break;
    case rkDegrainBright:
      DegrainRows<true, false>(plan, first, end, scratch);
      break;
    case rkDegrainDark:
      DegrainRows<false, true>(plan, first, end, scratch);
      break;
    default:
      DegrainRows<true, true>(plan, first, end, scratch);
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Mosaic

void MosaicTileRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  uint32_t* columns[3] = {Take(scratch, n), Take(scratch, n), Take(scratch, n)};
  const int64_t area = int64_t{plan.Box} * plan.Box;
  const TDivider byArea(static_cast<uint64_t>(area));
  for (int32_t k = first; k < end; ++k) {
    const int32_t m = k * plan.Box;
    const int32_t bottom = Greater(m - plan.Below, 0);
    const int32_t top = Lesser(m + plan.Above, plan.Height - 1);
    for (int c = 0; c < 3; ++c) FillWith(columns[c], columns[c] + n, 0u);
    uint32_t* __restrict blue = columns[0];
    uint32_t* __restrict green = columns[1];
    uint32_t* __restrict red = columns[2];
    for (int32_t row = bottom; row <= top; ++row) {
      const uint32_t* __restrict src = plan.Source + static_cast<ptrdiff_t>(row) * n;
      for (ptrdiff_t x = 0; x < n; ++x) {
        blue[x] += src[x] & 0xFFu;
        green[x] += (src[x] >> 8) & 0xFFu;
        red[x] += (src[x] >> 16) & 0xFFu;
      }
    }
    const int64_t rows = top - bottom + 1;
    const int32_t keptRow = Lesser(m, plan.Height - 1);
    for (int32_t x = 0; x - plan.Left < plan.Width; x += plan.Box) {
      const int32_t x0 = Greater(x - plan.Left, 0);
      const int32_t x1 = Lesser(x + plan.Right, plan.Width - 1);
      uint64_t sums[3] = {};
      for (int32_t p = x0; p <= x1; ++p) {
        sums[0] += blue[p];
        sums[1] += green[p];
        sums[2] += red[p];
      }
      const int64_t inside = rows * (x1 - x0 + 1);
      uint32_t colours = 0;
      if (m < plan.Height && x < plan.Width) {
        // Positions outside count as the anchor.
        const uint32_t anchor = plan.Source[static_cast<ptrdiff_t>(m) * n + x];
        const auto missing = static_cast<uint64_t>(area - inside);
        for (int c = 0; c < 3; ++c) {
          colours |=
              static_cast<uint32_t>(byArea(sums[c] + missing * ((anchor >> (8 * c)) & 0xFFu)))
              << (8 * c);
        }
      } else {
        const TDivider byInside(static_cast<uint64_t>(inside));
        for (int c = 0; c < 3; ++c) colours |= static_cast<uint32_t>(byInside(sums[c])) << (8 * c);
      }
      const uint32_t kept =
          plan.Dest[static_cast<ptrdiff_t>(keptRow) * n + Lesser(x, plan.Width - 1)];
      const uint32_t tile = (kept & 0xFF000000u) | colours;
      for (int32_t row = bottom; row <= top; ++row) {
        uint32_t* dst = plan.Dest + static_cast<ptrdiff_t>(row) * n;
        FillWith(dst + x0, dst + x1 + 1, tile);
      }
    }
  }
}

}  // namespace
}  // namespace ombrix
