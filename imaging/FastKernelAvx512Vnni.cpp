// The AVX-512 VNNI path of the fast kernel passes: sixteen lanes, the multiply-add and the
// accumulation in one vpdpwssd. Compiled with -mavx512f -mavx512bw -mavx512vnni and run only
// where the processor has all three.
#include <immintrin.h>

#include "FastKernelBands.h"

namespace ombrix {
namespace {

struct Avx512Vnni : Avx512Base {
  static I MulAdd(I acc, I pairs, I weights) {
    return __builtin_bit_cast(
        I, _mm512_dpwssd_epi32(__builtin_bit_cast(__m512i, acc), __builtin_bit_cast(__m512i, pairs),
                               __builtin_bit_cast(__m512i, weights)));
  }
};

}  // namespace

const TKernelIsaImpl kKernelAvx512Vnni = {Avx512Vnni::kLanes, Avx512Vnni::kRows, kMaxFoldedHalf,
                                          &RunBand<Avx512Vnni>};

}  // namespace ombrix
