// The AVX-512 path of the fast kernel passes: sixteen lanes, vpmaddwd on 512-bit registers.
// Compiled with -mavx512f -mavx512bw and run only where the processor has both.
#include <immintrin.h>

#include "FastKernelBands.h"

namespace ombrix {
namespace {

struct Avx512 : Avx512Base {
  static I MulAdd(I acc, I pairs, I weights) {
    return acc + __builtin_bit_cast(I, _mm512_madd_epi16(__builtin_bit_cast(__m512i, pairs),
                                                         __builtin_bit_cast(__m512i, weights)));
  }
};

}  // namespace

const TKernelIsaImpl kKernelAvx512 = {Avx512::kLanes, Avx512::kRows, kMaxFoldedHalf,
                                      &RunBand<Avx512>};

}  // namespace ombrix
