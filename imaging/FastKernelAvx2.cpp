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
