// The AVX2 path of the fast kernel passes: eight lanes, vpmaddwd. Compiled with -mavx2 and run
// only where the processor has AVX2.
#include <immintrin.h>

#include "FastKernelBands.h"

namespace ombrix {
namespace {

struct Avx2 : IsaBase<8, 4> {
  static I MulAdd(I acc, I pairs, I weights) {
    return acc + __builtin_bit_cast(I, _mm256_madd_epi16(__builtin_bit_cast(__m256i, pairs),
                                                         __builtin_bit_cast(__m256i, weights)));
  }

  // One byte shuffle: byte 4i + kCh of each 128-bit block to byte 4i (or 4i + 2), zeros
  // elsewhere.
  template <int kCh, bool kHigh>
  static I Channel(I p) {
    const auto order = [](int i) {
      const uint32_t from = static_cast<uint32_t>(4 * i + kCh);
      return static_cast<int>(kHigh ? 0x80008080u | from << 16 : 0x80808000u | from);
    };
    const __m256i orders = _mm256_setr_epi32(order(0), order(1), order(2), order(3), order(0),
                                             order(1), order(2), order(3));
    return __builtin_bit_cast(I, _mm256_shuffle_epi8(__builtin_bit_cast(__m256i, p), orders));
  }

  static I Halves(I high, I low) {
    return __builtin_bit_cast(I, _mm256_blend_epi16(__builtin_bit_cast(__m256i, high),
                                                    __builtin_bit_cast(__m256i, low), 0x55));
  }

  // The spread sweep's weighted row sums of two lane vectors of six planes each, w[0..5] the
  // weight pairs of one row distance. The twelve planes, the two sums, a weight and a product
  // take all sixteen registers; GCC's own allocation keeps half the planes on the stack and
  // reads them again for every distance, which makes the loop wait on loads. The weights are
  // memory operands, so that the compiler addresses them from one register for every distance
  // and knows that nothing else in memory is read.
  static void RowSumsOfTwo(I* h, const I (&planes)[2][6], const int32_t* w) {
    I ha;
    I hb;
    I wr;
    I t;
    asm("vpbroadcastd %[w0], %[wr]\n\t"
        "vpmaddwd %[a0], %[wr], %[ha]\n\t"
        "vpmaddwd %[b0], %[wr], %[hb]\n\t"
        "vpbroadcastd %[w1], %[wr]\n\t"
        "vpmaddwd %[a1], %[wr], %[t]\n\t"
        "vpaddd %[t], %[ha], %[ha]\n\t"
        "vpmaddwd %[b1], %[wr], %[t]\n\t"
        "vpaddd %[t], %[hb], %[hb]\n\t"
        "vpbroadcastd %[w2], %[wr]\n\t"
        "vpmaddwd %[a2], %[wr], %[t]\n\t"
        "vpaddd %[t], %[ha], %[ha]\n\t"
        "vpmaddwd %[b2], %[wr], %[t]\n\t"
        "vpaddd %[t], %[hb], %[hb]\n\t"
        "vpbroadcastd %[w3], %[wr]\n\t"
        "vpmaddwd %[a3], %[wr], %[t]\n\t"
        "vpaddd %[t], %[ha], %[ha]\n\t"
        "vpmaddwd %[b3], %[wr], %[t]\n\t"
        "vpaddd %[t], %[hb], %[hb]\n\t"
        "vpbroadcastd %[w4], %[wr]\n\t"
        "vpmaddwd %[a4], %[wr], %[t]\n\t"
        "vpaddd %[t], %[ha], %[ha]\n\t"
        "vpmaddwd %[b4], %[wr], %[t]\n\t"
        "vpaddd %[t], %[hb], %[hb]\n\t"
        "vpbroadcastd %[w5], %[wr]\n\t"
        "vpmaddwd %[a5], %[wr], %[t]\n\t"
        "vpaddd %[t], %[ha], %[ha]\n\t"
        "vpmaddwd %[b5], %[wr], %[t]\n\t"
        "vpaddd %[t], %[hb], %[hb]"
        : [ha] "=&x"(ha), [hb] "=&x"(hb), [wr] "=&x"(wr), [t] "=&x"(t)
        : [a0] "x"(planes[0][0]), [a1] "x"(planes[0][1]), [a2] "x"(planes[0][2]),
          [a3] "x"(planes[0][3]), [a4] "x"(planes[0][4]), [a5] "x"(planes[0][5]),
          [b0] "x"(planes[1][0]), [b1] "x"(planes[1][1]), [b2] "x"(planes[1][2]),
          [b3] "x"(planes[1][3]), [b4] "x"(planes[1][4]), [b5] "x"(planes[1][5]), [w0] "m"(w[0]),
          [w1] "m"(w[1]), [w2] "m"(w[2]), [w3] "m"(w[3]), [w4] "m"(w[4]), [w5] "m"(w[5]));
    h[0] = ha;
    h[1] = hb;
  }

  // The clamp by saturating packs of the AVX-512 paths, on 256 bits.
  static I Compose(I blue, I green, I red) {
    const __m256i colours = _mm256_packus_epi16(
        _mm256_packs_epi32(__builtin_bit_cast(__m256i, blue), __builtin_bit_cast(__m256i, green)),
        _mm256_packs_epi32(__builtin_bit_cast(__m256i, red), _mm256_setzero_si256()));
    const __m256i order = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kComposeOrder)));
    return __builtin_bit_cast(I, _mm256_shuffle_epi8(colours, order));
  }
};

}  // namespace

const TKernelIsaImpl kKernelAvx2 = {Avx2::kLanes, Avx2::kRows, kMaxFoldedHalf, &RunBand<Avx2>};

}  // namespace ombrix
