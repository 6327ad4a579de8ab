#pragma once
// Private to the fast kernel-less passes: the row computations, written once and compiled once
// per instruction set by FastRank<Isa>.cpp (the loops over whole rows are left to the
// compiler's vectoriser). Everything here has internal linkage, so each instruction set's copy
// stays in its own file; for that reason it calls no library template (std::fill, std::min),
// of which the linker would keep one copy, possibly one the running processor cannot execute.

#include <cstddef>
#include <cstdint>

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

// out[i] := the extreme of in[i + a .. i + b] that lie in 0 .. n - 1, for i in 0 .. n - 1.
// suffix: room for b - a + 1 elements.
template <bool kMin>
void LineExtreme(const uint32_t* in, uint32_t* out, int32_t n, int32_t a, int32_t b,
                 uint32_t* suffix) {
  if (!ClipOffsets(n, a, b)) {
    FillWith(out, out + n, kEmpty<kMin>);
    return;
  }
  const auto at = [&](int32_t p) { return p >= 0 && p < n ? in[p] : kEmpty<kMin>; };
  const int32_t w = b - a + 1;
  if (w <= kDirectWindow) {
    for (int32_t i = 0; i < n; ++i) {
      uint32_t e = kEmpty<kMin>;
      for (int32_t d = a; d <= b; ++d) e = Ext<kMin>(e, at(i + d));
      out[i] = e;
    }
    return;
  }
  // Outputs k0 .. k0 + w - 1 read positions k0 + a .. k0 + a + 2w - 2: the suffix extremes of
  // the first w of them and the running prefix extreme of the next.
  for (int32_t k0 = 0; k0 < n; k0 += w) {
    const int32_t s0 = k0 + a;
    suffix[w - 1] = at(s0 + w - 1);
    for (int32_t j = w - 2; j >= 0; --j) suffix[j] = Ext<kMin>(at(s0 + j), suffix[j + 1]);
    uint32_t prefix = kEmpty<kMin>;
    const int32_t count = Lesser(w, n - k0);
    for (int32_t i = 0; i < count; ++i) {
      out[k0 + i] = Ext<kMin>(suffix[i], prefix);
      prefix = Ext<kMin>(prefix, at(s0 + w + i));
    }
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
      FillWith(out_, out_ + n, kEmpty<kMin>);
      for (int32_t p = r + a_; p <= r + b_; ++p) Into(out_, Row(p));
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

// The column sums of three Width-wide planes over the stored rows r - below .. r + above, for
// the target rows r from `first` on, in order.
class ColumnSums {
 public:
  static int64_t Ints(int32_t width) { return 3 * (int64_t{width} + 16); }

  ColumnSums(const TRankPlan& plan, int32_t first, uint32_t*& scratch)
      : plan_(plan), first_(first) {
    for (int c = 0; c < 3; ++c) {
      sums_[c] = Take(scratch, plan.Width);
      FillWith(sums_[c], sums_[c] + plan.Width, 0u);
    }
    for (int32_t p = first - plan.Below; p <= first + plan.Above; ++p) Add(p, 1);
  }

  // Blue, green and red sums of target row r.
  uint32_t* const* Next(int32_t r) {
    if (r > first_) {
      Add(r + plan_.Above, 1);
      Add(r - 1 - plan_.Below, -1);
    }
    return sums_;
  }

 private:
  void Add(int32_t p, int sign) {
    if (p < 0 || p >= plan_.Height) return;
    const ptrdiff_t n = plan_.Width;
    for (int c = 0; c < 3; ++c) {
      const uint32_t* in = plan_.Planes[2 + c] + static_cast<ptrdiff_t>(p) * n;
      uint32_t* acc = sums_[c];
      if (sign > 0) {
        for (ptrdiff_t x = 0; x < n; ++x) acc[x] += in[x];
      } else {
        for (ptrdiff_t x = 0; x < n; ++x) acc[x] -= in[x];
      }
    }
  }

  const TRankPlan& plan_;
  int32_t first_;
  uint32_t* sums_[3] = {};
};

// Exact n div d for n below 2^52 by a rounded reciprocal and one correction step.
struct TDivider {
  explicit TDivider(uint64_t divisor) : d(divisor), inverse(1.0 / static_cast<double>(divisor)) {}
  uint64_t operator()(uint64_t n) const {
    uint64_t q = static_cast<uint64_t>(static_cast<double>(n) * inverse);
    if (q * d > n) {
      --q;
    } else if ((q + 1) * d <= n) {
      ++q;
    }
    return q;
  }
  uint64_t d;
  double inverse;
};

// The pixel at a key's place.
inline const uint32_t* PixelAtPlace(const TRankPlan& plan, uint32_t place) {
  const int32_t x = static_cast<int32_t>(place & ((1u << plan.WidthBits) - 1u));
  const int32_t m = plan.Height - 1 - static_cast<int32_t>(place >> plan.WidthBits);
  return plan.Source + static_cast<ptrdiff_t>(m) * plan.Width + x;
}
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

// Sums of in[x - left .. x + right] within the line.
void LineSums(const uint32_t* in, uint32_t* out, int32_t n, int32_t left, int32_t right,
              int shift) {
  uint32_t sum = 0;
  for (int32_t p = 0; p <= Lesser(right, n - 1); ++p) sum += (in[p] >> shift) & 0xFFu;
  for (int32_t x = 0; x < n; ++x) {
    out[x] = sum;
    if (x + 1 + right < n) sum += (in[x + 1 + right] >> shift) & 0xFFu;
    if (x - left >= 0) sum -= (in[x - left] >> shift) & 0xFFu;
  }
}

void PrepareRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  uint32_t* keyMin = Take(scratch, n);
  uint32_t* keyMax = Take(scratch, n);
  uint32_t* suffix = Take(scratch, 2 * n + 2);
  for (int32_t m = first; m < end; ++m) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(m) * n;
    uint32_t* src = plan.Source + at;
    uint8_t* lum = plan.Luminance + at;
    for (ptrdiff_t x = 0; x < n; ++x) {
      const uint32_t l = Luma(src[x]);
      src[x] = (src[x] & 0xFFFFFFu) | l << 24;
      lum[x] = static_cast<uint8_t>(l);
    }
    if (plan.Kind == rkMedian) continue;
    const uint32_t rowPlace = static_cast<uint32_t>(plan.Height - 1 - m) << plan.WidthBits;
    const auto row = [&](int plane) { return plan.Planes[plane] + at; };
    const bool degrain =
        plan.Kind == rkDegrainBright || plan.Kind == rkDegrainDark || plan.Kind == rkDegrain;
    uint32_t* mins = degrain ? row(4) : keyMin;
    uint32_t* maxs = degrain ? row(5) : keyMax;
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
        for (int c = 0; c < 3; ++c) {
          LineSums(src, row(2 + c), plan.Width, plan.Left, plan.Right, 8 * c);
        }
        break;
      default:
        if (plan.Kind != rkDegrainDark) {
          LineExtreme<true>(mins, row(0), plan.Width, -plan.Left, -1, suffix);
          LineExtreme<true>(mins, row(1), plan.Width, 1, plan.Right, suffix);
        }
        if (plan.Kind != rkDegrainBright) {
          LineExtreme<false>(maxs, row(2), plan.Width, -plan.Left, -1, suffix);
          LineExtreme<false>(maxs, row(3), plan.Width, 1, plan.Right, suffix);
        }
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Target rows

template <bool kMin>
void ExtremeRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  ColumnExtreme<kMin> column(plan.Planes[0], plan.Width, plan.Height, -plan.Below, plan.Above,
                             first, scratch);
  const ptrdiff_t n = plan.Width;
  for (int32_t r = first; r < end; ++r) {
    const uint32_t* keys = column.Next(r);
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* src = plan.Source + at;
    uint32_t* dst = plan.Dest + at;
    for (ptrdiff_t x = 0; x < n; ++x) {
      const uint32_t key = keys[x];
      // The centre wins every tie, so only a strictly darker (brighter) extreme is taken.
      dst[x] = key >> 24 == src[x] >> 24
                   ? src[x]
                   : *PixelAtPlace(plan, kMin ? PlaceOfMin(key) : PlaceOfMax(key));
    }
  }
}

void BoundaryRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  ColumnExtreme<true> darkest(plan.Planes[0], plan.Width, plan.Height, -plan.Below, plan.Above,
                              first, scratch);
  ColumnExtreme<false> brightest(plan.Planes[1], plan.Width, plan.Height, -plan.Below, plan.Above,
                                 first, scratch);
  ColumnSums sums(plan, first, scratch);
  const int64_t area = int64_t{plan.Box} * plan.Box;
  const TDivider divide(static_cast<uint64_t>(area));
  const bool nearer = plan.Kind == rkMaxMin;
  const ptrdiff_t n = plan.Width;
  for (int32_t r = first; r < end; ++r) {
    const uint32_t* dark = darkest.Next(r);
    const uint32_t* bright = brightest.Next(r);
    uint32_t* const* sum = sums.Next(r);
    const int64_t rowsInside = RowsInside(plan, r);
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* src = plan.Source + at;
    uint32_t* dst = plan.Dest + at;
    for (int32_t x = 0; x < plan.Width; ++x) {
      const uint32_t centre = src[x];
      const int32_t lc = static_cast<int32_t>(centre >> 24);
      const int32_t ld = static_cast<int32_t>(dark[x] >> 24);
      const int32_t lb = static_cast<int32_t>(bright[x] >> 24);
      if (lb - ld > plan.Hysteresis) {
        const int32_t toDark = lc - ld;
        const int32_t toBright = lb - lc;
        if (nearer ? toDark < toBright : toDark > toBright) {
          dst[x] = ld == lc ? centre : *PixelAtPlace(plan, PlaceOfMin(dark[x]));
        } else {
          dst[x] = lb == lc ? centre : *PixelAtPlace(plan, PlaceOfMax(bright[x]));
        }
        continue;
      }
      const uint64_t missing = static_cast<uint64_t>(area - rowsInside * ColumnsInside(plan, x));
      uint32_t colours = 0;
      for (int c = 0; c < 3; ++c) {
        const uint64_t total = sum[c][x] + missing * ((centre >> (8 * c)) & 0xFFu);
        colours |= static_cast<uint32_t>(divide(total)) << (8 * c);
      }
      dst[x] = (dst[x] & 0xFF000000u) | colours;
    }
  }
}

// The pixel of rank `rank` (0 = first) among the window positions of luminance v in window
// order, positions outside the picture standing for the centre.
const uint32_t* LocateRank(const TRankPlan& plan, int32_t r, int32_t x, uint32_t v, int64_t rank) {
  const uint32_t* centre = plan.Source + static_cast<ptrdiff_t>(r) * plan.Width + x;
  const bool centreLevel = plan.Luminance[static_cast<ptrdiff_t>(r) * plan.Width + x] == v;
  const int64_t box = plan.Box;
  const int32_t top = Lesser(r + plan.Above, plan.Height - 1);
  const int32_t bottom = Greater(r - plan.Below, 0);
  const int32_t x0 = Greater(x - plan.Left, 0);
  const int32_t x1 = Lesser(x + plan.Right, plan.Width - 1);
  const int64_t leftOut = x0 - (x - plan.Left);
  const int64_t rightOut = (x + plan.Right) - x1;
  if (centreLevel) {
    const int64_t above = int64_t{r + plan.Above - top} * box;
    if (rank < above) return centre;
    rank -= above;
  }
  const auto count = static_cast<std::size_t>(x1 - x0 + 1);
  for (int32_t row = top; row >= bottom; --row) {
    if (centreLevel) {
      if (rank < leftOut) return centre;
      rank -= leftOut;
    }
    const uint8_t* lum = plan.Luminance + static_cast<ptrdiff_t>(row) * plan.Width + x0;
    int64_t found = 0;
    for (std::size_t i = 0; i < count; ++i) found += lum[i] == v;
    if (rank < found) {
      for (std::size_t i = 0;; ++i) {
        if (lum[i] == v && rank-- == 0) {
          return plan.Source + static_cast<ptrdiff_t>(row) * plan.Width + x0 +
                 static_cast<ptrdiff_t>(i);
        }
      }
    }
    rank -= found;
    if (centreLevel) {
      if (rank < rightOut) return centre;
      rank -= rightOut;
    }
  }
  // What remains are the rows below the picture, all standing for the centre.
  return centre;
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

// Median: column histograms over the window's rows, slid down the band, and the window's
// histogram slid along each row; T counts a whole window.
template <class T>
void MedianRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const ptrdiff_t n = plan.Width;
  uint16_t* columns = reinterpret_cast<uint16_t*>(Take(scratch, n * kBins / 2));
  T* window = reinterpret_cast<T*>(Take(scratch, kBins));
  FillWith(columns, columns + n * kBins, uint16_t{0});
  const auto column = [&](ptrdiff_t x) { return columns + x * kBins; };
  const auto count = [&](int32_t p, int step) {
    if (p < 0 || p >= plan.Height) return;
    const uint8_t* lum = plan.Luminance + static_cast<ptrdiff_t>(p) * n;
    for (ptrdiff_t x = 0; x < n; ++x) {
      uint16_t* h = column(x);
      h[lum[x]] = static_cast<uint16_t>(h[lum[x]] + step);
      h[256 + (lum[x] >> 4)] = static_cast<uint16_t>(h[256 + (lum[x] >> 4)] + step);
    }
  };
  for (int32_t p = first - plan.Below; p <= first + plan.Above; ++p) count(p, 1);
  const int64_t area = int64_t{plan.Box} * plan.Box;
  const int64_t middle = area / 2;
  for (int32_t r = first; r < end; ++r) {
    if (r > first) {
      count(r - 1 - plan.Below, -1);
      count(r + plan.Above, 1);
    }
    FillWith(window, window + kBins, T{0});
    for (int32_t x = 0; x <= Lesser(plan.Right, plan.Width - 1); ++x) {
      AddHistogram(window, column(x));
    }
    const int64_t rowsInside = RowsInside(plan, r);
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint8_t* lum = plan.Luminance + at;
    uint32_t* dst = plan.Dest + at;
    for (int32_t x = 0; x < plan.Width; ++x) {
      if (x > 0) {
        const int32_t in = x + plan.Right;
        const int32_t out = x - 1 - plan.Left;
        if (in < plan.Width && out >= 0) {
          MoveHistogram(window, column(in), column(out));
        } else if (in < plan.Width) {
          AddHistogram(window, column(in));
        } else if (out >= 0) {
          RemoveHistogram(window, column(out));
        }
      }
      // Positions outside the picture count at the centre's luminance.
      const uint32_t lc = lum[x];
      const int64_t missing = area - rowsInside * ColumnsInside(plan, x);
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
      dst[x] = *LocateRank(plan, r, x, v, middle - above);
    }
  }
}

void DegrainRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  const bool bright = plan.Kind != rkDegrainDark;
  const bool dark = plan.Kind != rkDegrainBright;
  // Up: the stored rows above, r + 1 .. r + Above; down: r - Below .. r - 1.
  ColumnExtreme<true> upMin(plan.Planes[4], plan.Width, plan.Height, 1, bright ? plan.Above : 0,
                            first, scratch);
  ColumnExtreme<true> downMin(plan.Planes[4], plan.Width, plan.Height, bright ? -plan.Below : 0, -1,
                              first, scratch);
  ColumnExtreme<false> upMax(plan.Planes[5], plan.Width, plan.Height, 1, dark ? plan.Above : 0,
                             first, scratch);
  ColumnExtreme<false> downMax(plan.Planes[5], plan.Width, plan.Height, dark ? -plan.Below : 0, -1,
                               first, scratch);
  const ptrdiff_t n = plan.Width;
  for (int32_t r = first; r < end; ++r) {
    const uint32_t* up[2] = {upMin.Next(r), upMax.Next(r)};
    const uint32_t* down[2] = {downMin.Next(r), downMax.Next(r)};
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * n;
    const uint32_t* src = plan.Source + at;
    uint32_t* dst = plan.Dest + at;
    for (ptrdiff_t x = 0; x < n; ++x) {
      const uint32_t* centre = src + x;
      const uint32_t lc = *centre >> 24;
      struct TArm {
        uint32_t l;
        const uint32_t* pixel;
      };
      // An arm's minimum is the centre unless a strictly darker pixel lies on it.
      const auto minimum = [&](uint32_t key) {
        return key >> 24 < lc ? TArm{key >> 24, PixelAtPlace(plan, PlaceOfMin(key))}
                              : TArm{lc, centre};
      };
      const auto maximum = [&](uint32_t key) {
        return key >> 24 > lc ? TArm{key >> 24, PixelAtPlace(plan, PlaceOfMax(key))}
                              : TArm{lc, centre};
      };
      const TArm* chosen = nullptr;
      TArm darkResult{lc, centre};
      if (dark) {
        darkResult = maximum(up[1][x]);
        const TArm d = maximum(down[1][x]);
        if (d.l < darkResult.l) darkResult = d;
        const TArm l = maximum(plan.Planes[2][at + x]);
        if (l.l < darkResult.l) darkResult = l;
        const TArm rt = maximum(plan.Planes[3][at + x]);
        if (rt.l <= darkResult.l) darkResult = rt;
        chosen = &darkResult;
      }
      TArm brightResult{lc, centre};
      if (bright && (!dark || darkResult.pixel == centre)) {
        brightResult = minimum(up[0][x]);
        const TArm d = minimum(down[0][x]);
        if (d.l > brightResult.l) brightResult = d;
        const TArm l = minimum(plan.Planes[0][at + x]);
        if (l.l > brightResult.l) brightResult = l;
        const TArm rt = minimum(plan.Planes[1][at + x]);
        if (rt.l >= brightResult.l) brightResult = rt;
        chosen = &brightResult;
      }
      dst[x] = *chosen->pixel;
    }
  }
}

void FinishRows(const TRankPlan& plan, int32_t first, int32_t end, uint32_t* scratch) {
  switch (plan.Kind) {
    case rkMinimum:
      ExtremeRows<true>(plan, first, end, scratch);
      break;
    case rkMaximum:
      ExtremeRows<false>(plan, first, end, scratch);
      break;
    case rkMaxMin:
    case rkMinMax:
      BoundaryRows(plan, first, end, scratch);
      break;
    case rkMedian:
      if (plan.Box <= 255) {
        MedianRows<uint16_t>(plan, first, end, scratch);
      } else {
        MedianRows<uint32_t>(plan, first, end, scratch);
      }
      break;
    default:
      DegrainRows(plan, first, end, scratch);
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
    for (int32_t row = bottom; row <= top; ++row) {
      const uint32_t* src = plan.Source + static_cast<ptrdiff_t>(row) * n;
      for (int c = 0; c < 3; ++c) {
        uint32_t* sum = columns[c];
        for (ptrdiff_t x = 0; x < n; ++x) sum[x] += (src[x] >> (8 * c)) & 0xFFu;
      }
    }
    const int64_t rows = top - bottom + 1;
    const int32_t keptRow = Lesser(m, plan.Height - 1);
    for (int32_t x = 0; x - plan.Left < plan.Width; x += plan.Box) {
      const int32_t x0 = Greater(x - plan.Left, 0);
      const int32_t x1 = Lesser(x + plan.Right, plan.Width - 1);
      uint64_t sums[3] = {};
      for (int c = 0; c < 3; ++c) {
        for (int32_t p = x0; p <= x1; ++p) sums[c] += columns[c][p];
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
