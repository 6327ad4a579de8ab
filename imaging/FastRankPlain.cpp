// The plain path of the fast kernel-less passes: what every processor runs (SSE2 on x86-64).
#include "FastRankRows.h"

namespace ombrix {

const TRankIsaImpl kRankPlain = {&PrepareRows, &FinishRows, &MosaicTileRows};

}  // namespace ombrix
