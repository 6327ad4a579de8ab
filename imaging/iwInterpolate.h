#pragma once
// The resampling kind a geometric transform would use. The library holds the choice and copies
// it; nothing in it resamples.

#include <cstdint>

namespace ombrix {

enum TResample : uint8_t { rsNearestNeighbor, rsBilinear, rsBicubic };

}  // namespace ombrix
