#include "ResampleRows.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ombrix::resample {
namespace {

void HorizontalPlain(const uint8_t* src, int count, int taps, const int32_t* first,
                     const int16_t* weights, int16_t* out) {
  for (int i = 0; i < count; ++i, weights += taps, out += 4) {
    const uint8_t* p = src + static_cast<std::ptrdiff_t>(first[i]) * 4;
    int32_t sum[4] = {0, 0, 0, 0};
    for (int t = 0; t < taps; ++t, p += 4)
      for (int c = 0; c < 4; ++c) sum[c] += weights[t] * p[c];
    for (int c = 0; c < 4; ++c)
      out[c] = static_cast<int16_t>((sum[c] + (1 << (kHorizontalShift - 1))) >> kHorizontalShift);
  }
}

// Pixels from .. to - 1 of the vertical pass; the fast kernels finish their rows with it.
void VerticalRange(const int16_t* const* rows, const int16_t* weights, int taps, int from, int to,
                   uint8_t* out) {
  for (int i = from; i < to; ++i) {
    for (int c = 0; c < 3; ++c) {
      int32_t sum = 1 << (kVerticalShift - 1);
      for (int t = 0; t < taps; ++t) sum += weights[t] * rows[t][i * 4 + c];
      sum >>= kVerticalShift;
      out[i * 4 + c] = static_cast<uint8_t>(sum < 0 ? 0 : sum > 255 ? 255 : sum);
    }
    out[i * 4 + 3] = 0;
  }
}

void VerticalPlain(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                   uint8_t* out) {
  VerticalRange(rows, weights, taps, 0, count, out);
}

void CopyPlain(const uint8_t* src, int count, const uint8_t* colors, uint8_t* out) {
  // Whole pixels at a time: the compiler turns the table-less loop into vector moves.
  if (!colors) {
    for (int i = 0; i < count; ++i) {
      uint32_t v;
      std::memcpy(&v, src + i * 4, 4);
      v &= 0x00FFFFFFu;
      std::memcpy(out + i * 4, &v, 4);
    }
    return;
  }
  // Two pixels per load and store: the table lookups are the cost, not the pixel traffic.
  int i = 0;
  for (; i + 2 <= count; i += 2) {
    uint64_t v;
    std::memcpy(&v, src + i * 4, 8);
    const uint64_t r =
        uint64_t{colors[v & 0xFF]} | uint64_t{colors[(v >> 8) & 0xFF]} << 8 |
        uint64_t{colors[(v >> 16) & 0xFF]} << 16 | uint64_t{colors[(v >> 32) & 0xFF]} << 32 |
        uint64_t{colors[(v >> 40) & 0xFF]} << 40 | uint64_t{colors[(v >> 48) & 0xFF]} << 48;
    std::memcpy(out + i * 4, &r, 8);
  }
  if (i < count) {
    const uint8_t* p = src + i * 4;
    const uint32_t v =
        uint32_t{colors[p[0]]} | uint32_t{colors[p[1]]} << 8 | uint32_t{colors[p[2]]} << 16;
    std::memcpy(out + i * 4, &v, 4);
  }
}

#if defined(__x86_64__) || defined(__i386__)
#define OMBRIX_X86 1

// Two adjacent 16-bit weights as one 32-bit lane, the form pmaddwd multiplies pairs with.
inline int32_t WeightPair(const int16_t* w) {
  int32_t pair;
  std::memcpy(&pair, w, 4);
  return pair;
}

// Pixels a and b (4 x 16 bits each, in the low and high half) -> a0 b0 a1 b1 a2 b2 a3 b3, so
// that one pmaddwd weighs both pixels of every channel.
inline __m128i PairChannels(__m128i ab) {
  return _mm_unpacklo_epi16(ab, _mm_srli_si128(ab, 8));
}

// The byte shuffle that does what PairChannels does to the two pixels at byte `at` of a
// 16-byte window, zero-extending as it goes: b0 b1 g0 g1 r0 r1 x0 x1 as 16-bit values.
inline __m128i Spread(char at) {
  const char z = -1;  // a set top bit writes zero
  const auto b = [at](int k) { return static_cast<char>(at + k); };
  return _mm_setr_epi8(b(0), z, b(4), z, b(1), z, b(5), z, b(2), z, b(6), z, b(3), z, b(7), z);
}

// The weighted sum of one target pixel's taps, 4 x 32 bits.
inline __m128i HorizontalSum(const uint8_t* p, int taps, const int16_t* w) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  int t = 0;
  for (; t + 4 <= taps; t += 4, p += 16) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = PairChannels(_mm_unpacklo_epi8(px, zero));
    const __m128i hi = PairChannels(_mm_unpackhi_epi8(px, zero));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(lo, _mm_set1_epi32(WeightPair(w + t))));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(hi, _mm_set1_epi32(WeightPair(w + t + 2))));
  }
  for (; t + 2 <= taps; t += 2, p += 8) {
    const __m128i px = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i ab = PairChannels(_mm_unpacklo_epi8(px, zero));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, _mm_set1_epi32(WeightPair(w + t))));
  }
  if (t < taps) {
    int32_t one;
    std::memcpy(&one, p, 4);
    const __m128i a = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(one), zero), zero);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(a, _mm_set1_epi32(static_cast<uint16_t>(w[t]))));
  }
  return acc;
}

// One tap of weight one over consecutive pixels, as an unscaled axis has: the sum is just the
// pixel with 6 fractional bits, p << 6, four pixels at a time.
int WidenSse2(const uint8_t* src, int count, const int32_t* first, const int16_t* weights,
              int16_t* out) {
  constexpr int64_t kOnes = 0x4000400040004000;
  static_assert(kWeightOne == 0x4000);
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    int64_t w;
    std::memcpy(&w, weights + i, 8);
    if (w != kOnes || first[i + 3] - first[i] != 3) break;
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + first[i] * 4));
    const __m128i zero = _mm_setzero_si128();
    const int shift = 14 - kHorizontalShift;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4),
                     _mm_slli_epi16(_mm_unpacklo_epi8(px, zero), shift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4 + 8),
                     _mm_slli_epi16(_mm_unpackhi_epi8(px, zero), shift));
  }
  return i;
}

void HorizontalSse2(const uint8_t* src, int count, int taps, const int32_t* first,
                    const int16_t* weights, int16_t* out) {
  const __m128i round = _mm_set1_epi32(1 << (kHorizontalShift - 1));
  int i = taps == 1 ? WidenSse2(src, count, first, weights, out) : 0;
  for (; i + 2 <= count; i += 2) {
    __m128i a = HorizontalSum(src + first[i] * 4, taps, weights + i * taps);
    __m128i b = HorizontalSum(src + first[i + 1] * 4, taps, weights + (i + 1) * taps);
    a = _mm_srai_epi32(_mm_add_epi32(a, round), kHorizontalShift);
    b = _mm_srai_epi32(_mm_add_epi32(b, round), kHorizontalShift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4), _mm_packs_epi32(a, b));
  }
  if (i < count) HorizontalPlain(src, count - i, taps, first + i, weights + i * taps, out + i * 4);
}

// 4 pixels: the weighted sum of the taps' rows at value j, rounded to 16 bytes, fourth byte 0.
inline __m128i VerticalFour(const int16_t* const* rows, const int16_t* weights, int taps, int j) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc0 = _mm_set1_epi32(1 << (kVerticalShift - 1));
  __m128i acc1 = acc0, acc2 = acc0, acc3 = acc0;
  int t = 0;
  for (; t < taps; t += 2) {
    const __m128i* ra = reinterpret_cast<const __m128i*>(rows[t] + j);
    const __m128i a0 = _mm_loadu_si128(ra), a1 = _mm_loadu_si128(ra + 1);
    __m128i b0 = zero, b1 = zero, w;
    if (t + 1 < taps) {
      const __m128i* rb = reinterpret_cast<const __m128i*>(rows[t + 1] + j);
      b0 = _mm_loadu_si128(rb);
      b1 = _mm_loadu_si128(rb + 1);
      w = _mm_set1_epi32(WeightPair(weights + t));
    } else {
      w = _mm_set1_epi32(static_cast<uint16_t>(weights[t]));
    }
    acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(a0, b0), w));
    acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(a0, b0), w));
    acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(a1, b1), w));
    acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(a1, b1), w));
  }
  const __m128i lo =
      _mm_packs_epi32(_mm_srai_epi32(acc0, kVerticalShift), _mm_srai_epi32(acc1, kVerticalShift));
  const __m128i hi =
      _mm_packs_epi32(_mm_srai_epi32(acc2, kVerticalShift), _mm_srai_epi32(acc3, kVerticalShift));
  return _mm_and_si128(_mm_packus_epi16(lo, hi), _mm_set1_epi32(0x00FFFFFF));
}

void VerticalSse2(const int16_t* const* rows, const int16_t* weights, int taps, int count,
                  uint8_t* out) {
  int i = 0;
  for (; i + 4 <= count; i += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4),
                     VerticalFour(rows, weights, taps, i * 4));
  VerticalRange(rows, weights, taps, i, count, out);
}

// The AVX2 kernels work on two target pixels (horizontal) or eight (vertical) per step, the
// same sums in the same order, so they match the others bit for bit. The horizontal one takes
// its taps four at a time; other counts go to the SSE2 kernel.
template <bool kFourTaps>
__attribute__((target("avx2"))) void HorizontalAvx2Groups(const uint8_t* src, int count, int taps,
                                                          const int32_t* first,
                                                          const int16_t* weights, int16_t* out) {
  const __m256i spread01 = _mm256_broadcastsi128_si256(Spread(0));
  const __m256i spread23 = _mm256_broadcastsi128_si256(Spread(8));
  const __m256i round = _mm256_set1_epi32(1 << (kHorizontalShift - 1));
  // From the weight pairs (a01 a23 b01 b23): a01 in the low lane and b01 in the high one, and
  // likewise a23 and b23.
  const __m256i pick01 = _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2);
  const __m256i pick23 = _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3);
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256i sums[2];
    for (int k = 0; k < 2; ++k) {
      const int a = i + 2 * k, b = a + 1;
      __m256i acc = round;
      for (int g = 0; g < taps; g += 4) {
        const __m256i px = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (first[a] + g) * 4))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (first[b] + g) * 4)), 1);
        const __m128i pairs =
            kFourTaps
                ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + a * 4))
                : _mm_unpacklo_epi64(
                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + a * taps + g)),
                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + b * taps + g)));
        const __m256i w = _mm256_castsi128_si256(pairs);
        const __m256i p01 = _mm256_shuffle_epi8(px, spread01);
        const __m256i p23 = _mm256_shuffle_epi8(px, spread23);
        acc = _mm256_add_epi32(acc, _mm256_madd_epi16(p01, _mm256_permutevar8x32_epi32(w, pick01)));
        acc = _mm256_add_epi32(acc, _mm256_madd_epi16(p23, _mm256_permutevar8x32_epi32(w, pick23)));
      }
      sums[k] = _mm256_srai_epi32(acc, kHorizontalShift);
    }
    // Lanes hold pixels (a, b) of each step: packing in-lane gives a0 c0 | b0 d0 order, so
    // swap the middle quarters back.
    const __m256i packed = _mm256_packs_epi32(sums[0], sums[1]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 4),
                        _mm256_permute4x64_epi64(packed, 0xD8));
  }
  if (i < count) HorizontalSse2(src, count - i, taps, first + i, weights + i * taps, out + i * 4);
}

__attribute__((target("avx2"))) void HorizontalAvx2(const uint8_t* src, int count, int taps,
                                                    const int32_t* first, const int16_t* weights,
                                                    int16_t* out) {
  if (taps == 4)
    HorizontalAvx2Groups<true>(src, count, taps, first, weights, out);
  else if (taps % 4 == 0)
    HorizontalAvx2Groups<false>(src, count, taps, first, weights, out);
  else
    HorizontalSse2(src, count, taps, first, weights, out);
}

// Pixels from .. count - 1 of the vertical pass.
__attribute__((target("avx2"))) void VerticalAvx2From(const int16_t* const* rows,
                                                      const int16_t* weights, int taps, int from,
                                                      int count, uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  int i = from;
  for (; i + 8 <= count; i += 8) {
    const int j = i * 4;
    __m256i acc0 = _mm256_set1_epi32(1 << (kVerticalShift - 1));
    __m256i acc1 = acc0, acc2 = acc0, acc3 = acc0;
    for (int t = 0; t < taps; t += 2) {
      const __m256i* ra = reinterpret_cast<const __m256i*>(rows[t] + j);
      const __m256i a0 = _mm256_loadu_si256(ra), a1 = _mm256_loadu_si256(ra + 1);
      __m256i b0 = zero, b1 = zero, w;
      if (t + 1 < taps) {
        const __m256i* rb = reinterpret_cast<const __m256i*>(rows[t + 1] + j);
        b0 = _mm256_loadu_si256(rb);
        b1 = _mm256_loadu_si256(rb + 1);
        w = _mm256_set1_epi32(WeightPair(weights + t));
      } else {
        w = _mm256_set1_epi32(static_cast<uint16_t>(weights[t]));
      }
      acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi16(a0, b0), w));
      acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi16(a0, b0), w));
      acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi16(a1, b1), w));
      acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi16(a1, b1), w));
    }
    const __m256i lo = _mm256_packs_epi32(_mm256_srai_epi32(acc0, kVerticalShift),
                                          _mm256_srai_epi32(acc1, kVerticalShift));
    const __m256i hi = _mm256_packs_epi32(_mm256_srai_epi32(acc2, kVerticalShift),
                                          _mm256_srai_epi32(acc3, kVerticalShift));
    // In-lane packing interleaves the halves of lo and hi; the permute restores pixel order.
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j),
                        _mm256_and_si256(bytes, _mm256_set1_epi32(0x00FFFFFF)));
  }
  for (; i + 4 <= count; i += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4),
                     VerticalFour(rows, weights, taps, i * 4));
  VerticalRange(rows, weights, taps, i, count, out);
}

__attribute__((target("avx2"))) void VerticalAvx2(const int16_t* const* rows,
                                                  const int16_t* weights, int taps, int count,
                                                  uint8_t* out) {
  VerticalAvx2From(rows, weights, taps, 0, count, out);
}

// With AVX-512 VBMI a whole 256-entry table fits four registers and two byte permutes look up
// 64 bytes at once; this is what makes the table pass of an unscaled draw nearly free.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void CopyAvx512(const uint8_t* src,
                                                                       int count,
                                                                       const uint8_t* colors,
                                                                       uint8_t* out) {
  const __m512i keep = _mm512_set1_epi32(0x00FFFFFF);
  const int64_t bytes = int64_t{count} * 4;
  if (!colors) {
    for (int64_t i = 0; i < bytes; i += 64) {
      const __mmask64 m = bytes - i >= 64 ? ~__mmask64{0} : (__mmask64{1} << (bytes - i)) - 1;
      const __m512i v = _mm512_maskz_loadu_epi8(m, src + i);
      _mm512_mask_storeu_epi8(out + i, m, _mm512_and_si512(v, keep));
    }
    return;
  }
  const __m512i t0 = _mm512_loadu_si512(colors);
  const __m512i t1 = _mm512_loadu_si512(colors + 64);
  const __m512i t2 = _mm512_loadu_si512(colors + 128);
  const __m512i t3 = _mm512_loadu_si512(colors + 192);
  for (int64_t i = 0; i < bytes; i += 64) {
    const __mmask64 m = bytes - i >= 64 ? ~__mmask64{0} : (__mmask64{1} << (bytes - i)) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(m, src + i);
    // Bit 6 of each byte picks between the two tables of a pair, bit 7 between the pairs.
    const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
    const __m512i looked = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    _mm512_mask_storeu_epi8(out + i, m, _mm512_and_si512(looked, keep));
  }
}

// Sixteen pixels per step, and VNNI's vpdpwssd multiplies and accumulates in one instruction.
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void VerticalAvx512(
    const int16_t* const* rows, const int16_t* weights, int taps, int count, uint8_t* out) {
  const __m512i zero = _mm512_setzero_si512();
  // In-lane packing leaves the eight quarters as 0 4 1 5 2 6 3 7 of the pixel order.
  const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
  const __m512i keep = _mm512_set1_epi32(0x00FFFFFF);
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const int j = i * 4;
    __m512i acc0 = _mm512_set1_epi32(1 << (kVerticalShift - 1));
    __m512i acc1 = acc0, acc2 = acc0, acc3 = acc0;
    for (int t = 0; t < taps; t += 2) {
      const int16_t* ra = rows[t] + j;
      const __m512i a0 = _mm512_loadu_si512(ra), a1 = _mm512_loadu_si512(ra + 32);
      __m512i b0 = zero, b1 = zero, w;
      if (t + 1 < taps) {
        const int16_t* rb = rows[t + 1] + j;
        b0 = _mm512_loadu_si512(rb);
        b1 = _mm512_loadu_si512(rb + 32);
        w = _mm512_set1_epi32(WeightPair(weights + t));
      } else {
        w = _mm512_set1_epi32(static_cast<uint16_t>(weights[t]));
      }
      acc0 = _mm512_dpwssd_epi32(acc0, _mm512_unpacklo_epi16(a0, b0), w);
      acc1 = _mm512_dpwssd_epi32(acc1, _mm512_unpackhi_epi16(a0, b0), w);
      acc2 = _mm512_dpwssd_epi32(acc2, _mm512_unpacklo_epi16(a1, b1), w);
      acc3 = _mm512_dpwssd_epi32(acc3, _mm512_unpackhi_epi16(a1, b1), w);
    }
    const __m512i lo = _mm512_packs_epi32(_mm512_srai_epi32(acc0, kVerticalShift),
                                          _mm512_srai_epi32(acc1, kVerticalShift));
    const __m512i hi = _mm512_packs_epi32(_mm512_srai_epi32(acc2, kVerticalShift),
                                          _mm512_srai_epi32(acc3, kVerticalShift));
    const __m512i bytes = _mm512_permutexvar_epi64(order, _mm512_packus_epi16(lo, hi));
    _mm512_storeu_si512(out + j, _mm512_and_si512(bytes, keep));
  }
  VerticalAvx2From(rows, weights, taps, i, count, out);
}

// Four target pixels per step, their weights in one register: four taps (every enlargement)
// or eight (halving); other counts go to AVX2.
template <int kTaps>
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void HorizontalAvx512Taps(
    const uint8_t* src, int count, const int32_t* first, const int16_t* weights, int16_t* out) {
  constexpr int kPairs = kTaps / 2;  // weight pairs per target pixel
  const __m512i spread01 = _mm512_broadcast_i32x4(Spread(0));
  const __m512i spread23 = _mm512_broadcast_i32x4(Spread(8));
  // Lane n takes pixel n's pair p from the register of all four pixels' pairs.
  const __m512i lanePairs =
      _mm512_setr_epi32(0, 0, 0, 0, kPairs, kPairs, kPairs, kPairs, 2 * kPairs, 2 * kPairs,
                        2 * kPairs, 2 * kPairs, 3 * kPairs, 3 * kPairs, 3 * kPairs, 3 * kPairs);
  const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    __m512i sums[2];
    for (int k = 0; k < 2; ++k) {
      const int a = i + 4 * k;
      const __m512i w = kTaps == 8 ? _mm512_loadu_si512(weights + a * 8)
                                   : _mm512_castsi256_si512(_mm256_loadu_si256(
                                         reinterpret_cast<const __m256i*>(weights + a * kTaps)));
      __m512i acc = _mm512_set1_epi32(1 << (kHorizontalShift - 1));
      for (int g = 0; g < kTaps; g += 4) {
        auto window = [&](int n) {
          return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (first[a + n] + g) * 4));
        };
        __m512i px = _mm512_castsi128_si512(window(0));
        px = _mm512_inserti32x4(px, window(1), 1);
        px = _mm512_inserti32x4(px, window(2), 2);
        px = _mm512_inserti32x4(px, window(3), 3);
        const __m512i pick01 = _mm512_add_epi32(lanePairs, _mm512_set1_epi32(g / 2));
        const __m512i pick23 = _mm512_add_epi32(lanePairs, _mm512_set1_epi32(g / 2 + 1));
        acc = _mm512_dpwssd_epi32(acc, _mm512_shuffle_epi8(px, spread01),
                                  _mm512_permutexvar_epi32(pick01, w));
        acc = _mm512_dpwssd_epi32(acc, _mm512_shuffle_epi8(px, spread23),
                                  _mm512_permutexvar_epi32(pick23, w));
      }
      sums[k] = _mm512_srai_epi32(acc, kHorizontalShift);
    }
    // Lane n holds pixels n and n + 4: the permute puts the quarters back in pixel order.
    _mm512_storeu_si512(out + i * 4,
                        _mm512_permutexvar_epi64(order, _mm512_packs_epi32(sums[0], sums[1])));
  }
  if (i < count) HorizontalAvx2(src, count - i, kTaps, first + i, weights + i * kTaps, out + i * 4);
}

__attribute__((target("avx512f,avx512bw,avx512vnni"))) void HorizontalAvx512(const uint8_t* src,
                                                                             int count, int taps,
                                                                             const int32_t* first,
                                                                             const int16_t* weights,
                                                                             int16_t* out) {
  if (taps == 4)
    HorizontalAvx512Taps<4>(src, count, first, weights, out);
  else if (taps == 8)
    HorizontalAvx512Taps<8>(src, count, first, weights, out);
  else
    HorizontalAvx2(src, count, taps, first, weights, out);
}

#endif

}  // namespace

const RowKernels& PlainKernels() {
  static const RowKernels kernels{HorizontalPlain, VerticalPlain, CopyPlain};
  return kernels;
}

const RowKernels* Sse2Kernels() {
#ifdef OMBRIX_X86
  static const RowKernels kernels{HorizontalSse2, VerticalSse2, CopyPlain};
  return &kernels;
#else
  return nullptr;
#endif
}

const RowKernels* Avx2Kernels() {
#ifdef OMBRIX_X86
  static const RowKernels kernels{HorizontalAvx2, VerticalAvx2, CopyPlain};
  return __builtin_cpu_supports("avx2") ? &kernels : nullptr;
#else
  return nullptr;
#endif
}

const RowKernels* Avx512Kernels() {
#ifdef OMBRIX_X86
  static const RowKernels kernels{HorizontalAvx512, VerticalAvx512, CopyAvx512};
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                 __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
                 __builtin_cpu_supports("avx512vnni")
             ? &kernels
             : nullptr;
#else
  return nullptr;
#endif
}

}  // namespace ombrix::resample
