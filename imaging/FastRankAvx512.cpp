// The AVX-512 path of the fast kernel-less passes: the same rows, vectorised for AVX-512.
#include "FastRankRows.h"

namespace ombrix {

const TRankIsaImpl kRankAvx512 = {&PrepareRows, &FinishRows, &MosaicTileRows};

}  // namespace ombrix
