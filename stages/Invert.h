#pragma once
// Inverted colours of the view, for people who read light on dark more easily. Any thread, on
// a view nobody else uses.

#include "Graphics.h"

namespace ombrix {

// Every blue, green and red byte v of `view` becomes 255 - v; the fourth byte of a 32-bit
// picture stays. An empty picture is left alone.
void InvertColours(TBitmap& view);

}  // namespace ombrix
