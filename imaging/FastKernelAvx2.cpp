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
};

}  // namespace

const TKernelIsaImpl kKernelAvx2 = {Avx2::kLanes, Avx2::kRows, kMaxFoldedHalf, &RunBand<Avx2>};

}  // namespace ombrix
