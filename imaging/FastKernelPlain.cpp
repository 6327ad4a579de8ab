// The plain path of the fast kernel passes: four lanes of GCC vectors, which every target
// compiles (SSE2 on x86-64, NEON on ARM, scalar code elsewhere). On x86-64 the multiply-add is
// SSE2's pmaddwd; elsewhere it is spelt out.
#include "FastKernelBands.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombrix {
namespace {

struct Plain : IsaBase<4, 4> {
  static I MulAdd(I acc, I pairs, I weights) {
#if defined(__SSE2__)
    return acc + __builtin_bit_cast(I, _mm_madd_epi16(__builtin_bit_cast(__m128i, pairs),
                                                      __builtin_bit_cast(__m128i, weights)));
#else
    // Sign-extend each half; the shifts are arithmetic on int32_t lanes.
    const I lowPairs = (pairs << 16) >> 16;
    const I lowWeights = (weights << 16) >> 16;
    return acc + lowPairs * lowWeights + (pairs >> 16) * (weights >> 16);
#endif
  }
};

}  // namespace

const TKernelIsaImpl kKernelPlain = {Plain::kLanes, Plain::kRows, kMaxFoldedHalf, &RunBand<Plain>};

}  // namespace ombrix
