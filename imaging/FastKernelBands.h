#pragma once
// Private to the fast kernel passes: the band computation, written once over GCC vector types
// and compiled once per instruction set. The including file defines, in an unnamed namespace
// inside ombrix, a struct Isa deriving from IsaBase<lanes, rows> (below) that adds
//   MulAdd(acc, pairs, w)      acc + low(pairs) x low(w) + high(pairs) x high(w) per lane,
//                              halves signed 16-bit (pmaddwd, or vpdpwssd),
// and may replace Compose and StoreColours with faster ones, and add RowSumsOfTwo(h, planes, w)
// for the spread sweep's weighted row sums of two lane vectors of six planes (see SpreadLanes)
// where the compiler's own code runs short of registers. Everything here has internal
// linkage, so each instruction set's copy stays in its own file.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__AVX512BW__)
#include <immintrin.h>
#endif

#include "FastKernelPlan.h"

namespace ombrix {
namespace {

// Vectors of int32_t, uint32_t, float and double with Lanes lanes (GCC takes no vector size that
// depends on a template parameter).
template <int Lanes>
struct VectorTypes;
template <>
struct VectorTypes<4> {
  typedef int32_t I __attribute__((vector_size(16)));
  typedef uint32_t U __attribute__((vector_size(16)));
  typedef float F __attribute__((vector_size(16)));
  typedef double D __attribute__((vector_size(32)));
};
template <>
struct VectorTypes<8> {
  typedef int32_t I __attribute__((vector_size(32)));
  typedef uint32_t U __attribute__((vector_size(32)));
  typedef float F __attribute__((vector_size(32)));
  typedef double D __attribute__((vector_size(64)));
};
template <>
struct VectorTypes<16> {
  typedef int32_t I __attribute__((vector_size(64)));
  typedef uint32_t U __attribute__((vector_size(64)));
  typedef float F __attribute__((vector_size(64)));
  typedef double D __attribute__((vector_size(128)));
};

// What every path shares: the vector types and the operations that need no special
// instruction.
template <int Lanes, int Rows>
struct IsaBase {
  static constexpr int kLanes = Lanes;  // pixels per vector
  static constexpr int kRows = Rows;    // target rows computed together
  using I = typename VectorTypes<Lanes>::I;
  using U = typename VectorTypes<Lanes>::U;
  using F = typename VectorTypes<Lanes>::F;
  using D = typename VectorTypes<Lanes>::D;

  // The square root of each lane, rounded to float.
  static F Sqrt(F f) {
    for (int i = 0; i < Lanes; ++i) f[i] = __builtin_sqrtf(f[i]);
    return f;
  }

  // Target words from channel values: blue, green and red each clamped to 0..255 in bytes
  // 0, 1 and 2; byte 3 is 0.
  static I Compose(I blue, I green, I red) {
    const I top = I{} + 255;
    blue = blue < 0 ? I{} : blue > top ? top : blue;
    green = green < 0 ? I{} : green > top ? top : green;
    red = red < 0 ? I{} : red > top ? top : red;
    return blue | green << 8 | red << 16;
  }

  // Channel kCh (0 blue, 1 green, 2 red) of each lane's pixel in byte 0 of the lane (kHigh
  // false) or byte 2, the other bytes 0.
  template <int kCh, bool kHigh>
  static I Channel(I p) {
    if constexpr (kHigh) return (kCh == 2 ? p : p << (16 - 8 * kCh)) & 0xFF0000;
    return (kCh == 0 ? p : p >> (8 * kCh)) & 0xFF;
  }

  // Each lane's high half from `high`, its low half from `low`.
  static I Halves(I high, I low) {
    return (high & static_cast<int32_t>(0xFFFF0000u)) | (low & 0xFFFF);
  }

  // Bytes 0..2 of each lane's word into the Lanes words at p; byte 3 of each stays.
  static void StoreColours(uint32_t* p, I words) {
    I old;
    std::memcpy(&old, p, sizeof old);
    const I out = (old & static_cast<int32_t>(0xFF000000u)) | words;
    std::memcpy(p, &out, sizeof out);
  }
};

#if defined(__AVX2__)
// Where a pixel's bytes are after the saturating packs of Compose: a 128-bit block holds the
// blue bytes of its four pixels, then their green and red bytes, then four zeros; a byte index
// with its top bit set gives 0.
constexpr uint32_t kComposeOrder[4] = {0x80080400u, 0x80090501u, 0x800A0602u, 0x800B0703u};
#endif

#if defined(__AVX512BW__)
// The AVX-512 paths: sixteen lanes, eight rows a step, a clamp by saturating packs, and a
// byte-masked store that need not read the target first.
struct Avx512Base : IsaBase<16, 8> {
  // Packing 32-bit values to 16 bits with signed saturation and those to bytes with unsigned
  // saturation clamps each to 0..255; the packs work within each 128-bit block of four pixels.
  static I Compose(I blue, I green, I red) {
    const __m512i colours = _mm512_packus_epi16(
        _mm512_packs_epi32(__builtin_bit_cast(__m512i, blue), __builtin_bit_cast(__m512i, green)),
        _mm512_packs_epi32(__builtin_bit_cast(__m512i, red), _mm512_setzero_si512()));
    const __m512i order =
        _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kComposeOrder)));
    return __builtin_bit_cast(I, _mm512_shuffle_epi8(colours, order));
  }

  static void StoreColours(uint32_t* p, I words) {
    _mm512_mask_storeu_epi8(p, 0x7777777777777777ull, __builtin_bit_cast(__m512i, words));
  }
};
#endif

template <class V>
V LoadV(const int32_t* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
V LoadV(const uint32_t* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
void StoreV(int32_t* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

template <class Isa>
typename Isa::I Splat(int32_t value) {
  return typename Isa::I{} + value;
}

// Lines of adjacent channel pairs from pixels, for each channel ch (0 blue, 1 green, 2 red)
// and e in 0 .. count - 1 (whole vectors): next[ch x stride + e] = (q(e), q(e + 1)) and, when
// `previous` is set, previous[ch x stride + e] = (q(e), q(e - 1)), where q(e) is channel ch
// of pixels[e]; pixels[-1] .. pixels[count] are read.
template <class Isa>
void PairLines(const uint32_t* pixels, int32_t count, int32_t stride, int32_t* next,
               int32_t* previous) {
  using I = typename Isa::I;
  constexpr int L = Isa::kLanes;
  // Channel kCh of each pixel with that of its neighbour.
  const auto pair = [](auto ch, I p, I neighbour) {
    constexpr int kCh = decltype(ch)::value;
    return Isa::template Channel<kCh, false>(p) | Isa::template Channel<kCh, true>(neighbour);
  };
  using Blue = std::integral_constant<int, 0>;
  using Green = std::integral_constant<int, 1>;
  using Red = std::integral_constant<int, 2>;
  for (int32_t e = 0; e < count; e += L) {
    const I p = LoadV<I>(pixels + e);
    const I after = LoadV<I>(pixels + e + 1);
    StoreV(next + e, pair(Blue{}, p, after));
    StoreV(next + stride + e, pair(Green{}, p, after));
    StoreV(next + 2 * stride + e, pair(Red{}, p, after));
    if (previous != nullptr) {
      const I before = LoadV<I>(pixels + e - 1);
      StoreV(previous + e, pair(Blue{}, p, before));
      StoreV(previous + stride + e, pair(Green{}, p, before));
      StoreV(previous + 2 * stride + e, pair(Red{}, p, before));
    }
  }
}

// Source rows lie a whole row apart, usually on another page, where the processor's own
// prefetching stops; a strip asks for the rows it will need a little ahead.
constexpr int32_t kPrefetchRows = 2;

// Asks for pixels first .. first + count - 1 of stored row `row` (clipped to the picture) of a
// block, for reading or for writing.
template <int kWrite>
void PrefetchRow(const uint32_t* block, const TKernelPlan& plan, int32_t row, int32_t first,
                 int32_t count) {
  if (row < 0 || row >= plan.Height) return;
  const int32_t lo = first < 0 ? 0 : first;
  const int32_t hi = first + count < plan.Width ? first + count : plan.Width;
  const uint32_t* p = block + static_cast<std::ptrdiff_t>(row) * plan.Width;
  for (int32_t x = lo; x < hi; x += 16) __builtin_prefetch(p + x, kWrite, 3);
  if (hi > lo) __builtin_prefetch(p + hi - 1, kWrite, 3);
}

// Prepares stored row `row` of the strip starting at pixel x0 into `record`.
// With `planes` false, a folded row stops at its pair lines, in scratch at PairsOffset.
template <class Isa>
void PrepareRow(const TKernelPlan& plan, int32_t row, int32_t x0, int32_t* record, int32_t* scratch,
                bool planes = true) {
  using I = typename Isa::I;
  constexpr int L = Isa::kLanes;
  const int32_t pad = plan.LinePad;
  const int32_t lineInts = plan.LineInts;
  const uint32_t* srcRow = plan.Source + static_cast<std::ptrdiff_t>(row) * plan.Width;

  // Line element e is pixel first + e, 0 outside the picture. Vectors whose pixels all lie
  // inside read the row itself; those at the picture's edges read a copy with the zeros.
  const int32_t first = x0 - pad;
  PrefetchRow<0>(plan.Source, plan, row + kPrefetchRows, first - 1, lineInts + 2);
  const auto wholeVectors = [&](int32_t v) {
    // Rounded up to whole vectors and kept within the line.
    const int32_t up = v <= 0 ? 0 : (v + L - 1) / L * L;
    return up < lineInts ? up : lineInts;
  };
  const int32_t insideBegin = wholeVectors(1 - first);
  const int32_t insideEnd = insideBegin > wholeVectors(plan.Width - L - first)
                                ? insideBegin
                                : wholeVectors(plan.Width - L - first);
  const bool folded = plan.HFolded;
  int32_t* next = folded ? scratch + plan.PairsOffset : record;
  int32_t* previous = folded ? next + 3 * lineInts : nullptr;
  const int32_t stride = folded ? lineInts : plan.ChannelStride;
  // Line elements begin .. end - 1 (whole vectors), from a copy of their pixels.
  const auto edge = [&](int32_t begin, int32_t end) {
    if (begin >= end) return;
    uint32_t* copy = reinterpret_cast<uint32_t*>(scratch + plan.LineOffset);
    // copy[i] is pixel first + begin - 1 + i, for i in 0 .. end - begin + 1.
    const int32_t base = first + begin - 1;
    const int32_t size = end - begin + 2;
    const int32_t lo = base < 0 ? -base : 0;
    const int32_t hi = plan.Width - base < size ? plan.Width - base : size;
    for (int32_t i = 0; i < size; ++i) copy[i] = 0u;
    for (int32_t i = lo; i < hi; ++i) copy[i] = srcRow[base + i];
    PairLines<Isa>(copy + 1, end - begin, stride, next + begin,
                   previous != nullptr ? previous + begin : nullptr);
  };
  edge(0, insideBegin);
  if (insideEnd > insideBegin) {
    PairLines<Isa>(srcRow + first + insideBegin, insideEnd - insideBegin, stride,
                   next + insideBegin, previous != nullptr ? previous + insideBegin : nullptr);
  }
  edge(insideEnd, lineInts);
  if (!folded || !planes) return;
  // All six lines are written before any is read back at a shifted position, so that those
  // reads find the lines in the cache rather than still in the store buffer.
  const int32_t sw = plan.StripWidth;
  const I highMask = Splat<Isa>(static_cast<int32_t>(0xFFFF0000u));
  for (int ch = 0; ch < 3; ++ch) {
    int32_t* out = record + ch * plan.ChannelStride;
    const int32_t* n = next + ch * lineInts + pad;
    const int32_t* p = previous + ch * lineInts + pad;
    // (q(x), q(x + 1) + q(x - 1)), then (q(x + 2k) + q(x - 2k), q(x + 2k + 1) + q(x - 2k - 1)).
    for (int32_t x = 0; x < sw; x += L) {
      StoreV(out + x, LoadV<I>(n + x) + (LoadV<I>(p + x) & highMask));
    }
    for (int32_t k = 1; k < plan.Pairs; ++k) {
      for (int32_t x = 0; x < sw; x += L) {
        StoreV(out + k * sw + x, LoadV<I>(n + x + 2 * k) + LoadV<I>(p + x - 2 * k));
      }
    }
  }
}

// sum / ScaleFactor, truncated toward zero, exactly (see TKernelDivision).
template <class Isa>
typename Isa::I Quotient(const TKernelPlan& plan, typename Isa::I sum) {
  using I = typename Isa::I;
  using F = typename Isa::F;
  using D = typename Isa::D;
  switch (plan.Division) {
    case kdOne:
      return sum;
    case kdShift:
      return (sum + ((sum >> 31) & Splat<Isa>((1 << plan.Shift) - 1))) >> plan.Shift;
    case kdFloat:
      return __builtin_convertvector(__builtin_convertvector(sum, F) * plan.RecipF, I);
    case kdClampedFloat: {
      const I low = Splat<Isa>(plan.SumLow);
      const I high = Splat<Isa>(plan.SumHigh);
      sum = sum < low ? low : sum;
      sum = sum > high ? high : sum;
      return __builtin_convertvector(__builtin_convertvector(sum, F) * plan.RecipF, I);
    }
    case kdDouble:
    default:
      return __builtin_convertvector(__builtin_convertvector(sum, D) * plan.RecipD, I);
  }
}

// A channel's value from its merged sum: quotient + Bias, not yet clamped.
template <class Isa>
typename Isa::I ChannelValue(const TKernelPlan& plan, typename Isa::I sum) {
  const typename Isa::I q = Quotient<Isa>(plan, sum);
  return plan.Bias == 0 ? q : q + plan.Bias;
}

// The centre samples of a prepared row, channel ch, lanes from `lane` on.
template <class Isa>
typename Isa::I CentreSample(const TKernelPlan& plan, const int32_t* record, int ch, int32_t lane) {
  return LoadV<typename Isa::I>(record + ch * plan.ChannelStride + plan.CentreBase + lane) &
         Splat<Isa>(0xFFFF);
}

// True when a target row has kernel rows outside the picture.
inline bool EdgeRow(const TKernelPlan& plan, int32_t m) {
  return m + plan.TMin < 0 || m + plan.TMax >= plan.Height;
}

// True when a vector of targets from pixel x on has kernel columns outside the picture.
template <class Isa>
bool EdgeColumns(const TKernelPlan& plan, int32_t x) {
  return x + plan.XMin < 0 || x + Isa::kLanes + plan.XMax > plan.Width;
}

// Writes target words (bytes 0..2 from `words`, byte 3 kept) for pixels x .. x + kLanes - 1
// of stored row m, stopping at the picture's right edge.
template <class Isa>
void StoreTarget(const TKernelPlan& plan, int32_t m, int32_t x, typename Isa::I words) {
  constexpr int L = Isa::kLanes;
  uint32_t* dst = plan.Dest + static_cast<std::ptrdiff_t>(m) * plan.Width + x;
  if (x + L <= plan.Width) {
    Isa::StoreColours(dst, words);
  } else {
    for (int32_t i = 0; x + i < plan.Width; ++i) {
      dst[i] = (dst[i] & 0xFF000000u) | static_cast<uint32_t>(words[i]);
    }
  }
}

// Ends the compiler's freedom to reorder the additions into a sum before this point. Left to
// itself, GCC regroups the long sums of the folded sweep into trees whose partial products
// outnumber the sixteen AVX2 registers and go through the stack; kept in order, each sum stays
// in one register. Integer additions are exact, so the order cannot change any result.
template <class V>
inline void KeepInRegister(V& v) {
#if defined(__x86_64__) || defined(__i386__)
  asm("" : "+v"(v));
#else
  (void)v;
#endif
}

// Rows of a folded step that may be held in registers at once, beside the sums.
constexpr int kHeldRows = 16;

// The whole part of the square root of each lane, 0 <= n < 2^31: what the reference's
// double square root truncates to. The float root is within 0.01 of the true one, so one step
// up or down corrects it; the squares, below 2^32, are compared unsigned.
template <class Isa>
typename Isa::I FloorSqrt(typename Isa::I n) {
  using I = typename Isa::I;
  using U = typename Isa::U;
  using F = typename Isa::F;
  U r = __builtin_convertvector(
      __builtin_convertvector(Isa::Sqrt(__builtin_convertvector(n, F)), I), U);
  const U un = __builtin_bit_cast(U, n);
  const U up = r + 1;
  r = up * up <= un ? up : r;
  r = r * r > un ? r - 1 : r;
  return __builtin_bit_cast(I, r);
}

// Merges the sum of a further kernel into `merged` by the engine's rule; the first kernel's
// sum starts it. Root of squares collects the squares here and takes the root at the end.
template <class Isa>
typename Isa::I MergeSum(const TKernelPlan& plan, typename Isa::I merged, typename Isa::I sum,
                         bool first) {
  using I = typename Isa::I;
  switch (plan.MergeOp) {
    case 0:
      return first ? sum : merged + sum;
    case 1: {
      const I magnitude = sum < 0 ? -sum : sum;
      return first ? magnitude : merged + magnitude;
    }
    case 2: {
      if (first) return sum;
      const I difference = merged - sum;
      return difference < 0 ? -difference : difference;
    }
    default:
      return first ? sum * sum : merged + sum * sum;
  }
}

// kRows target rows m .. m + kRows - 1, of which the first `count` are stored, for the lanes
// from `lane` on: rows[j] is the record of stored row m + TMin + j. accumulate(acc, ch, lane,
// kernel) fills acc[i] with the sum of a kernel for target row m + i, channel ch, lanes from `lane`
// on, without C. kSeveral merges plan.Kernels kernels; otherwise there is one, and nothing is held
// beside its sums.
template <class Isa, bool kSeveral, class Accumulate>
void RowsStep(const TKernelPlan& plan, const int32_t* const* rows, int32_t m, int32_t count,
              int32_t x0, int32_t lane, int32_t* scratch, Accumulate accumulate) {
  using I = typename Isa::I;
  constexpr int L = Isa::kLanes;
  constexpr int M = Isa::kRows;
  constexpr std::size_t kArray = Isa::kRows;
  // Channel values of the step: row i, channel ch at (3 i + ch) x kLanes.
  int32_t* values = scratch + plan.OutOffset;
  bool edgeRows = false;
  for (int i = 0; i < M; ++i) edgeRows = edgeRows || EdgeRow(plan, m + i);
  const int32_t x = x0 + lane;
  const bool correct = !plan.CentreInSums || edgeRows || EdgeColumns<Isa>(plan, x);
  // C of a kernel, added to its sums near the edges.
  const auto addC = [&](I* sums, int ch, int32_t kernel) {
    if (!correct) return;
    for (int i = 0; i < M; ++i) {
      // Rows beyond the picture are computed but never stored; any C row serves them.
      const int32_t row = m + i < plan.Height ? m + i : plan.Height - 1;
      const int32_t* c = plan.CentreRows[kernel * plan.Height + row];
      sums[i] += LoadV<I>(c + x) * CentreSample<Isa>(plan, rows[i - plan.TMin], ch, lane);
    }
  };
  // The centre weight's part beyond 16 bits.
  const auto addExtra = [&](I* sums, int ch, int32_t kernel) {
    if (plan.CentreExtra == nullptr) return;
    const I extra = Splat<Isa>(plan.CentreExtra[kernel]);
    for (int i = 0; i < M; ++i) {
      const int32_t* centre = rows[i - plan.TMin] + ch * plan.ChannelStride + plan.CentreBase;
      sums[i] = Isa::MulAdd(sums[i], LoadV<I>(centre + lane), extra);
    }
  };
  for (int ch = 0; ch < 3; ++ch) {
    I merged[kArray];
    if constexpr (kSeveral) {
      for (int i = 0; i < M; ++i) merged[i] = I{};
      for (int32_t kernel = 0; kernel < plan.Kernels; ++kernel) {
        I acc[kArray];
        accumulate(acc, ch, lane, kernel);
        addExtra(acc, ch, kernel);
        addC(acc, ch, kernel);
        for (int i = 0; i < M; ++i) merged[i] = MergeSum<Isa>(plan, merged[i], acc[i], kernel == 0);
      }
      if (plan.MergeOp == 3) {
        for (int i = 0; i < M; ++i) merged[i] = FloorSqrt<Isa>(merged[i]);
      }
    } else {
      accumulate(merged, ch, lane, 0);
      addExtra(merged, ch, 0);
      addC(merged, ch, 0);
    }
    for (int i = 0; i < M; ++i)
      StoreV(values + (3 * i + ch) * L, ChannelValue<Isa>(plan, merged[i]));
  }
  for (int i = 0; i < count; ++i) {
    const int32_t* v = values + 3 * i * L;
    StoreTarget<Isa>(plan, m + i, x,
                     Isa::Compose(LoadV<I>(v), LoadV<I>(v + L), LoadV<I>(v + 2 * L)));
  }
}

// A step without vertical folding: each weight pair serves all kRows targets.
template <class Isa, bool kSeveral>
void DirectRows(const TKernelPlan& plan, const int32_t* const* rows, int32_t m, int32_t count,
                int32_t x0, int32_t lane, int32_t* scratch) {
  using I = typename Isa::I;
  constexpr int M = Isa::kRows;
  const int32_t pairs = plan.Pairs;
  const int32_t kh = plan.TMax - plan.TMin + 1;
  RowsStep<Isa, kSeveral>(
      plan, rows, m, count, x0, lane, scratch, [&](I* acc, int ch, int32_t, int32_t kernel) {
        const int32_t* weights = plan.Weights + static_cast<std::ptrdiff_t>(kernel) * kh * pairs;
        for (int i = 0; i < M; ++i) acc[i] = I{};
        for (int32_t k = 0; k < pairs; ++k) {
          const std::ptrdiff_t off =
              ch * plan.ChannelStride + plan.PlaneBase + k * plan.PlaneStride + lane;
          for (int32_t j = 0; j < kh; ++j) {
            const I w = Splat<Isa>(weights[j * pairs + k]);
#pragma GCC unroll 16
            for (int i = 0; i < M; ++i)
              acc[i] = Isa::MulAdd(acc[i], LoadV<I>(rows[i + j] + off), w);
          }
        }
      });
}

// A step of one kernel that is mirror-symmetric top to bottom, N = TMax = -TMin. Each weight
// pair multiplies the sum of the two rows at distance d above and below a target; the rows
// are held in registers or slide through them, so that a row is loaded about once a step.
// A Gaussian's further symmetry, under swapping x and y, is left unused on purpose: a lane's
// pair holds two horizontal distances at one vertical distance, its mirror image two vertical
// distances at one horizontal one. Summing the cells that share a weight first saves a
// multiply-add and its accumulation per two lanes but costs a repacking of two operations and
// a combining addition there (7 operations instead of 6), or, without the repacking, four
// times as many prepared planes per row.
template <class Isa, int N>
void FoldedRows(const TKernelPlan& plan, const int32_t* const* rows, int32_t m, int32_t count,
                int32_t x0, int32_t lane, int32_t* scratch) {
  using I = typename Isa::I;
  constexpr int M = Isa::kRows;
  constexpr std::size_t kArray = Isa::kRows;
  const int32_t pairs = plan.Pairs;
  RowsStep<Isa, false>(
      plan, rows, m, count, x0, lane, scratch, [&](I* acc, int ch, int32_t, int32_t) {
        for (int i = 0; i < M; ++i) acc[i] = I{};
        for (int32_t k = 0; k < pairs; ++k) {
          const std::ptrdiff_t off =
              ch * plan.ChannelStride + plan.PlaneBase + k * plan.PlaneStride + lane;
          const int32_t* w = plan.Weights + k * (N + 1);
          if constexpr (2 * N + M <= kHeldRows) {
            I held[static_cast<std::size_t>(2 * N + M)];
#pragma GCC unroll 32
            for (int j = 0; j < 2 * N + M; ++j) held[j] = LoadV<I>(rows[j] + off);
#pragma GCC unroll 16
            for (int d = N; d >= 1; --d) {
              const I wd = Splat<Isa>(w[d]);
#pragma GCC unroll 16
              for (int i = 0; i < M; ++i) {
                acc[i] = Isa::MulAdd(acc[i], held[N + i - d] + held[N + i + d], wd);
                KeepInRegister(acc[i]);
              }
            }
            const I w0 = Splat<Isa>(w[0]);
#pragma GCC unroll 16
            for (int i = 0; i < M; ++i) acc[i] = Isa::MulAdd(acc[i], held[N + i], w0);
          } else {
            I below[kArray];
            I above[kArray];
#pragma GCC unroll 16
            for (int i = 0; i < M; ++i) {
              below[i] = LoadV<I>(rows[i] + off);
              above[i] = LoadV<I>(rows[2 * N + i] + off);
            }
#pragma GCC unroll 16
            for (int d = N; d >= 1; --d) {
              const I wd = Splat<Isa>(w[d]);
#pragma GCC unroll 16
              for (int i = 0; i < M; ++i) {
                acc[i] = Isa::MulAdd(acc[i], below[i] + above[i], wd);
                KeepInRegister(acc[i]);
              }
          // Slide: target i now needs rows N + i - (d - 1) and N + i + (d - 1).
#pragma GCC unroll 16
              for (int i = 0; i + 1 < M; ++i) below[i] = below[i + 1];
              below[M - 1] = LoadV<I>(rows[N + M - d] + off);
#pragma GCC unroll 16
              for (int i = M - 1; i > 0; --i) above[i] = above[i - 1];
              above[0] = LoadV<I>(rows[N + d - 1] + off);
            }
            const I w0 = Splat<Isa>(w[0]);
#pragma GCC unroll 16
            for (int i = 0; i < M; ++i) acc[i] = Isa::MulAdd(acc[i], below[i], w0);
          }
        }
      });
}

template <class Isa>
using StepFn = void (*)(const TKernelPlan&, const int32_t* const*, int32_t, int32_t, int32_t,
                        int32_t, int32_t*);

// FoldedRows<Isa, n> for n = 1 .. kMaxFoldedHalf, else null.
template <class Isa, int... Ns>
StepFn<Isa> FoldedRowsFor(int n, std::integer_sequence<int, Ns...>) {
  static constexpr StepFn<Isa> kTable[] = {&FoldedRows<Isa, Ns + 1>...};
  return n >= 1 && n <= static_cast<int>(sizeof...(Ns)) ? kTable[n - 1] : nullptr;
}

// Where the spread sweep finds the centre samples of channel ch of a prepared row, lanes from 0
// on: the low halves, the high halves weighed by 0. A folded row is not written out as planes:
// its line of pairs (q(x), q(x + 1)) serves, and its planes are built in registers from that
// line and the one of (q(x), q(x - 1)), three channels' lines further.
inline const int32_t* SpreadCentres(const TKernelPlan& plan, const int32_t* record, int ch) {
  return plan.HFolded ? record + ch * plan.LineInts + plan.LinePad
                      : record + ch * plan.ChannelStride + plan.CentreBase;
}

// The spread sweep's running sums lie in columns, one per channel and lane vector of a strip
// (channel by channel, lane vectors in order), each of SumRows slots of one lane vector: target
// row m's sums of a column in one slot, the next target row's in the next.
template <class Isa>
std::ptrdiff_t SumColumnInts(const TKernelPlan& plan) {
  return std::ptrdiff_t{plan.SumRows} * Isa::kLanes;
}

// The slot of channel ch, lanes from `lane` on, in the row of slots whose first column's slot
// is at `slots`.
template <class Isa>
int32_t* SumColumn(const TKernelPlan& plan, int32_t* slots, int ch, int32_t lane) {
  const int32_t vectors = plan.StripWidth / Isa::kLanes;
  return slots + (ch * vectors + lane / Isa::kLanes) * SumColumnInts<Isa>(plan);
}

// The spread sweep's work for one prepared row s and G lane vectors from `lane` on: for each
// channel, the weighted row sums H_t(s) of P planes held in registers, each added to the
// running sums of target rows s - t and s + t. `slots` is the slot of target row s - N in the
// strip's first column (see TKernelPlan::Spread): target row s - N + j lies j vectors further
// in every column, a fixed distance, so that the loop over the row distances needs no address
// arithmetic. The sum of target row s + N starts here, so its slot need not be emptied first.
// H_0 also takes the centre weight's part beyond 16 bits, or reads the centre sample doubled
// (see TKernelPlan::CentreHalved; kHalved gives plan.CentreHalved). The lane vectors share each
// weight pair, loaded once for G of them. kN > 0 fixes N = plan.TMax at kN, so that the compiler
// unrolls the loop over the row distances.
template <class Isa, int P, int G, bool kHalved, int kN = 0>
void SpreadLanes(const TKernelPlan& plan, const int32_t* record, int32_t* slots, int32_t lane) {
  using I = typename Isa::I;
  constexpr int L = Isa::kLanes;
  const int32_t n = kN > 0 ? kN : plan.TMax;
  constexpr std::size_t kG = G;
  constexpr std::size_t kP = P;
  for (int ch = 0; ch < 3; ++ch) {
    const int32_t* centre = SpreadCentres(plan, record, ch) + lane;
    // Taken afresh for each channel: left to itself, GCC keeps the address of every row
    // distance's weights apart, out of the loop over channels, and so on the stack.
    const int32_t* weights = plan.Weights;
    asm("" : "+r"(weights));
    I planes[kG][kP];
    if (plan.HFolded) {
      // Folded planes straight from the pair lines (see PrepareRow).
      const int32_t* previous = centre + 3 * plan.LineInts;
      const I highMask = Splat<Isa>(static_cast<int32_t>(0xFFFF0000u));
#pragma GCC unroll 16
      for (int g = 0; g < G; ++g) {
        // (q(x), q(x + 1)) + (q(x), q(x - 1)) is plane 0 with the centre sample doubled.
        const I before = LoadV<I>(previous + g * L);
        planes[g][0] = LoadV<I>(centre + g * L) + (kHalved ? before : before & highMask);
#pragma GCC unroll 16
        for (int k = 1; k < P; ++k) {
          planes[g][k] = LoadV<I>(centre + g * L + 2 * k) + LoadV<I>(previous + g * L - 2 * k);
        }
      }
    } else {
      const int32_t* planeBase = record + ch * plan.ChannelStride + plan.PlaneBase + lane;
#pragma GCC unroll 16
      for (int g = 0; g < G; ++g) {
#pragma GCC unroll 16
        for (int k = 0; k < P; ++k) {
          planes[g][k] = LoadV<I>(planeBase + k * plan.PlaneStride + g * L);
        }
      }
    }
    const auto rowSums = [&](I* h, int32_t t) {
      if constexpr (requires { Isa::RowSumsOfTwo(h, planes, weights); }) {
        Isa::RowSumsOfTwo(h, planes, weights + t * P);
      } else {
#pragma GCC unroll 16
        for (int g = 0; g < G; ++g) h[g] = I{};
#pragma GCC unroll 16
        for (int k = 0; k < P; ++k) {
          const I w = Splat<Isa>(weights[t * P + k]);
#pragma GCC unroll 16
          for (int g = 0; g < G; ++g) h[g] = Isa::MulAdd(h[g], planes[g][k], w);
        }
      }
    };
    // Slot j of the lane vectors' columns: target row s - N + j.
    int32_t* at[kG];
#pragma GCC unroll 16
    for (int g = 0; g < G; ++g) at[g] = SumColumn<Isa>(plan, slots, ch, lane + g * L);
    const auto addTo = [&](int32_t j, const I* h) {
#pragma GCC unroll 16
      for (int g = 0; g < G; ++g) {
        int32_t* slot = at[g] + j * L;
        StoreV(slot, LoadV<I>(slot) + h[g]);
      }
    };
    I h[kG];
    rowSums(h, 0);
    if constexpr (kHalved) {
      // The other distances weigh the centre sample itself.
#pragma GCC unroll 16
      for (int g = 0; g < G; ++g) {
        planes[g][0] = Isa::Halves(planes[g][0], LoadV<I>(centre + g * L));
      }
    } else if (plan.CentreExtra != nullptr) {
      const I extra = Splat<Isa>(plan.CentreExtra[0]);
#pragma GCC unroll 16
      for (int g = 0; g < G; ++g) h[g] = Isa::MulAdd(h[g], LoadV<I>(centre + g * L), extra);
    }
    addTo(n, h);
#pragma GCC unroll 16
    for (int32_t t = 1; t < n; ++t) {
      rowSums(h, t);
      addTo(n - t, h);
      addTo(n + t, h);
    }
    // Row s is the first row of target row s + N: its sum starts here, whatever its slot held.
    rowSums(h, n);
    addTo(0, h);
#pragma GCC unroll 16
    for (int g = 0; g < G; ++g) StoreV(at[g] + 2 * n * L, h[g]);
  }
}

template <class Isa>
using SpreadFn = void (*)(const TKernelPlan&, const int32_t*, int32_t*, int32_t);

// SpreadLanes<Isa, p, G, halved> for p = 1 .. kMaxSpreadPairs.
template <class Isa, int G, int... Ps>
SpreadFn<Isa> SpreadLanesFor(int pairs, bool halved, std::integer_sequence<int, Ps...>) {
  static constexpr SpreadFn<Isa> kTable[] = {&SpreadLanes<Isa, Ps + 1, G, false>...};
  static constexpr SpreadFn<Isa> kHalvedTable[] = {&SpreadLanes<Isa, Ps + 1, G, true>...};
  return halved ? kHalvedTable[pairs - 1] : kTable[pairs - 1];
}

// The rows firstRow .. endRow - 1 by the spread sweep (see TKernelPlan::Spread), strip by strip:
// source rows firstRow - N .. endRow - 1 + N are prepared and spread in order, and each target
// row is written as soon as it is complete.
template <class Isa>
void RunSpreadBand(const TKernelPlan& plan, int32_t firstRow, int32_t endRow, int32_t firstColumn,
                   int32_t endColumn, int32_t* scratch) {
  using I = typename Isa::I;
  constexpr int L = Isa::kLanes;
  const int32_t n = plan.TMax;
  int32_t* record = scratch + plan.RingOffset;
  // What SpreadLanes reads: the prepared row, or a folded row's pair lines.
  const int32_t* lines = plan.HFolded ? scratch + plan.PairsOffset : record;
  int32_t* sums = scratch + plan.SumsOffset;
  const std::ptrdiff_t column = SumColumnInts<Isa>(plan);
  const int32_t columns = 3 * (plan.StripWidth / L);
  const auto pairs = std::make_integer_sequence<int, kMaxSpreadPairs>{};
  // The live view's strongest sharpening has its own copy with the loop over the row distances
  // unrolled: about 6 % fewer instructions, those of the loop's own bookkeeping.
  const bool strongest = plan.Pairs == kMaxSpreadPairs && plan.TMax == kStrongestSpreadHalf;
  const bool halved = plan.CentreHalved;
  constexpr int kS = kStrongestSpreadHalf;
  constexpr int kP = kMaxSpreadPairs;
  const SpreadFn<Isa> spreadTwo = !strongest ? SpreadLanesFor<Isa, 2>(plan.Pairs, halved, pairs)
                                  : halved   ? &SpreadLanes<Isa, kP, 2, true, kS>
                                             : &SpreadLanes<Isa, kP, 2, false, kS>;
  const SpreadFn<Isa> spreadOne = !strongest ? SpreadLanesFor<Isa, 1>(plan.Pairs, halved, pairs)
                                  : halved   ? &SpreadLanes<Isa, kP, 1, true, kS>
                                             : &SpreadLanes<Isa, kP, 1, false, kS>;

  for (int32_t x0 = firstColumn; x0 < endColumn; x0 += plan.StripWidth) {
    // Lanes 0 .. lanes - 1 of the strip hold pixels of the picture.
    const int32_t lanes =
        plan.Width - x0 < plan.StripWidth ? (plan.Width - x0 + L - 1) / L * L : plan.StripWidth;
    std::memset(sums, 0, sizeof(int32_t) * static_cast<std::size_t>(columns * column));
    // Kernel columns fall outside the picture only for lane vectors at its edges: where neither
    // of the strip's end vectors has them, none has, and C counts only on the edge rows.
    const bool edgeStrip = EdgeColumns<Isa>(plan, x0) || EdgeColumns<Isa>(plan, x0 + lanes - L);
    // Target row s - N + j is in slot first + j of every column.
    int32_t first = 0;
    for (int32_t s = firstRow - n; s < endRow + n; ++s, ++first) {
      if (first + 2 * n >= plan.SumRows) {
        // The columns are full: the 2N open sums move to their starts, and the sweep goes on
        // from there. SumRows >= 3N keeps every move after row 0 is spread, so the slots of
        // targets whose first rows lie above the picture are still the strip's zeros.
        for (int32_t c = 0; c < columns; ++c) {
          int32_t* to = sums + c * column;
          const int32_t* from = to + first * L;
#pragma GCC unroll 4
          for (int32_t i = 0; i < 2 * n * L; i += L) StoreV(to + i, LoadV<I>(from + i));
        }
        first = 0;
      }
      int32_t* slots = sums + first * L;
      const int32_t m = s - n;
      if (s >= 0 && s < plan.Height) {
        PrepareRow<Isa>(plan, s, x0, record, scratch, false);
        int32_t lane = 0;
        for (; lane + 2 * L <= lanes; lane += 2 * L) spreadTwo(plan, lines, slots, lane);
        if (lane < lanes) spreadOne(plan, lines, slots, lane);
        // Row s is the centre row of target row s: C, where it counts.
        if (s >= firstRow && s < endRow && (edgeStrip || !plan.CentreInSums || EdgeRow(plan, s))) {
          const bool edgeRow = !plan.CentreInSums || EdgeRow(plan, s);
          const int32_t* c = plan.CentreRows[s];
          for (lane = 0; lane < lanes; lane += L) {
            if (!edgeRow && !EdgeColumns<Isa>(plan, x0 + lane)) continue;
            for (int ch = 0; ch < 3; ++ch) {
              int32_t* sum = SumColumn<Isa>(plan, slots, ch, lane) + n * L;
              const I centre = LoadV<I>(SpreadCentres(plan, lines, ch) + lane) & Splat<Isa>(0xFFFF);
              StoreV(sum, LoadV<I>(sum) + LoadV<I>(c + x0 + lane) * centre);
            }
          }
        }
      }
      // Target row m has all its rows; its slot then lies behind the sweep. Where the first
      // row of a later target lies above the picture, no row has added to its slot since the
      // strip's start emptied it.
      if (m >= firstRow) {
        PrefetchRow<1>(plan.Dest, plan, m + kPrefetchRows, x0, plan.StripWidth);
        for (int32_t lane = 0; lane < lanes; lane += L) {
          I values[3];
          for (int ch = 0; ch < 3; ++ch) {
            values[ch] = ChannelValue<Isa>(plan, LoadV<I>(SumColumn<Isa>(plan, slots, ch, lane)));
          }
          StoreTarget<Isa>(plan, m, x0 + lane, Isa::Compose(values[0], values[1], values[2]));
        }
      }
    }
  }
}

// The rows firstRow .. endRow - 1 of the picture, strip by strip, and within a strip in chunks
// of ChunkSteps steps: the chunk's rows are prepared first, then the steps are computed lane
// vector by lane vector, so that the few kilobytes of prepared rows one lane vector reads stay
// in the first-level cache from one step to the next while the chunk waits in the second.
template <class Isa>
void RunBand(const TKernelPlan& plan, int32_t firstRow, int32_t endRow, int32_t firstColumn,
             int32_t endColumn, int32_t* scratch) {
  if (plan.Spread) {
    RunSpreadBand<Isa>(plan, firstRow, endRow, firstColumn, endColumn, scratch);
    return;
  }
  constexpr int L = Isa::kLanes;
  const int32_t step = Isa::kRows;
  const int32_t chunkRows = plan.ChunkSteps * step;
  int32_t* ring = scratch + plan.RingOffset;
  int32_t* zero = scratch + plan.ZeroOffset;
  std::memset(zero, 0, sizeof(int32_t) * static_cast<std::size_t>(plan.RecordInts));
  const StepFn<Isa> folded =
      plan.VFolded
          ? FoldedRowsFor<Isa>(plan.TMax, std::make_integer_sequence<int, kMaxFoldedHalf>{})
          : nullptr;
  const StepFn<Isa> compute = folded != nullptr   ? folded
                              : plan.Kernels == 1 ? &DirectRows<Isa, false>
                                                  : &DirectRows<Isa, true>;
  const int32_t* rows[kMaxFastKernelSide + kMaxChunkRows];

  for (int32_t x0 = firstColumn; x0 < endColumn; x0 += plan.StripWidth) {
    // Stored row s lives in ring slot (s - base) mod RingRows while it is needed.
    const int32_t base = firstRow + plan.TMin;
    int32_t next = base;
    for (int32_t m0 = firstRow; m0 < endRow; m0 += chunkRows) {
      const int32_t mEnd = endRow - m0 < chunkRows ? endRow : m0 + chunkRows;
      // Whole steps: the last one may reach beyond endRow.
      const int32_t stepsHere = (mEnd - m0 + step - 1) / step;
      const int32_t last = m0 + stepsHere * step - 1 + plan.TMax;
      for (; next <= last; ++next) {
        if (next < 0 || next >= plan.Height) continue;
        int32_t* record =
            ring + static_cast<std::ptrdiff_t>((next - base) % plan.RingRows) * plan.RecordInts;
        PrepareRow<Isa>(plan, next, x0, record, scratch);
      }
      const int32_t window = stepsHere * step + plan.TMax - plan.TMin;
      for (int32_t j = 0; j < window; ++j) {
        const int32_t s = m0 + plan.TMin + j;
        rows[j] =
            s < 0 || s >= plan.Height
                ? zero
                : ring + static_cast<std::ptrdiff_t>((s - base) % plan.RingRows) * plan.RecordInts;
      }
      // While the chunk is computed, the target rows it writes and the source rows the next
      // chunk prepares come from the outer caches, asked for a few rows per lane vector so
      // that the requests do not queue up behind each other.
      const int32_t vectors = plan.StripWidth / L;
      for (int32_t lane = 0, v = 0; lane < plan.StripWidth && x0 + lane < plan.Width;
           lane += L, ++v) {
        for (int32_t i = v * chunkRows / vectors; i < (v + 1) * chunkRows / vectors; ++i) {
          PrefetchRow<1>(plan.Dest, plan, m0 + i, x0, plan.StripWidth);
          PrefetchRow<0>(plan.Source, plan, last + 1 + i, x0 - plan.LinePad - 1, plan.LineInts + 2);
        }
        for (int32_t m = m0; m < mEnd; m += step) {
          const int32_t count = endRow - m < step ? endRow - m : step;
          compute(plan, rows + (m - m0), m, count, x0, lane, scratch);
        }
      }
    }
  }
}

}  // namespace
}  // namespace ombrix
