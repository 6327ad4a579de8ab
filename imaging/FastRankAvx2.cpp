// The AVX2 path of the fast kernel-less passes: the same rows, vectorised for AVX2.
#include "FastRankRows.h"

namespace ombrix {

const TRankIsaImpl kRankAvx2 = {&PrepareRows, &FinishRows, &MosaicTileRows};

}  // namespace ombrix
